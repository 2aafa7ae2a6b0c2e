/* Ends at once with a known exit code. `never_called` is code that no run executes,
   where a breakpoint can stay until the end. */
void never_called(void) {}

int main(void) {
    return 0x1234;
}
