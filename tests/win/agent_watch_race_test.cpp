// Start and Stop against the watch thread at awkward moments, with the real
// CMainDlg agent code and the demo agent, but no window: the dialog's
// commands are called from this thread as the UI thread would.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "framework/wait.h"
#include "ui/main_dlg.h"

namespace {

// Polls while serving this thread's messages: the watch thread's button
// updates are sent to the buttons this thread owns.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        if (done()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

std::wstring ExeDir() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.rfind(L'\\') + 1);
}

// Ids of the processes whose executable lies under dir.
std::vector<DWORD> ProcessesUnder(const std::wstring& dir) {
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

// Marks a copy of the demo agent as a window-subsystem program. Started by
// this console test, a console agent would get a console host of its own
// that outlives the test and holds the test runner's output open; the
// agent's behaviour does not depend on its console.
bool MakeWindowsProgram(const std::wstring& exe) {
    HANDLE file =
        ::CreateFileW(exe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS nt = {};  // the demo agent is built for this test's own architecture
    DWORD done = 0;
    bool ok = ::ReadFile(file, &dos, sizeof(dos), &done, nullptr) && done == sizeof(dos) &&
              dos.e_magic == IMAGE_DOS_SIGNATURE &&
              ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              ::ReadFile(file, &nt, sizeof(nt), &done, nullptr) && done == sizeof(nt) &&
              nt.Signature == IMAGE_NT_SIGNATURE && nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR_MAGIC;
    if (ok) {
        nt.OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
        ok = ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
             ::WriteFile(file, &nt, sizeof(nt), &done, nullptr) && done == sizeof(nt);
    }
    ::CloseHandle(file);
    return ok;
}

class AgentWatchRaces : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        ::SetEnvironmentVariableW(L"TOLLVANE_TEST_AGENT", L"1");
        m_dir = std::wstring(temp) + L"qt-race-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount()) + L"\\";
        ::CreateDirectoryW(m_dir.c_str(), nullptr);
        ::CreateDirectoryW((m_dir + L"bin").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW((ExeDir() + L"bin\\Tollvane.exe").c_str(),
                                (m_dir + L"bin\\Tollvane.exe").c_str(), FALSE));
        ASSERT_TRUE(MakeWindowsProgram(m_dir + L"bin\\Tollvane.exe"));
        HANDLE script = ::CreateFileW((m_dir + L"bin\\agent-script.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(script, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ::WriteFile(script, "hang\n", 5, &written, nullptr);
        ::CloseHandle(script);
        m_dlg.m_strModuleDir = m_dir;
        // Stand-ins for the dialog and its two buttons, owned by this thread
        // like the real ones are by the UI thread.
        m_hHost =
            ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        m_hStart = ::CreateWindowExW(0, L"BUTTON", L"Start", WS_CHILD, 0, 0, 5, 5, m_hHost,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_AGENT_START)), nullptr,
                                     nullptr);
        m_hStop =
            ::CreateWindowExW(0, L"BUTTON", L"Stop", WS_CHILD, 0, 0, 5, 5, m_hHost,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_AGENT_STOP)), nullptr, nullptr);
        ASSERT_NE(m_hStop, nullptr);
        m_dlg.m_hWnd = m_hHost;
    }

    void TearDown() override {
        m_dlg.StopAgent();
        EXPECT_TRUE(WatchThreadEnds());
        for (DWORD pid : ProcessesUnder(m_dir)) {
            HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
            if (h == nullptr) continue;
            ::TerminateProcess(h, 0);
            ::WaitForSingleObject(h, 2000);
            ::CloseHandle(h);
        }
        for (const wchar_t* file : {L"bin\\Tollvane.exe", L"bin\\agent-script.txt", L"bin\\agent-runs.log"})
            ::DeleteFileW((m_dir + file).c_str());
        ::RemoveDirectoryW((m_dir + L"bin").c_str());
        ::RemoveDirectoryW(m_dir.c_str());
        m_dlg.m_hWnd = nullptr;
        ::DestroyWindow(m_hHost);
    }

    bool WatchThreadEnds() {
        CHandle hThread = m_dlg.DuplicateWatchThread();
        return !hThread ||
               WaitFor([&] { return ::WaitForSingleObject(hThread.get(), 0) == WAIT_OBJECT_0; }, 10000);
    }
    std::vector<DWORD> Agents() const { return ProcessesUnder(m_dir + L"bin\\"); }

    // This executable has no string table, so the Start button's text is
    // left to the end-to-end tests.
    bool ShowsStopped() const { return !::IsWindowEnabled(m_hStop); }
    bool ShowsRunning() const { return ::IsWindowEnabled(m_hStop) != FALSE; }

    std::wstring m_dir;
    CMainDlg m_dlg{false};
    HWND m_hHost = nullptr;
    HWND m_hStart = nullptr;
    HWND m_hStop = nullptr;
    std::mt19937 m_random{12345};
};

TEST_F(AgentWatchRaces, AStopAtAnyMomentOfACycleLeavesNoAgentRunning) {
    std::uniform_int_distribution<DWORD> delay(0, 80);
    for (int round = 0; round < 25; ++round) {
        m_dlg.StartAgent();
        ::Sleep(delay(m_random));
        m_dlg.StopAgent();
        // An agent launched after the Stop's kill would keep the thread
        // waiting on it.
        ASSERT_TRUE(WatchThreadEnds()) << "round " << round;
        ASSERT_TRUE(WaitFor([&] { return Agents().empty(); }, 3000)) << "round " << round;
        EXPECT_TRUE(ShowsStopped());
    }
}

TEST_F(AgentWatchRaces, AStartRightAfterAStopAlwaysEndsWithOneAgentRunning) {
    m_dlg.StartAgent();
    ASSERT_TRUE(WaitFor([&] { return Agents().size() == 1; }, 10000));
    std::uniform_int_distribution<DWORD> delay(0, 40);
    for (int round = 0; round < 25; ++round) {
        m_dlg.StopAgent();
        // Not serving messages here holds a watch thread that has decided to
        // end in its button update, so the Start below finds it still there.
        ::Sleep(delay(m_random));
        m_dlg.StartAgent();
        // A Start that found a watch thread about to end must not be lost.
        ASSERT_TRUE(WaitFor(
            [&] { return Agents().size() == 1 && m_dlg.DuplicateWatchThread() && ShowsRunning(); }, 5000))
            << "round " << round << ": " << Agents().size() << " agents";
    }
    ::Sleep(500);
    EXPECT_EQ(Agents().size(), 1u);
}

}  // namespace
