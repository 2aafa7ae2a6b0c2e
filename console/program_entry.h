// Program start-up: argument, decoder library, debug core, debug thread, console.
#pragma once

// Exit codes: 0 after "exit"; 1 debug core refused; 2 no decoder library or no debug
// thread; 3 not exactly one argument, or the library has no Disasm.
int dbg32_main(int argc, char **argv);
