// Support for end-to-end tests: a throw-away installation of the real
// supervisor and the means to watch it from outside, through the Windows
// API only, as a second process would.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

constexpr const wchar_t* kTitle = L"Quorvel Tollvane";

// A set-up step that did not work. Thrown out of the test body, it fails the
// test at once with its reason: a test that goes on after a failed set-up can
// end up checking something else (another supervisor's window, an empty log).
class SetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// Throws SetupError for what, with the thread's last error code.
[[noreturn]] void FailSetup(const std::string& what);

// Polls pred until it holds or the timeout passes; true when it held.
bool WaitUntil(const std::function<bool()>& pred, Millis timeout, Millis step = 20ms);

// Directory of the running test executable, with a trailing backslash.
std::wstring OwnDir();
// The scriptable test agent the build puts beside the tests; installations
// get it as bin\Tollvane.exe. The shipped demo agent is OwnDir() + bin\Tollvane.exe.
std::wstring TestAgentPath();

struct ProcessInfo {
    DWORD pid;
    DWORD ppid;
    std::wstring path;  // empty when it could not be read
};
std::vector<ProcessInfo> ListProcesses();
// Processes whose executable lies under dir (case-insensitive prefix).
std::vector<ProcessInfo> ProcessesUnder(const std::wstring& dir);
void KillProcessesUnder(const std::wstring& dir);
bool IsProcessAlive(DWORD pid);

// A fresh installation in a new temporary directory: QuorvelTollvane.exe
// from the build's out\ tree and the test agent as bin\Tollvane.exe. Everything that runs
// from it is ended and the directory removed when the object goes. A copy or
// write that fails throws SetupError.
class TempInstall {
public:
    // minDirLength pads the directory's name until its path (trailing
    // backslash included) has at least that many characters.
    explicit TempInstall(bool withAgent = true, size_t minDirLength = 0);
    ~TempInstall();
    TempInstall(const TempInstall&) = delete;
    TempInstall& operator=(const TempInstall&) = delete;

    const std::wstring& Dir() const { return m_dir; }  // with trailing backslash
    std::wstring ExePath() const { return m_dir + L"QuorvelTollvane.exe"; }
    std::wstring AgentDir() const { return m_dir + L"bin"; }
    std::wstring AgentPath() const { return m_dir + L"bin\\Tollvane.exe"; }
    // Writes a text file relative to the installation (e.g. the agent's script).
    void WriteFile(const std::wstring& relative, const std::string& content) const;
    std::string ReadFile(const std::wstring& relative) const;
    void RemoveAgent() const;

private:
    std::wstring m_dir;
};

// One running supervisor, started by CreateProcessW and ended by its id. A
// failed start throws SetupError: there is no process to watch.
class Supervisor {
public:
    Supervisor(const std::wstring& exePath, const std::wstring& args = L"");
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    DWORD Pid() const { return m_pid; }
    HANDLE Process() const { return m_hProcess; }
    // The main dialog (visible or not); null until it exists.
    HWND FindWindow() const;
    HWND WaitForWindow(Millis timeout = 15s);
    // Exit code, or STILL_ACTIVE when it did not end in time.
    DWORD WaitForExit(Millis timeout);
    bool IsRunning() const;
    void Kill();

    // Control access on the main dialog.
    std::wstring ControlText(int id) const;
    bool ControlEnabled(int id) const;
    void PostCommand(int id) const;
    // Sends from this thread with a bounded wait; false on time-out.
    bool SendCommand(int id, Millis timeout = 10s) const;
    std::wstring WindowText() const;
    bool IsVisible() const;

    HWND m_hWnd = nullptr;

private:
    DWORD m_pid = 0;
    HANDLE m_hProcess = nullptr;
};

// Reads any window's text through WM_GETTEXT with a bounded wait.
std::wstring ReadWindowText(HWND hWnd, Millis timeout = 5s);
// Top-level windows of class "#32770" titled kTitle, in enumeration order.
std::vector<HWND> FindSupervisorWindows();
// The supervisor window whose process runs exePath (a supervisor this test
// did not start itself); null when none appeared in time.
HWND WaitForSupervisorWindowOf(const std::wstring& exePath, Millis timeout);

// Collects the debugger-output lines of every process while it lives, the
// way a debug-output viewer does (DBWIN_BUFFER). One at a time per machine.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    bool Active() const;
    std::vector<std::wstring> LinesFrom(DWORD pid) const;
    bool WaitForLine(DWORD pid, const std::function<bool(const std::wstring&)>& pred, Millis timeout);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A process as the system's process list shows it. Unlike GetProcessTimes
// and friends this also answers for other processes under Wine.
struct ProcessStats {
    bool found = false;
    DWORD threads = 0;
    DWORD handles = 0;  // under Wine the size of the handle table, not a count
    double cpuMillis = 0;
    size_t workingSet = 0;
    size_t privateBytes = 0;
};
ProcessStats QueryProcessStats(DWORD pid);

// A 64-bit process under Wine. 64-bit Wine 8 faults in its own text shaping
// when a run of text starts with a glyph its mark-to-ligature tables cover,
// such as a Hebrew or Arabic combining mark at a line start (its unsigned
// glyph index wraps); Windows and the 32-bit Wine shape such lines.
bool RunsUnderWine64();

// The handles a process holds, counted one by one in the system's handle
// list; -1 when the list cannot be read. Unlike ProcessStats::handles this
// sees a single leaked handle.
long CountHandles(DWORD pid);

// The same path through a second drive letter (P:) that names the system
// drive's root; empty where no such letter can be made. Under Wine the
// letter is a link in the prefix's dosdevices folder (DefineDosDeviceW
// reports success there, but the drive does not open); on Windows a SUBST
// drive. The letter stays for later tests.
std::wstring SpelledThroughAnotherDrive(const std::wstring& path);

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// The clipboard's text, or "" when it holds none.
inline std::wstring ClipboardText() {
    std::wstring text;
    if (!::OpenClipboard(nullptr)) return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* p = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = p;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

// Presses vk with the held keys down, as the user would: to the window in front.
inline void PressKeys(std::initializer_list<WORD> held, WORD vk) {
    std::vector<INPUT> inputs;
    auto key = [&](WORD code, bool up) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = code;
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(in);
    };
    for (WORD h : held) key(h, false);
    key(vk, false);
    key(vk, true);
    for (WORD h : held) key(h, true);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace e2e
