// What the end-to-end tests read and steer: the test agent's run log
// (agent-runs.log beside each copy) and its script, the supervisor's process
// figures, and the set-up most tests begin with (RunningInstall).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"
#include "tests/support/e2e_support.h"

namespace e2e {

// One line of agent-runs.log: "<kind> pid=N t=MICROSECONDS key=value ...";
// for "start" lines cwd= and cmd= come last and run to the line's end.
struct AgentEvent {
    std::string kind;  // start, exit, crash, spawn, spawnfailed
    DWORD pid = 0;
    int64_t t = 0;  // microseconds on the shared monotonic clock
    std::map<std::string, std::string> fields;
};

inline std::vector<AgentEvent> ParseRunLog(const std::string& text) {
    std::vector<AgentEvent> events;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) break;  // a line still being written
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        AgentEvent event;
        std::string rest = line;
        for (const char* last : {" cmd=", " cwd="}) {
            const size_t at = rest.find(last);
            if (at == std::string::npos) continue;
            event.fields[std::string(last + 1, last + 4)] = rest.substr(at + 5);
            rest.erase(at);
        }
        size_t word = 0;
        bool first = true;
        while (word <= rest.size()) {
            size_t space = rest.find(' ', word);
            if (space == std::string::npos) space = rest.size();
            const std::string token = rest.substr(word, space - word);
            word = space + 1;
            if (first) {
                event.kind = token;
                first = false;
                continue;
            }
            const size_t eq = token.find('=');
            if (eq != std::string::npos) event.fields[token.substr(0, eq)] = token.substr(eq + 1);
        }
        event.pid = static_cast<DWORD>(std::strtoul(event.fields["pid"].c_str(), nullptr, 10));
        event.t = std::strtoll(event.fields["t"].c_str(), nullptr, 10);
        events.push_back(event);
    }
    return events;
}

inline std::vector<AgentEvent> ReadRunLog(const TempInstall& install, const std::wstring& dir = L"bin") {
    return ParseRunLog(install.ReadFile(dir + L"\\agent-runs.log"));
}

inline std::vector<AgentEvent> EventsOf(const std::vector<AgentEvent>& events, const std::string& kind) {
    std::vector<AgentEvent> out;
    for (const AgentEvent& e : events) {
        if (e.kind == kind) out.push_back(e);
    }
    return out;
}

inline size_t CountStarts(const TempInstall& install, const std::wstring& dir = L"bin") {
    return EventsOf(ReadRunLog(install, dir), "start").size();
}

// Waits until the log of dir holds at least n starts; returns them all.
inline std::vector<AgentEvent> WaitForStarts(const TempInstall& install, size_t n, Millis timeout,
                                             const std::wstring& dir = L"bin") {
    std::vector<AgentEvent> starts;
    WaitUntil([&] { return (starts = EventsOf(ReadRunLog(install, dir), "start")).size() >= n; }, timeout);
    return starts;
}

// The same clock the agent writes into its log.
inline int64_t NowMicroseconds() {
    LARGE_INTEGER counter = {}, frequency = {};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return counter.QuadPart / frequency.QuadPart * 1000000 +
           counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

// Copies the test agent to <install>\<dir>\Tollvane.exe.
inline std::wstring CopyAgentTo(const TempInstall& install, const std::wstring& dir) {
    ::CreateDirectoryW((install.Dir() + dir).c_str(), nullptr);  // bin is there already
    const std::wstring path = install.Dir() + dir + L"\\Tollvane.exe";
    if (!::CopyFileW(TestAgentPath().c_str(), path.c_str(), FALSE))
        FailSetup("cannot copy the agent to " + Narrow(path));
    return path;
}

// Starts a process with no window, gives its id (0 on failure); the handle is
// closed, the id is enough.
inline DWORD StartHidden(const std::wstring& exe, const std::wstring& args) {
    std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    const std::wstring dir = exe.substr(0, exe.rfind(L'\\'));
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          dir.c_str(), &si, &pi))
        return 0;
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return pi.dwProcessId;
}

// Starts a copy of the agent as "child <script>" from the test itself.
inline DWORD StartAgentCopy(const std::wstring& exe, const std::wstring& script) {
    return StartHidden(exe, L"child \"" + script + L"\"");
}

inline void KillPid(DWORD pid) {
    HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (h == nullptr) return;
    ::TerminateProcess(h, 9);
    ::WaitForSingleObject(h, 5000);
    ::CloseHandle(h);
}

// What the buttons show for a stopped and for a running agent.
inline bool ShowsStopped(const Supervisor& sup) {
    return sup.ControlText(ID_AGENT_START) == L"Start" && !sup.ControlEnabled(ID_AGENT_STOP);
}
inline bool ShowsRunning(const Supervisor& sup) {
    return sup.ControlText(ID_AGENT_START) == L"Restart" && sup.ControlEnabled(ID_AGENT_STOP);
}

inline std::vector<DWORD> AgentPids(const TempInstall& install) {
    std::vector<DWORD> pids;
    for (const ProcessInfo& p : ProcessesUnder(install.AgentDir() + L"\\")) pids.push_back(p.pid);
    return pids;
}

// How a test's installation is laid out and its supervisor started.
struct Launch {
    bool agent = true;  // bin\Tollvane.exe is there
    // Written before the supervisor starts: path relative to the installation, content.
    std::vector<std::pair<std::wstring, std::string>> files;
    std::wstring args;        // the supervisor's command line
    bool visible = false;     // wait until the window shows
    bool firstStart = false;  // wait until the agent has started once
    size_t minDirLength = 0;  // see TempInstall

    Launch& WithoutAgent() {
        agent = false;
        return *this;
    }
    Launch& File(std::wstring relative, std::string content) {
        files.emplace_back(std::move(relative), std::move(content));
        return *this;
    }
    // The test agent's script, bin\agent-script.txt.
    Launch& Script(std::string text) { return File(L"bin\\agent-script.txt", std::move(text)); }
    Launch& Args(std::wstring words) {
        args = std::move(words);
        return *this;
    }
    Launch& Visible() {
        visible = true;
        return *this;
    }
    Launch& FirstStart() {
        firstStart = true;
        return *this;
    }
    Launch& DirLength(size_t n) {
        minDirLength = n;
        return *this;
    }
};

// What most end-to-end tests begin with: a fresh installation, its
// supervisor started, its dialog initialised and, when asked, shown and its
// agent started once. A step that does not happen in time throws SetupError.
class RunningInstall {
public:
    // The files are written before the supervisor starts.
    explicit RunningInstall(const Launch& setup = Launch())
        : install(setup.agent, setup.minDirLength), sup((WriteFiles(setup), install.ExePath()), setup.args) {
        if (sup.WaitForWindow() == nullptr) throw SetupError("the supervisor's window did not appear");
        if (setup.visible && !WaitUntil([&] { return sup.IsVisible(); }, 10s))
            throw SetupError("the supervisor's window did not show");
        if (setup.firstStart && WaitForStarts(install, 1, 15s).empty())
            throw SetupError("the agent did not start");
    }

    TempInstall install;
    Supervisor sup;

private:
    void WriteFiles(const Launch& setup) const {
        for (const auto& file : setup.files) install.WriteFile(file.first, file.second);
    }
};

}  // namespace e2e
