// A complete minimal agent in C++: it finds the supervisor's output pipe from
// its own path and writes its output there, one message per line. When the
// supervisor asks it to end (Ctrl+C), it says goodbye, flushes and exits.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// Set when the supervisor asks us to end; the main loop waits on it.
HANDLE g_stop = nullptr;

// Runs on a thread of its own: only signal the loop, which does the work.
BOOL WINAPI OnConsoleCtrl(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    ::SetEvent(g_stop);
    return TRUE;
}

// "\\.\pipe\" + own path with \ : / turned into _ + the fixed suffix.
std::wstring PipeNameFor(std::wstring path) {
    for (wchar_t& ch : path) {
        if (ch == L'\\' || ch == L':' || ch == L'/') ch = L'_';
    }
    return L"\\\\.\\pipe\\" + path + L"_MariskAgentNamedPipe_1234567890_";
}

// True unless the pipe is served by another process than the supervisor that
// started us (QUORVEL_SUPERVISOR_PID). Where the system cannot say (before
// Windows Vista), or no supervisor started us, the pipe is taken as it is.
bool ServedByOurSupervisor(HANDLE pipe) {
    wchar_t text[16] = {};
    if (::GetEnvironmentVariableW(L"QUORVEL_SUPERVISOR_PID", text, 16) == 0) return true;
    using ServerIdFn = BOOL(WINAPI*)(HANDLE, PULONG);
    const auto serverId = reinterpret_cast<ServerIdFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeServerProcessId")));
    if (serverId == nullptr) return true;
    ULONG server = 0;
    return serverId(pipe, &server) && server == std::wcstoul(text, nullptr, 10);
}

HANDLE ConnectToSupervisor(const std::wstring& name) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        // Identification only: the server may learn who we are, never act as us.
        HANDLE pipe = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE && ServedByOurSupervisor(pipe)) return pipe;
        // Another program holds the name: write nothing to it, try again later.
        if (pipe != INVALID_HANDLE_VALUE) {
            ::CloseHandle(pipe);
            ::Sleep(1000);
            continue;
        }
        // Busy: every instance is taken for a moment; wait for the next one.
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(name.c_str(), 100);
        else
            ::Sleep(100);
    }
    return INVALID_HANDLE_VALUE;
}

// One write is one message: UTF-8, not empty, at most 4096 bytes, no zero bytes.
bool Send(HANDLE pipe, const std::string& utf8) {
    DWORD written = 0;
    return ::WriteFile(pipe, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) &&
           written == utf8.size();
}

}  // namespace

int wmain() {
    wchar_t self[4096] = {};
    ::GetModuleFileNameW(nullptr, self, 4095);
    HANDLE pipe = ConnectToSupervisor(PipeNameFor(self));
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    // Text before the first comma is dropped by the supervisor: use it for a level.
    Send(pipe, "INFO,hello from the minimal C++ agent");
    g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
    for (int tick = 1;; ++tick) {
        // A second, or less when the supervisor asks us to end: it waits 2 s.
        if (::WaitForSingleObject(g_stop, 1000) == WAIT_OBJECT_0) {
            Send(pipe, "INFO,goodbye from the minimal C++ agent");
            break;
        }
        if (!Send(pipe, "INFO,tick " + std::to_string(tick))) break;
    }
    ::FlushFileBuffers(pipe);  // until the supervisor has read what we wrote
    ::CloseHandle(pipe);
    return 0;
}
