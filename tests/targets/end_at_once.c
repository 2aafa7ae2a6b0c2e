/* Ends at once with a known exit code. */
int main(void) { return 0x1234; }
