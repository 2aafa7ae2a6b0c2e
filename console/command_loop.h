// The console: prompt, line read, dispatch of the command table.
#pragma once

#include <cstdint>

const uint32_t COMMAND_BUFFER_SIZE = 256;

extern char command_buffer[COMMAND_BUFFER_SIZE];

// Runs until "exit" or the end of standard input.
void command_loop();

// Runs the command now in command_buffer; false when the loop is to end ("exit").
bool dispatch_command();

// Ends the debug thread, then asks for one key press (the console half of "exit").
void console_exit();
