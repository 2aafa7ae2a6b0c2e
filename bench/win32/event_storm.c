/* A debuggee that raises many debug events on which a debugger does not stop. Each
   round creates a thread and waits for its end, sends a debug string, and raises
   exception 0x6BA, which it survives through its own vectored handler.

     event_storm.exe [ROUNDS [RING INDEX COUNT]]

   ROUNDS defaults to 1000; 0 starts and ends at once. With RING, COUNT processes of one
   run take turns: each runs bursts of BURST_ROUNDS rounds, and process INDEX runs only
   while it holds the turn, which it then hands to the next. Their bursts alternate on
   the machine, so that noise from elsewhere falls on all of them alike.

   It times its rounds itself (its turns' waits left out) and ends with that time in
   microseconds as its exit code, which a debugger reports; a process's exit status under
   Wine keeps only 8 bits, so without a debugger it also prints it. Exit code 0xFFFFFFFF:
   a round failed (no thread, or its exception lost); 0xFFFFFFFE: the ring could not be
   joined, or the turn did not come in time.

   cold_code is never executed: a large area of known instructions to set breakpoints
   on and to list. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#define PASSED_EXCEPTION 0x6BA
#define ROUND_FAILED 0xFFFFFFFFu
#define RING_FAILED 0xFFFFFFFEu
#define BURST_ROUNDS 20
#define MAX_RING 8
#define TURN_TIMEOUT_MS 60000

static volatile LONG handled;

__asm__(".text\n"
        ".globl _cold_code\n"
        "_cold_code:\n"
        ".rept 96\n" /* 18 bytes each, 1728 in all */
        "    push %ebp\n"
        "    mov %esp, %ebp\n"
        "    sub $0x10, %esp\n"
        "    mov 8(%ebp), %eax\n"
        "    add $0x12345678, %eax\n"
        "    xor %eax, %eax\n"
        "    leave\n"
        "    ret\n"
        ".endr\n");

static LONG CALLBACK on_exception(EXCEPTION_POINTERS *info) {
    if (info->ExceptionRecord->ExceptionCode != PASSED_EXCEPTION)
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&handled);
    return EXCEPTION_CONTINUE_EXECUTION;
}

static DWORD WINAPI short_thread(void *unused) {
    (void)unused;
    return 0;
}

static BOOL one_round(void) {
    HANDLE thread = CreateThread(NULL, 0, short_thread, NULL, 0, NULL);
    if (thread == NULL)
        return FALSE;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    OutputDebugStringA("event_storm round\n");
    RaiseException(PASSED_EXCEPTION, 0, 0, NULL);
    return TRUE;
}

static unsigned long long now_us(void) {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (unsigned long long)count.QuadPart * 1000000ull / (unsigned long long)frequency.QuadPart;
}

/* The ring's turns: auto-reset events RING.0 .. RING.(COUNT-1). */
static HANDLE turns[MAX_RING];
static int ring_index, ring_count;

static BOOL join_ring(const char *ring, int index, int count) {
    if (index < 0 || count < 1 || count > MAX_RING || index >= count)
        return FALSE;
    ring_index = index;
    ring_count = count;
    char name[MAX_PATH];
    for (int i = 0; i < count; i++) {
        snprintf(name, sizeof name, "%s.%d", ring, i);
        turns[i] = CreateEventA(NULL, FALSE, FALSE, name);
        if (turns[i] == NULL)
            return FALSE;
    }
    /* The last one to join starts the first turn, whatever its index: nobody's bursts
       run while the others are still starting up. The semaphore counts the members that
       joined; it lives while a member holds it open, so nobody closes it. */
    snprintf(name, sizeof name, "%s.joined", ring);
    HANDLE joined = CreateSemaphoreA(NULL, 0, count, name);
    LONG before = 0;
    if (joined == NULL || !ReleaseSemaphore(joined, 1, &before))
        return FALSE;
    if (before == count - 1)
        SetEvent(turns[0]);
    return TRUE;
}

static BOOL wait_turn(void) {
    return ring_count == 0 ||
           WaitForSingleObject(turns[ring_index], TURN_TIMEOUT_MS) == WAIT_OBJECT_0;
}

static void pass_turn(void) {
    if (ring_count != 0)
        SetEvent(turns[(ring_index + 1) % ring_count]);
}

int main(int argc, char **argv) {
    long rounds = argc > 1 ? strtol(argv[1], NULL, 10) : 1000;
    if (argc > 2 && (argc != 5 || !join_ring(argv[2], atoi(argv[3]), atoi(argv[4]))))
        ExitProcess(RING_FAILED);
    AddVectoredExceptionHandler(1, on_exception);

    unsigned long long busy = 0;
    for (long done = 0; done < rounds;) {
        if (!wait_turn())
            ExitProcess(RING_FAILED);
        long burst = rounds - done;
        if (ring_count != 0 && burst > BURST_ROUNDS)
            burst = BURST_ROUNDS;
        unsigned long long start = now_us();
        for (long i = 0; i < burst; i++)
            if (!one_round())
                ExitProcess(ROUND_FAILED);
        busy += now_us() - start;
        done += burst;
        pass_turn();
    }

    UINT code = handled == rounds ? (UINT)busy : ROUND_FAILED;
    if (!IsDebuggerPresent()) {
        printf("event_storm: %ld rounds, %ld exceptions handled, %llu us\n", rounds, (long)handled,
               busy);
        fflush(stdout);
    }
    ExitProcess(code);
}
