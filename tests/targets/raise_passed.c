/* Raises exception 0x6BA, survives it through its own handler, and ends with 0x77. */
#include <windows.h>

static volatile LONG handled;

static LONG CALLBACK on_exception(EXCEPTION_POINTERS *info) {
    if (info->ExceptionRecord->ExceptionCode == 0x6BA) {
        handled = 1;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

int main(void) {
    AddVectoredExceptionHandler(1, on_exception);
    RaiseException(0x6BA, 0, 0, NULL);
    return handled ? 0x77 : 0x55;
}
