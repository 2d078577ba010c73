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
            if (m_pipe) return true;
            const DWORD error = ::GetLastError();
            const DWORD waited = ::GetTickCount() - start;
            if (waited >= kConnectPatienceMs) return false;
            if (error == ERROR_PIPE_BUSY) {
                ::WaitNamedPipeW(m_name.c_str(), kConnectPatienceMs - waited);
            } else if (error == ERROR_FILE_NOT_FOUND) {
                ::Sleep(50);
            } else {
                return false;
            }
        }
    }

    const std::wstring m_name;
    CFileHandle m_pipe;
};
