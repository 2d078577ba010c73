#include "tests/support/e2e_support.h"

#include "resource.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cwctype>
#include <mutex>
#include <thread>

namespace e2e {
namespace {

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::towlower(text[i]) != std::towlower(prefix[i])) return false;
    }
    return true;
}

std::wstring ProcessPath(DWORD pid) {
    HANDLE h = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (h == nullptr) return L"";
    wchar_t buffer[2048] = {};
    HMODULE first = nullptr;
    DWORD needed = 0;
    std::wstring path;
    if (::EnumProcessModules(h, &first, sizeof(first), &needed) &&
        ::GetModuleFileNameExW(h, first, buffer, 2047) > 0) {
        path = buffer;
    }
    ::CloseHandle(h);
    return path;
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((dir + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = dir + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full + L"\\");
            else
                ::DeleteFileW(full.c_str());
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(dir.substr(0, dir.size() - 1).c_str());
}

}  // namespace

void FailSetup(const std::string& what) {
    throw SetupError(what + " (error " + std::to_string(::GetLastError()) + ")");
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return L"";
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                          nullptr);
    return out;
}

ProcessStats QueryProcessStats(DWORD pid) {
    // The documented head of SYSTEM_PROCESS_INFORMATION, through the memory figures.
    struct Entry {
        ULONG NextEntryOffset;
        ULONG NumberOfThreads;
        LARGE_INTEGER Reserved[3];
        LARGE_INTEGER CreateTime, UserTime, KernelTime;
        USHORT NameLength, NameMaximumLength;
        PWSTR NameBuffer;
        LONG BasePriority;
        HANDLE UniqueProcessId;
        HANDLE InheritedFromUniqueProcessId;
        ULONG HandleCount;
        ULONG SessionId;
        ULONG_PTR UniqueProcessKey;
        SIZE_T PeakVirtualSize, VirtualSize;
        ULONG PageFaultCount;
        SIZE_T PeakWorkingSetSize, WorkingSetSize;
        SIZE_T QuotaPeakPagedPoolUsage, QuotaPagedPoolUsage;
        SIZE_T QuotaPeakNonPagedPoolUsage, QuotaNonPagedPoolUsage;
        SIZE_T PagefileUsage, PeakPagefileUsage;
        SIZE_T PrivatePageCount;
    };
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    ProcessStats stats;
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return stats;
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(5 /* SystemProcessInformation */, buffer.data(), static_cast<ULONG>(buffer.size()),
                           &needed)) == static_cast<LONG>(0xC0000004) &&
           buffer.size() < (64u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0) return stats;
    for (size_t offset = 0;;) {
        const auto* entry = reinterpret_cast<const Entry*>(buffer.data() + offset);
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId)) == pid) {
            stats.found = true;
            stats.threads = entry->NumberOfThreads;
            stats.handles = entry->HandleCount;
            stats.cpuMillis =
                static_cast<double>(entry->UserTime.QuadPart + entry->KernelTime.QuadPart) / 10000.0;
            stats.workingSet = entry->WorkingSetSize;
            stats.privateBytes =
                entry->PrivatePageCount != 0 ? entry->PrivatePageCount : entry->PagefileUsage;
            return stats;
        }
        if (entry->NextEntryOffset == 0) return stats;
        offset += entry->NextEntryOffset;
    }
}

long CountHandles(DWORD pid) {
    // The documented head of SYSTEM_HANDLE_INFORMATION_EX and its entries.
    struct Entry {
        PVOID Object;
        ULONG_PTR UniqueProcessId;
        ULONG_PTR HandleValue;
        ULONG GrantedAccess;
        USHORT CreatorBackTraceIndex;
        USHORT ObjectTypeIndex;
        ULONG HandleAttributes;
        ULONG Reserved;
    };
    struct Table {
        ULONG_PTR NumberOfHandles;
        ULONG_PTR Reserved;
        Entry Handles[1];
    };
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    std::vector<ULONG_PTR> buffer((1 << 20) / sizeof(ULONG_PTR));
    ULONG needed = 0;
    LONG status;
    while ((status = query(64 /* SystemExtendedHandleInformation */, buffer.data(),
                           static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed)) ==
               static_cast<LONG>(0xC0000004) &&
           buffer.size() * sizeof(ULONG_PTR) < (256u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0) return -1;
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    long count = 0;
    for (ULONG_PTR i = 0; i < table->NumberOfHandles; ++i) count += table->Handles[i].UniqueProcessId == pid;
    return count;
}

bool WaitUntil(const std::function<bool()>& pred, Millis timeout, Millis step) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        // Keep this thread's own windows (if any) responsive while polling.
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(static_cast<DWORD>(step.count()));
    }
}

std::wstring TestAgentPath() { return OwnDir() + L"test_agent.exe"; }

std::wstring OwnDir() {
    wchar_t buffer[2048] = {};
    ::GetModuleFileNameW(nullptr, buffer, 2047);
    std::wstring path = buffer;
    return path.substr(0, path.rfind(L'\\') + 1);
}

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> out;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = ::Process32FirstW(snap, &entry); ok; ok = ::Process32NextW(snap, &entry)) {
        out.push_back({entry.th32ProcessID, entry.th32ParentProcessID, ProcessPath(entry.th32ProcessID)});
    }
    ::CloseHandle(snap);
    return out;
}

std::vector<ProcessInfo> ProcessesUnder(const std::wstring& dir) {
    std::vector<ProcessInfo> out;
    for (const ProcessInfo& p : ListProcesses()) {
        if (!p.path.empty() && StartsWithIgnoringCase(p.path, dir)) out.push_back(p);
    }
    return out;
}

void KillProcessesUnder(const std::wstring& dir) {
    for (int round = 0; round < 5; ++round) {
        const auto procs = ProcessesUnder(dir);
        if (procs.empty()) return;
        for (const ProcessInfo& p : procs) {
            HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, p.pid);
            if (h == nullptr) continue;
            ::TerminateProcess(h, 0);
            ::WaitForSingleObject(h, 2000);
            ::CloseHandle(h);
        }
    }
}

bool IsProcessAlive(DWORD pid) {
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (h == nullptr) return false;
    const bool alive = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    ::CloseHandle(h);
    return alive;
}

TempInstall::TempInstall(bool withAgent, size_t minDirLength) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH] = {};
    if (::GetTempPathW(MAX_PATH, temp) == 0) FailSetup("no temporary directory");
    m_dir = std::wstring(temp) + L"qt-e2e-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(counter++);
    if (m_dir.size() + 1 < minDirLength) m_dir.append(minDirLength - m_dir.size() - 1, L'x');
    m_dir += L"\\";
    if (!::CreateDirectoryW(m_dir.c_str(), nullptr)) FailSetup("cannot create " + Narrow(m_dir));
    const std::wstring out = OwnDir();
    const std::wstring agent = TestAgentPath();
    if (!::CreateDirectoryW(AgentDir().c_str(), nullptr) ||
        !::CopyFileW((out + L"QuorvelTollvane.exe").c_str(), ExePath().c_str(), FALSE) ||
        (withAgent && !::CopyFileW(agent.c_str(), AgentPath().c_str(), FALSE))) {
        const DWORD error = ::GetLastError();
        RemoveTree(m_dir);
        ::SetLastError(error);
        FailSetup("cannot lay out the installation " + Narrow(m_dir));
    }
}

TempInstall::~TempInstall() {
    KillProcessesUnder(m_dir);
    RemoveTree(m_dir);
}

void TempInstall::WriteFile(const std::wstring& relative, const std::string& content) const {
    HANDLE h = ::CreateFileW((m_dir + relative).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) FailSetup("cannot create " + Narrow(m_dir + relative));
    DWORD written = 0;
    const bool whole =
        ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size();
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    ::SetLastError(error);
    if (!whole) FailSetup("cannot write " + Narrow(m_dir + relative));
}

std::string TempInstall::ReadFile(const std::wstring& relative) const {
    HANDLE h = ::CreateFileW((m_dir + relative).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) content.append(buffer, got);
    ::CloseHandle(h);
    return content;
}

void TempInstall::RemoveAgent() const { ::DeleteFileW(AgentPath().c_str()); }

Supervisor::Supervisor(const std::wstring& exePath, const std::wstring& args) {
    std::wstring cmd = L"\"" + exePath + L"\"";
    if (!args.empty()) cmd += L" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    const std::wstring dir = exePath.substr(0, exePath.rfind(L'\\') + 1);
    if (!::CreateProcessW(exePath.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si,
                          &pi))
        FailSetup("cannot start " + Narrow(exePath));
    ::CloseHandle(pi.hThread);
    m_hProcess = pi.hProcess;
    m_pid = pi.dwProcessId;
}

Supervisor::~Supervisor() {
    Kill();
    if (m_hProcess) ::CloseHandle(m_hProcess);
}

void Supervisor::Kill() {
    if (m_hProcess && ::WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_hProcess, 0);
        ::WaitForSingleObject(m_hProcess, 5000);
    }
}

bool Supervisor::IsRunning() const {
    return m_hProcess && ::WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT;
}

DWORD Supervisor::WaitForExit(Millis timeout) {
    if (!m_hProcess) return STILL_ACTIVE;
    if (::WaitForSingleObject(m_hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(m_hProcess, &code);
    return code;
}

namespace {
struct FindArgs {
    bool anyProcess;
    DWORD pid;  // the owner, unless anyProcess
    std::vector<HWND> found;
};

BOOL CALLBACK CollectSupervisorWindows(HWND hWnd, LPARAM lParam) {
    auto* args = reinterpret_cast<FindArgs*>(lParam);
    wchar_t cls[64] = {};
    if (::GetClassNameW(hWnd, cls, 63) <= 0 || std::wstring(cls) != L"#32770") return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (!args->anyProcess && pid != args->pid) return TRUE;
    wchar_t title[256] = {};
    ::GetWindowTextW(hWnd, title, 255);
    if (std::wstring(title) != kTitle) return TRUE;
    args->found.push_back(hWnd);
    return TRUE;
}
}  // namespace

std::vector<HWND> FindSupervisorWindows() {
    FindArgs args{true, 0, {}};
    ::EnumWindows(CollectSupervisorWindows, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

namespace {
// The dialog carries its title from the moment it is created, before its
// controls exist and before its initialisation has run. A sent message alone
// does not tell: the UI thread also answers sent messages while it waits in a
// send of its own during initialisation (the tray icon's calls to the shell).
// Input-idle is reached only in the message loop, after initialisation.
bool WaitUntilInitialised(HWND hWnd, Millis timeout) {
    const bool hasControls = WaitUntil([&] { return ::GetDlgItem(hWnd, ID_HIDE) != nullptr; }, timeout);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)) {
        ::WaitForInputIdle(process, static_cast<DWORD>(timeout.count()));
        ::CloseHandle(process);
    }
    DWORD_PTR ignored = 0;
    return hasControls && ::SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_NORMAL,
                                                static_cast<UINT>(timeout.count()), &ignored) != 0;
}
}  // namespace

HWND WaitForSupervisorWindowOf(const std::wstring& exePath, Millis timeout) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            const std::vector<ProcessInfo> processes = ListProcesses();
            for (HWND candidate : FindSupervisorWindows()) {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(candidate, &pid);
                for (const ProcessInfo& p : processes) {
                    if (p.pid == pid && _wcsicmp(p.path.c_str(), exePath.c_str()) == 0) found = candidate;
                }
            }
            return found != nullptr;
        },
        timeout);
    if (found != nullptr) WaitUntilInitialised(found, timeout);
    return found;
}

HWND Supervisor::FindWindow() const {
    FindArgs args{false, m_pid, {}};
    ::EnumWindows(CollectSupervisorWindows, reinterpret_cast<LPARAM>(&args));
    return args.found.empty() ? nullptr : args.found.front();
}

HWND Supervisor::WaitForWindow(Millis timeout) {
    WaitUntil([&] { return (m_hWnd = FindWindow()) != nullptr; }, timeout);
    if (m_hWnd != nullptr) WaitUntilInitialised(m_hWnd, timeout);
    return m_hWnd;
}

std::wstring ReadWindowText(HWND hWnd, Millis timeout) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                               static_cast<UINT>(timeout.count()), &length))
        return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(hWnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]),
                               SMTO_ABORTIFHUNG, static_cast<UINT>(timeout.count()), &copied))
        return L"";
    text.resize(copied);
    return text;
}

std::wstring Supervisor::ControlText(int id) const { return ReadWindowText(::GetDlgItem(m_hWnd, id)); }
bool Supervisor::ControlEnabled(int id) const { return ::IsWindowEnabled(::GetDlgItem(m_hWnd, id)) != FALSE; }
void Supervisor::PostCommand(int id) const { ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }
bool Supervisor::SendCommand(int id, Millis timeout) const {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(m_hWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0, SMTO_NORMAL,
                                 static_cast<UINT>(timeout.count()), &result) != 0;
}
std::wstring Supervisor::WindowText() const { return ReadWindowText(m_hWnd); }
bool Supervisor::IsVisible() const { return ::IsWindowVisible(m_hWnd) != FALSE; }

// The debug-output viewer protocol: a writer waits for BUFFER_READY, writes
// its pid and text into the shared buffer and sets DATA_READY.
struct DebugCapture::State {
    HANDLE bufferReady = nullptr;
    HANDLE dataReady = nullptr;
    HANDLE mapping = nullptr;
    const char* view = nullptr;
    std::atomic<bool> stop{false};
    std::thread reader;
    mutable std::mutex lock;
    std::vector<std::pair<DWORD, std::wstring>> lines;
};

DebugCapture::DebugCapture() : m_state(new State) {
    State& s = *m_state;
    s.bufferReady = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    s.dataReady = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    s.mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    if (s.mapping) s.view = static_cast<const char*>(::MapViewOfFile(s.mapping, FILE_MAP_READ, 0, 0, 4096));
    if (!Active()) return;
    s.reader = std::thread([&s] {
        ::SetEvent(s.bufferReady);
        while (!s.stop) {
            if (::WaitForSingleObject(s.dataReady, 100) != WAIT_OBJECT_0) continue;
            DWORD pid = 0;
            memcpy(&pid, s.view, sizeof(pid));
            const char* text = s.view + sizeof(DWORD);
            const std::string narrow(text, strnlen(text, 4096 - sizeof(DWORD)));
            // The buffer carries the ANSI form; our lines are ASCII or UTF-8.
            {
                std::lock_guard<std::mutex> guard(s.lock);
                s.lines.emplace_back(pid, Widen(narrow));
            }
            ::SetEvent(s.bufferReady);
        }
    });
}

DebugCapture::~DebugCapture() {
    State& s = *m_state;
    s.stop = true;
    if (s.reader.joinable()) s.reader.join();
    if (s.view) ::UnmapViewOfFile(s.view);
    if (s.mapping) ::CloseHandle(s.mapping);
    if (s.dataReady) ::CloseHandle(s.dataReady);
    if (s.bufferReady) ::CloseHandle(s.bufferReady);
}

bool DebugCapture::Active() const {
    return m_state->view != nullptr && m_state->bufferReady && m_state->dataReady;
}

std::vector<std::wstring> DebugCapture::LinesFrom(DWORD pid) const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    std::vector<std::wstring> out;
    for (const auto& line : m_state->lines) {
        if (line.first == pid) out.push_back(line.second);
    }
    return out;
}

bool DebugCapture::WaitForLine(DWORD pid, const std::function<bool(const std::wstring&)>& pred,
                               Millis timeout) {
    return WaitUntil(
        [&] {
            for (const auto& line : LinesFrom(pid)) {
                if (pred(line)) return true;
            }
            return false;
        },
        timeout);
}

std::wstring SpelledThroughAnotherDrive(const std::wstring& path) {
    if (path.size() < 3 || path.compare(1, 2, L":\\") != 0) return {};
    const std::wstring alias = L"P" + path.substr(1);
    if (::GetFileAttributesW(alias.c_str()) != INVALID_FILE_ATTRIBUTES) return alias;
    const std::wstring root = path.substr(0, 3);
    wchar_t prefix[1024] = {};
    if (::GetEnvironmentVariableW(L"WINEPREFIX", prefix, 1023) > 0 && path[0] == L'C') {
        // Wine runs Unix programs as processes of their own.
        std::wstring cmd =
            L"Z:\\bin\\ln -sfn \"" + std::wstring(prefix) + L"/drive_c\" \"" + prefix + L"/dosdevices/p:\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (::CreateProcessW(L"Z:\\bin\\ln", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                             &pi)) {
            ::WaitForSingleObject(pi.hProcess, 10000);
            ::CloseHandle(pi.hThread);
            ::CloseHandle(pi.hProcess);
        }
    } else {
        ::DefineDosDeviceW(0, L"P:", root.c_str());
    }
    WaitUntil([&] { return ::GetFileAttributesW(alias.c_str()) != INVALID_FILE_ATTRIBUTES; }, 5s);
    return ::GetFileAttributesW(alias.c_str()) != INVALID_FILE_ATTRIBUTES ? alias : std::wstring();
}

bool RunsUnderWine64() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return sizeof(void*) == 8 && ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace e2e
