/* Prints the handle count and the working set of the first process with the given image
   name: "handles=N working_set=N". Exit code 1 when there is no such process. */
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <tlhelp32.h>

/* The system's handle list, as NtQuerySystemInformation gives it out. */
typedef struct {
    ULONG owner_pid;
    BYTE object_type;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
} handle_entry;

typedef struct {
    ULONG count;
    handle_entry handles[1];
} handle_list;

typedef LONG(WINAPI *query_system_fn)(ULONG, PVOID, ULONG, PULONG);

/* Counts the handles that process `pid` holds; GetProcessHandleCount cannot be relied on
   for another process everywhere. */
static DWORD count_handles(DWORD pid) {
    static BYTE buffer[8 << 20];
    query_system_fn query = (query_system_fn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                                    "NtQuerySystemInformation");
    ULONG needed = 0;
    if (query == NULL || query(16, buffer, sizeof buffer, &needed) != 0)
        return 0;
    const handle_list *list = (const handle_list *)buffer;
    DWORD count = 0;
    for (ULONG i = 0; i < list->count; i++)
        if (list->handles[i].owner_pid == pid)
            count++;
    return count;
}

static DWORD find_process(const char *name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    DWORD found = 0;
    entry.dwSize = sizeof entry;
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name) == 0)
            found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    DWORD pid = find_process(argv[1]);
    if (pid == 0)
        return 1;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == NULL)
        return 1;
    DWORD handles = 0;
    PROCESS_MEMORY_COUNTERS memory;
    memset(&memory, 0, sizeof memory);
    memory.cb = sizeof memory;
    if (!GetProcessHandleCount(process, &handles) || handles == 0)
        handles = count_handles(pid);
    GetProcessMemoryInfo(process, &memory, sizeof memory);
    printf("handles=%lu working_set=%lu\n", handles, (unsigned long)memory.WorkingSetSize);
    CloseHandle(process);
    return 0;
}
