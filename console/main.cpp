#include "console/program_entry.h"

int main(int argc, char **argv) {
    return dbg32_main(argc, argv);
}
