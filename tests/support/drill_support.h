// What the reliability drills share: the supervisor's resource figures seen
// from outside, a client of its output pipe, the log view's lines, and the
// switch between the short drills of a normal test run and the long ones of
// a soak run (TOLLVANE_SOAK=1).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "names/name_rules.h"
#include "tests/support/e2e_support.h"

namespace e2e {

inline bool SoakRun() {
    const char* value = std::getenv("TOLLVANE_SOAK");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

// The short figure in a test run, the long one in a soak run.
template <typename T>
T Scaled(T shortRun, T soakRun) {
    return SoakRun() ? soakRun : shortRun;
}

// One client of the supervisor's output pipe: connects patiently but within
// a bound, writes one message per call.
class PipeClient {
public:
    explicit PipeClient(std::wstring name) : m_name(std::move(name)) {}
    ~PipeClient() { Close(); }
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;

    bool Connect(Millis timeout = 10s) {
        Close();
        const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
        for (;;) {
            m_hPipe = ::CreateFileW(m_name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (m_hPipe != INVALID_HANDLE_VALUE) return true;
            const DWORD error = ::GetLastError();
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) return false;
            if (error == ERROR_PIPE_BUSY)
                ::WaitNamedPipeW(m_name.c_str(),
                                 static_cast<DWORD>(deadline - now < 500 ? deadline - now : 500));
            else
                ::Sleep(10);
        }
    }
    bool Connected() const { return m_hPipe != INVALID_HANDLE_VALUE; }
    // One message; false (and the connection dropped) when it did not go whole.
    bool Write(const std::string& message) {
        if (!Connected()) return false;
        DWORD written = 0;
        if (::WriteFile(m_hPipe, message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
            written == message.size())
            return true;
        Close();
        return false;
    }
    void Close() {
        if (m_hPipe != INVALID_HANDLE_VALUE) ::CloseHandle(m_hPipe);
        m_hPipe = INVALID_HANDLE_VALUE;
    }

private:
    std::wstring m_name;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
};

inline std::wstring SupervisorPipeName(const TempInstall& install) {
    return MakePipeName(install.AgentPath());
}

// The log view's text, split at its line breaks.
inline std::set<std::string> LogLines(HWND hDlg) {
    const std::string text = Narrow(ReadWindowText(::GetDlgItem(hDlg, 1000)));
    std::set<std::string> lines;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.insert(line);
        pos = end + 1;
    }
    return lines;
}

// How many of the lines are in the view; waits up to timeout for all of them.
inline size_t WaitForLogLines(HWND hDlg, const std::vector<std::string>& wanted, Millis timeout) {
    size_t shown = 0;
    WaitUntil(
        [&] {
            const std::set<std::string> lines = LogLines(hDlg);
            shown = 0;
            for (const std::string& w : wanted) shown += lines.count(w);
            return shown == wanted.size();
        },
        timeout, 50ms);
    return shown;
}

inline void PrintFigure(const char* drill, const std::string& text) {
    std::printf("[drill] %s: %s\n", drill, text.c_str());
    std::fflush(stdout);
}

}  // namespace e2e
