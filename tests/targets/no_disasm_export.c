/* A library with an export, but not the one the debugger looks for. */
__declspec(dllexport) int Disassemble(void) {
    return 0;
}
