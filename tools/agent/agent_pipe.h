// What every agent of ours does to reach its supervisor: it finds the output
// pipe by the name rule applied to its own full path and writes one message
// per line of output. Shared by the demo agent and the test agent.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "names/name_rules.h"
#include "framework/handle.h"

inline std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

inline std::wstring DirectoryOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// True unless the pipe is served by another process than the supervisor that
// started us (QUORVEL_SUPERVISOR_PID): another program that took the pipe's
// name first must not get our output. Where the system cannot say (before
// Windows Vista), or no supervisor started us, the pipe is taken as it is.
inline bool ServedByOurSupervisor(HANDLE hPipe) {
    wchar_t text[16] = {};
    if (::GetEnvironmentVariableW(L"QUORVEL_SUPERVISOR_PID", text, 16) == 0) return true;
    using ServerIdFn = BOOL(WINAPI*)(HANDLE, PULONG);
    // Not in every kernel32 the 32-bit build starts on.
    const auto serverId = reinterpret_cast<ServerIdFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeServerProcessId")));
    if (serverId == nullptr) return true;
    // By hand: the C runtime's wcstoul is one more import to check on old systems.
    ULONG supervisor = 0;
    for (const wchar_t* digit = text; *digit >= L'0' && *digit <= L'9'; ++digit)
        supervisor = supervisor * 10 + static_cast<ULONG>(*digit - L'0');
    ULONG server = 0;
    return serverId(hPipe, &server) && server == supervisor;
}

// The client end of the output pipe. Connecting is patient but bounded: the
// supervisor may be between two pipe instances, or not there at all.
class CPipeWriter {
public:
    static constexpr DWORD kConnectPatienceMs = 2000;

    explicit CPipeWriter(const std::wstring& agentPath) : m_name(MakePipeName(agentPath)) {}

    bool Send(std::string_view message) {
        if (message.empty() || !Connect()) return false;
        DWORD written = 0;
        if (::WriteFile(m_pipe.get(), message.data(), static_cast<DWORD>(message.size()), &written,
                        nullptr) &&
            written == message.size()) {
            return true;
        }
        m_pipe.reset();  // the server went away; the next message connects afresh
        return false;
    }

private:
    bool Connect() {
        if (m_pipe) return true;
        const DWORD start = ::GetTickCount();
        for (;;) {
            // Identification only: whoever serves the name can learn who we are, but
            // never act as us.
            m_pipe.reset(::CreateFileW(m_name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
            const DWORD error = m_pipe ? ERROR_SUCCESS : ::GetLastError();
            if (m_pipe && ServedByOurSupervisor(m_pipe.get())) return true;
            // Another program holds the name: nothing goes to it.
            m_pipe.reset();
            const DWORD waited = ::GetTickCount() - start;
            if (waited >= kConnectPatienceMs) return false;
            if (error == ERROR_PIPE_BUSY) {
                ::WaitNamedPipeW(m_name.c_str(), kConnectPatienceMs - waited);
            } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_SUCCESS) {
                ::Sleep(50);
            } else {
                return false;
            }
        }
    }

    const std::wstring m_name;
    CFileHandle m_pipe;
};
