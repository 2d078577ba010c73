// The test agent: an agent the tests install as bin\Tollvane.exe and steer.
// It talks to its supervisor as the demo agent does, but follows a script
// beside it, agent-script.txt (or the file named by "child <script>" on its
// command line), one command a line:
//   send <text>         one message, the text as written (UTF-8)
//   sendraw <hex>       one message of arbitrary bytes
//   sendsize <n>        one message of n bytes
//   sleep <ms>
//   spawn <exe> [args]  start a process ("exe" may be quoted)
//   spawnaway <exe> [args]  the same, out of the agent's job and with no
//                       console, as an agent starts a program for the user
//   attach <pid>        leave this console for that process's one
//   exit <code>
//   crash               an access violation
//   hang                wait forever (and so, silent)
//   allocate <mb>       commit and touch mb MB of private memory, kept
//   protect             deny every other opener access to this process
//   onctrlc <code>      on Ctrl+C: record "ctrlc", exit with code
//   ignorectrlc         on Ctrl+C: record "ctrlc" and go on
//   window <code>       a hidden top-level window; on WM_CLOSE: record
//                       "close", exit with code
//   ignoreclose         the same window, which records "close" and goes on
// and records every start in agent-runs.log beside the executable; that
// record is kept to kRunLogLimit bytes plus one older generation. Without a
// script it greets and beats like the demo agent (a child hangs instead).
#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/agent/agent_pipe.h"

namespace {

constexpr char kMarker[] = "%!(EXTRA []interface {}=[])";
constexpr DWORD kHeartbeatMs = 3000;
// Beyond this size the record starts afresh; the previous one is kept as
// agent-runs.1.log.
constexpr LONGLONG kRunLogLimit = 4 * 1024 * 1024;

std::string ToUtf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                              nullptr);
    }
    return out;
}

std::wstring FromUtf8(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// Microseconds on the machine's monotonic clock, comparable between processes.
int64_t NowMicroseconds() {
    LARGE_INTEGER counter = {}, frequency = {};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart == 0) return 0;
    return counter.QuadPart / frequency.QuadPart * 1000000 +
           counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

// Appends one line to agent-runs.log beside the executable. Several copies
// may write at once; each line is a single append.
class CRunLog {
public:
    explicit CRunLog(const std::wstring& dir)
        : m_path(dir + L"\\agent-runs.log"), m_oldPath(dir + L"\\agent-runs.1.log") {}

    void Write(const std::wstring& line) const {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (::GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &data) &&
            (static_cast<LONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) >= kRunLogLimit) {
            // Two copies may both get here; one rename wins, the other fails.
            ::MoveFileExW(m_path.c_str(), m_oldPath.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        CFileHandle file(::CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
        const std::string bytes = ToUtf8(line + L"\r\n");
        DWORD written = 0;
        ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

    void Event(const wchar_t* what, const std::wstring& details = std::wstring()) const {
        Write(std::wstring(what) + L" pid=" + std::to_wstring(::GetCurrentProcessId()) + L" t=" +
              std::to_wstring(NowMicroseconds()) + (details.empty() ? L"" : L" " + details));
    }

private:
    std::wstring m_path;
    std::wstring m_oldPath;
};

DWORD ParentProcessId() {
    CFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
    }
    return 0;
}

// What a test wants to know of a start: who started us, where, with what,
// and whether anybody could see our console.
void RecordStart(const CRunLog& log, int argc) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    ::GetStartupInfoW(&si);
    const std::wstring show =
        (si.dwFlags & STARTF_USESHOWWINDOW) ? std::to_wstring(si.wShowWindow) : std::wstring(L"default");
    const HWND console = ::GetConsoleWindow();
    const wchar_t* consoleState = console == nullptr           ? L"none"
                                  : ::IsWindowVisible(console) ? L"visible"
                                                               : L"hidden";
    std::vector<wchar_t> cwd(32768);
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
    wchar_t supervisor[16] = {};
    ::GetEnvironmentVariableW(L"QUORVEL_SUPERVISOR_PID", supervisor, 16);
    log.Event(L"start", L"ppid=" + std::to_wstring(ParentProcessId()) + L" supervisor=" + supervisor +
                            L" args=" + std::to_wstring(argc - 1) + L" show=" + show + L" console=" +
                            consoleState + L" cwd=" + std::wstring(cwd.data(), n < cwd.size() ? n : 0) +
                            L" cmd=" + ::GetCommandLineW());
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string FromHex(std::string_view hex) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string bytes;
    int high = -1;
    for (char c : hex) {
        const int d = digit(c);
        if (d < 0) continue;
        if (high < 0) {
            high = d;
        } else {
            bytes += static_cast<char>(high * 16 + d);
            high = -1;
        }
    }
    return bytes;
}

bool StartChild(const CRunLog& log, std::string_view args, DWORD flags = 0) {
    std::wstring exe, rest;
    if (!args.empty() && args.front() == '"') {
        const size_t close = args.find('"', 1);
        exe = FromUtf8(args.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        rest = close == std::string_view::npos ? L"" : FromUtf8(Trim(args.substr(close + 1)));
    } else {
        const size_t space = args.find(' ');
        exe = FromUtf8(args.substr(0, space));
        rest = space == std::string_view::npos ? L"" : FromUtf8(Trim(args.substr(space + 1)));
    }
    std::wstring commandLine = L"\"" + exe + L"\"" + (rest.empty() ? L"" : L" " + rest);
    const std::wstring dir = DirectoryOf(exe);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          dir.empty() ? nullptr : dir.c_str(), &si, &pi)) {
        log.Event(L"spawnfailed", L"error=" + std::to_wstring(::GetLastError()));
        return false;
    }
    log.Event(L"spawn", L"child=" + std::to_wstring(pi.dwProcessId));
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

// Ends the process the way an unhandled fault does, with the fault's code,
// but without a crash dialog or a debugger: an agent that dies is simply
// relaunched.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* pInfo) {
    ::TerminateProcess(::GetCurrentProcess(), pInfo->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void Crash(const CRunLog& log) {
    log.Event(L"crash");
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter(&EndOnFault);
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    ::ExitProcess(3);
}

// An empty access list: nobody else may open this process at all, as with an
// agent that guards itself or one that runs elevated. Handles opened before
// keep their rights.
void Protect(const CRunLog& log) {
    ACL empty = {};
    ::InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
    const DWORD error = ::SetSecurityInfo(::GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, &empty, nullptr);
    log.Event(L"protect", L"error=" + std::to_wstring(error));
}

// The ask to end, as a test wants it answered. Set before the handlers can
// run, read-only after.
const CRunLog* g_pAskLog = nullptr;
UINT g_askExitCode = 0;

BOOL WINAPI EndOnCtrlC(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    g_pAskLog->Event(L"ctrlc", L"action=exit code=" + std::to_wstring(g_askExitCode));
    ::ExitProcess(g_askExitCode);
}

// "byeonctrlc <n>": the ask is answered with n messages of 2000 bytes, the
// agent's last words, then the end.
CPipeWriter* g_pByePipe = nullptr;
unsigned long g_nByeMessages = 0;

BOOL WINAPI SayByeOnCtrlC(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    for (unsigned long i = 0; i < g_nByeMessages; ++i) {
        std::string message = "INFO,bye-" + std::to_string(i) + " ";
        message.resize(2000, 'b');
        g_pByePipe->Send(message);
    }
    g_pAskLog->Event(L"ctrlc", L"action=bye");
    ::ExitProcess(0);
}

BOOL WINAPI IgnoreCtrlC(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    g_pAskLog->Event(L"ctrlc", L"action=ignore");
    return TRUE;
}

// How the window answers WM_CLOSE: end, ignore it, or tell every window
// first, as a program saving its settings does (a broadcast that waits for
// each top-level window), then end.
enum AskAnswer : LONG_PTR { kAskEnd, kAskIgnore, kAskBroadcast };

LRESULT CALLBACK AskWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg != WM_CLOSE) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    const LONG_PTR answer = ::GetWindowLongPtrW(hWnd, GWLP_USERDATA);
    if (answer == kAskBroadcast) {
        g_pAskLog->Event(L"close", L"action=broadcast");
        ::SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0);
    }
    const bool ignore = answer == kAskIgnore;
    g_pAskLog->Event(L"close",
                     ignore ? L"action=ignore" : L"action=exit code=" + std::to_wstring(g_askExitCode));
    if (!ignore) ::ExitProcess(g_askExitCode);
    return 0;
}

struct AskWindowStart {
    LONG_PTR answer;
    HANDLE hReady;
};

DWORD WINAPI RunAskWindow(void* pv) {
    const AskWindowStart start = *static_cast<AskWindowStart*>(pv);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &AskWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TollvaneTestAgentWindow";
    ::RegisterClassW(&wc);
    HWND hWnd = ::CreateWindowExW(0, wc.lpszClassName, L"Tollvane test agent", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                  100, nullptr, nullptr, wc.hInstance, nullptr);
    ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, start.answer);
    ::SetEvent(start.hReady);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return 0;
}

// The window lives on a thread of its own, so the script goes on; it is
// there before the script's next command runs.
void OpenAskWindow(const CRunLog& log, LONG_PTR answer) {
    g_pAskLog = &log;
    const bool ignore = answer == kAskIgnore;
    CHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    AskWindowStart start{answer, ready.get()};
    CHandle thread(::CreateThread(nullptr, 0, &RunAskWindow, &start, 0, nullptr));
    if (thread) {
        const HANDLE waits[] = {ready.get(), thread.get()};
        ::WaitForMultipleObjects(2, waits, FALSE, 5000);
    }
    log.Event(L"window", ignore ? L"action=ignore" : L"action=exit");
}

[[noreturn]] void Hang() {
    for (;;) ::Sleep(INFINITE);
}

void RunScript(const std::string& script, CPipeWriter& pipe, const CRunLog& log) {
    size_t pos = 0;
    while (pos < script.size()) {
        size_t end = script.find('\n', pos);
        if (end == std::string::npos) end = script.size();
        const std::string_view line = Trim(std::string_view(script).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == '#') continue;
        const size_t space = line.find(' ');
        const std::string_view command = line.substr(0, space);
        const std::string_view arg =
            space == std::string_view::npos ? std::string_view() : Trim(line.substr(space));
        const unsigned long number = std::strtoul(std::string(arg).c_str(), nullptr, 10);
        if (command == "send") {
            pipe.Send(arg);
        } else if (command == "sendraw") {
            pipe.Send(FromHex(arg));
        } else if (command == "sendsize") {
            std::string message = "INFO,";
            message.resize(number, 'x');
            pipe.Send(message);
        } else if (command == "sleep") {
            ::Sleep(static_cast<DWORD>(number));
        } else if (command == "spawn") {
            StartChild(log, arg);
        } else if (command == "spawnaway") {
            StartChild(log, arg, CREATE_BREAKAWAY_FROM_JOB | DETACHED_PROCESS);
        } else if (command == "attach") {
            ::FreeConsole();
            const BOOL attached = ::AttachConsole(static_cast<DWORD>(number));
            log.Event(L"attach", L"ok=" + std::to_wstring(attached ? 1 : 0));
        } else if (command == "exit") {
            log.Event(L"exit", L"code=" + std::to_wstring(number));
            ::ExitProcess(static_cast<UINT>(number));
        } else if (command == "crash") {
            Crash(log);
        } else if (command == "allocate") {
            // Never freed: the memory is what the supervisor is to see.
            void* block =
                ::VirtualAlloc(nullptr, static_cast<SIZE_T>(number) << 20, MEM_COMMIT, PAGE_READWRITE);
            if (block != nullptr) std::memset(block, 1, static_cast<size_t>(number) << 20);
            log.Event(L"allocate", L"mb=" + std::to_wstring(number) + (block ? L"" : L" failed"));
        } else if (command == "hang") {
            Hang();
        } else if (command == "protect") {
            Protect(log);
        } else if (command == "onctrlc" || command == "ignorectrlc") {
            g_pAskLog = &log;
            g_askExitCode = static_cast<UINT>(number);
            ::SetConsoleCtrlHandler(command == "onctrlc" ? &EndOnCtrlC : &IgnoreCtrlC, TRUE);
        } else if (command == "byeonctrlc") {
            g_pAskLog = &log;
            g_pByePipe = &pipe;
            g_nByeMessages = number;
            ::SetConsoleCtrlHandler(&SayByeOnCtrlC, TRUE);
        } else if (command == "window") {
            g_askExitCode = static_cast<UINT>(number);
            OpenAskWindow(log, kAskEnd);
        } else if (command == "broadcastwindow") {
            g_askExitCode = static_cast<UINT>(number);
            OpenAskWindow(log, kAskBroadcast);
        } else if (command == "ignoreclose") {
            OpenAskWindow(log, kAskIgnore);
        }
    }
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    return true;
}

void Greet(CPipeWriter& pipe) {
    pipe.Send("INFO,Tollvane agent started pid=" + std::to_string(::GetCurrentProcessId()));
    for (unsigned beat = 1;; ++beat) {
        ::Sleep(kHeartbeatMs);
        std::string message = "INFO,heartbeat " + std::to_string(beat);
        // Now and then in the shape a certain formatting slip leaves behind.
        if (beat % 5 == 0) message += kMarker;
        pipe.Send(message);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring self = ModulePath();
    const std::wstring dir = DirectoryOf(self);
    CPipeWriter pipe(self);
    const CRunLog log(dir);
    RecordStart(log, argc);

    const bool child = argc >= 3 && std::wstring_view(argv[1]) == L"child";
    const std::wstring scriptPath = child ? std::wstring(argv[2]) : dir + L"\\agent-script.txt";
    std::string script;
    if (ReadFileBytes(scriptPath, script)) {
        RunScript(script, pipe, log);
        log.Event(L"exit", L"code=0");
        return 0;
    }
    if (child) Hang();
    Greet(pipe);
    return 0;
}
