#include "console/command_loop.h"

#include <cstdio>
#include <cstring>

#include "breakpoints/bp_ops.h"
#include "console/line_reader.h"
#include "console/listing.h"
#include "console/parsers.h"
#include "core/debug_loop.h"
#include "core/exec_control.h"

char command_buffer[COMMAND_BUFFER_SIZE];

enum match_kind : uint8_t { MATCH_PREFIX, MATCH_WHOLE_LINE };

// Whether the loop reads another line after the row's handler. The row says so itself:
// handlers that do the same thing may share one address (a linker may fold identical
// functions), so the loop never tells rows apart by their handlers.
enum row_end : uint8_t { LOOP_GOES_ON, LOOP_ENDS };

struct command_row {
    const char *pattern;
    match_kind kind;
    void (*handler)();
    row_end end = LOOP_GOES_ON;
};

static void cmd_hex() {
    uint32_t value = 0;
    uint8_t code = hexstr_to_uint(command_buffer + 4, &value);
    if (code == 0)
        printf("number is = %08X\n", value);
    else
        printf("error \xB9%d\n", code);
}

static void cmd_dec() {
    uint32_t value = 0;
    uint8_t code = decstr_to_uint(command_buffer + 4, &value);
    if (code == 0)
        printf("number is = %08u\n", value);
    else
        printf("error \xB9%d\n", code);
}

static void cmd_stop() {
    debug_stop();
}
static void cmd_resume() {
    debug_resume();
}
static void cmd_cont() {
    debug_continue(0);
}
static void cmd_thrd() {}

// "exit" does its work once the loop has ended (console_exit).
static void cmd_exit() {}

static const command_row command_table[] = {
    {"dis ", MATCH_PREFIX, cmd_dis},
    {"dump", MATCH_PREFIX, cmd_dump},
    {"b ", MATCH_PREFIX, cmd_break_set},
    {"d ", MATCH_PREFIX, cmd_break_remove},
    {"hex ", MATCH_PREFIX, cmd_hex},
    {"dec ", MATCH_PREFIX, cmd_dec},
    {"exit", MATCH_WHOLE_LINE, cmd_exit, LOOP_ENDS},
    {"rest", MATCH_WHOLE_LINE, cmd_rest},
    {"stop", MATCH_WHOLE_LINE, cmd_stop},
    {"resume", MATCH_WHOLE_LINE, cmd_resume},
    {"cont", MATCH_WHOLE_LINE, cmd_cont},
    {"thrd", MATCH_WHOLE_LINE, cmd_thrd},
};

static bool row_matches(const command_row &row) {
    if (row.kind == MATCH_WHOLE_LINE)
        return strcmp(command_buffer, row.pattern) == 0;
    return strncmp(command_buffer, row.pattern, strlen(row.pattern)) == 0;
}

static void print_event_report() {
    DEBUG_EVENT copy;
    uint8_t notification = debug_poll_event(&copy);
    if (notification == POLL_EXITED)
        printf("Process with PID 0x%04X terminated, existing code = 0x%04X\n",
               static_cast<unsigned>(copy.dwProcessId),
               static_cast<unsigned>(copy.u.ExitProcess.dwExitCode));
    else if (notification == POLL_EXCEPTION)
        printf("Exception on addr %08X\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(
                                               copy.u.Exception.ExceptionRecord.ExceptionAddress)));
}

bool dispatch_command() {
    for (const command_row &row : command_table) {
        if (!row_matches(row))
            continue;
        row.handler();
        return row.end == LOOP_GOES_ON;
    }
    puts("...unknown command...");
    print_event_report();
    return true;
}

// Whether a person can answer the key prompt. A console without a window cannot be typed
// into: one created with CREATE_NO_WINDOW names no window, or (Windows 10 1809) a value that is
// no window, so the window is tested, not just its name. Nor can a console on a window station
// without visible display surfaces (a service's), nor one in session 0 from Windows Vista on,
// where services run (on XP the first user logs on there). Where nobody can press a key, a
// scripted session would otherwise never end. A hidden console window keeps the wait: the
// stand-in window of a pseudoconsole, which a terminal types into, is hidden too, and nothing
// the system documents tells the two apart.
static bool person_at_console() {
    console_facts facts;
    plat_console_facts(&facts);
    if (!facts.attached || !plat_is_window(facts.window) || !facts.visible_station)
        return false;
    uint32_t major = 0;
    uint32_t minor = 0;
    bool sessions_isolated = plat_get_version(&major, &minor) && major >= 6;
    return !(sessions_isolated && facts.session_id == 0);
}

void console_exit() {
    debug_end_thread();
    puts("...press any key for exit...");
    fflush(stdout);
    if (person_at_console())
        plat_wait_key();
}

void command_loop() {
    for (;;) {
        putchar('>');
        // Flushed before every read, so that a script on a pipe sees the prompt.
        fflush(stdout);
        line_read_result result = read_command_line(stdin, command_buffer);
        if (result == LINE_END_OF_INPUT)
            break;
        if (result == LINE_TOO_LONG) {
            printf("...command too long (over %u characters), ignored...\n",
                   static_cast<unsigned>(COMMAND_LINE_MAX));
            continue;
        }
        if (!dispatch_command())
            break;
    }
    console_exit();
}
