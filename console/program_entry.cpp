#include "console/program_entry.h"

#include <cstdio>

#include "console/command_loop.h"
#include "console/listing.h"
#include "core/debug_core.h"
#include "core/exec_control.h"

int dbg32_main(int argc, char **argv) {
    if (argc != 2)
        return 3;
    target_command_line = argv[1];

    void *library = plat_load_library("disasm.dll");
    if (library == nullptr)
        return 2;
    disasm_fn = reinterpret_cast<disasm_routine>(plat_find_export(library, "Disasm"));
    if (disasm_fn == nullptr)
        return 3;

    if (debug_core_init() != 0) {
        printf("...Error inializing of debug core...\n");
        return 1;
    }
    if (!debug_start_thread())
        return 2;

    command_loop();
    return 0;
}
