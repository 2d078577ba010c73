// What the component tests share: bounded waits, a look at the processes
// under a folder, a test installation's files, and a listener that records
// the agent's life for the supervision tests.
#pragma once

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "supervision/agent_supervisor_probe.h"

// Checks done() every few milliseconds while serving this thread's messages;
// false when timeoutMs passed first.
inline bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        // A few at a time: output keeps posting while it flows.
        for (int i = 0; i < 50 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// This test program's folder, with its trailing backslash.
inline std::wstring ExeDir() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.rfind(L'\\') + 1);
}

// The supervisor the build puts beside the tests: its menus and string tables.
inline std::wstring SupervisorPath() { return ExeDir() + L"QuorvelTollvane.exe"; }

inline constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
inline constexpr LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// String id from the table of one language of hRes, whatever the session's
// language; empty when it is not there.
inline std::wstring LoadStringIn(HMODULE hRes, UINT id, LANGID lang) {
    HRSRC hInfo =
        ::FindResourceExW(hRes, MAKEINTRESOURCEW(6) /* RT_STRING */, MAKEINTRESOURCEW(id / 16 + 1), lang);
    if (hInfo == nullptr) return std::wstring();
    const auto* p = static_cast<const wchar_t*>(::LockResource(::LoadResource(hRes, hInfo)));
    if (p == nullptr) return std::wstring();
    for (UINT i = 0; i < id % 16; ++i) p += 1 + *p;
    return std::wstring(p + 1, *p);
}

// A top-level window of this thread that stands in for the dialog or the
// tray's host; destroyed with the object.
class CPlainWindow {
public:
    explicit CPlainWindow(DWORD style = WS_OVERLAPPEDWINDOW, int cx = 200, int cy = 100)
        : m_hWnd(::CreateWindowExW(0, L"STATIC", L"", style, 0, 0, cx, cy, nullptr, nullptr, nullptr,
                                   nullptr)) {}
    ~CPlainWindow() { ::DestroyWindow(m_hWnd); }
    CPlainWindow(const CPlainWindow&) = delete;
    CPlainWindow& operator=(const CPlainWindow&) = delete;
    HWND m_hWnd;
};

// A fresh folder under the temporary one, with its trailing backslash.
inline std::wstring MakeTestDir(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + prefix + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                             std::to_wstring(::GetTickCount()) + L"\\";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// Replaces the file whole, so a reader never sees half of it.
inline bool WriteTextFile(const std::wstring& path, const std::string& text) {
    const std::wstring temp = path + L".new";
    HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    ::CloseHandle(file);
    return ok && ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Ids of the live processes whose executable lies under dir.
inline std::vector<DWORD> ProcessesUnder(const std::wstring& dir) {
    std::vector<DWORD> pids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        HANDLE h = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE,
                                 entry.th32ProcessID);
        if (h == nullptr) continue;
        wchar_t path[1040] = {};
        const bool alive = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
        if (alive && ::GetModuleFileNameExW(h, nullptr, path, 1040) > 0 &&
            ::CompareStringOrdinal(path, static_cast<int>(dir.size()), dir.c_str(), -1, TRUE) == CSTR_EQUAL)
            pids.push_back(entry.th32ProcessID);
        ::CloseHandle(h);
    }
    ::CloseHandle(snapshot);
    return pids;
}

// Ends every process under dir, by id, and waits for each.
inline void EndProcessesUnder(const std::wstring& dir) {
    for (DWORD pid : ProcessesUnder(dir)) {
        HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (h == nullptr) continue;
        ::TerminateProcess(h, 0);
        ::WaitForSingleObject(h, 2000);
        ::CloseHandle(h);
    }
}

// Counts what the watch thread reports; read from the test's thread.
// "Running" follows the window's buttons: set by a start, cleared when the
// watch ends.
class CAgentRecorder final : public CAgentEventSink {
public:
    void OnAgentEvent(const AgentEvent& event) override {
        switch (event.kind) {
            case AgentEvent::Kind::Started:
                ++m_nStarted;
                m_bRunning = true;
                break;
            case AgentEvent::Kind::Exited:
                ++m_nExited;
                break;
            case AgentEvent::Kind::LaunchFailed:
                ++m_nLaunchFailed;
                break;
            case AgentEvent::Kind::Paused:
                ++(event.reason == AgentPauseReason::CrashLoop ? m_nCrashPauses : m_nLaunchPauses);
                break;
            case AgentEvent::Kind::WatchEnded:
                m_bRunning = false;
                ++m_nWatchEnded;
                // Holds the watch thread in its last report, as a slow sink would.
                if (const DWORD ms = m_nHoldEndMs) ::Sleep(ms);
                break;
            default:
                break;
        }
    }

    std::atomic<int> m_nStarted{0};
    std::atomic<int> m_nExited{0};
    std::atomic<int> m_nLaunchFailed{0};
    std::atomic<int> m_nCrashPauses{0};
    std::atomic<int> m_nLaunchPauses{0};
    std::atomic<int> m_nWatchEnded{0};
    std::atomic<bool> m_bRunning{false};
    std::atomic<DWORD> m_nHoldEndMs{0};
};
