/* A complete minimal agent in C: it finds the supervisor's output pipe from
   its own path and writes its output there, one message per line. When the
   supervisor asks it to end (Ctrl+C), it says goodbye, flushes and exits. */
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

static const wchar_t kSuffix[] = L"_MariskAgentNamedPipe_1234567890_";

/* "\\.\pipe\" + own path with \ : / turned into _ + the fixed suffix. */
static void pipe_name_for(const wchar_t* path, wchar_t* name, size_t capacity) {
    size_t i;
    _snwprintf(name, capacity, L"\\\\.\\pipe\\%ls%ls", path, kSuffix);
    name[capacity - 1] = L'\0';
    for (i = wcslen(L"\\\\.\\pipe\\"); name[i] != L'\0'; ++i) {
        if (name[i] == L'\\' || name[i] == L':' || name[i] == L'/') name[i] = L'_';
    }
}

/* True unless the pipe is served by another process than the supervisor that
   started us (QUORVEL_SUPERVISOR_PID). Where the system cannot say (before
   Windows Vista), or no supervisor started us, the pipe is taken as it is. */
typedef BOOL(WINAPI* server_id_fn)(HANDLE, PULONG);
static int served_by_our_supervisor(HANDLE pipe) {
    wchar_t text[16] = {0};
    ULONG server = 0;
    server_id_fn server_id;
    if (GetEnvironmentVariableW(L"QUORVEL_SUPERVISOR_PID", text, 16) == 0) return 1;
    server_id =
        (server_id_fn)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeServerProcessId");
    if (server_id == NULL) return 1;
    return server_id(pipe, &server) && server == wcstoul(text, NULL, 10);
}

/* Set when the supervisor asks us to end; the main loop waits on it. */
static HANDLE g_stop = NULL;

/* Runs on a thread of its own: only signal the loop, which does the work. */
static BOOL WINAPI on_console_ctrl(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    SetEvent(g_stop);
    return TRUE;
}

/* One write is one message: UTF-8, not empty, at most 4096 bytes, no zero bytes. */
static int send_message(HANDLE pipe, const char* utf8) {
    DWORD written = 0;
    DWORD length = (DWORD)strlen(utf8);
    return WriteFile(pipe, utf8, length, &written, NULL) && written == length;
}

int main(void) {
    wchar_t self[4096] = {0};
    wchar_t name[4200] = {0};
    HANDLE pipe = INVALID_HANDLE_VALUE;
    int attempt, tick;
    char line[64];

    GetModuleFileNameW(NULL, self, 4095);
    pipe_name_for(self, name, sizeof(name) / sizeof(name[0]));
    for (attempt = 0; attempt < 50 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        /* Identification only: the server may learn who we are, never act as us. */
        pipe = CreateFileW(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, NULL);
        if (pipe != INVALID_HANDLE_VALUE && served_by_our_supervisor(pipe)) break;
        if (pipe != INVALID_HANDLE_VALUE) {
            /* Another program holds the name: write nothing to it, try again later. */
            CloseHandle(pipe);
            pipe = INVALID_HANDLE_VALUE;
            Sleep(1000);
        } else if (GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeW(name, 100);
        else
            Sleep(100);
    }
    if (pipe == INVALID_HANDLE_VALUE) return 1;

    /* Text before the first comma is dropped by the supervisor: use it for a level. */
    send_message(pipe, "INFO,hello from the minimal C agent");
    g_stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    SetConsoleCtrlHandler(on_console_ctrl, TRUE);
    for (tick = 1;; ++tick) {
        /* A second, or less when the supervisor asks us to end: it waits 2 s. */
        if (WaitForSingleObject(g_stop, 1000) == WAIT_OBJECT_0) {
            send_message(pipe, "INFO,goodbye from the minimal C agent");
            break;
        }
        snprintf(line, sizeof(line), "INFO,tick %d", tick);
        if (!send_message(pipe, line)) break;
    }
    FlushFileBuffers(pipe); /* until the supervisor has read what we wrote */
    CloseHandle(pipe);
    return 0;
}
