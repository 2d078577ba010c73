// The minimal agents of the agent authors' guide really are heard.
#include <gtest/gtest.h>

#include "names/name_rules.h"
#include "resource.h"
#include "tests/support/e2e_support.h"

using namespace e2e;

namespace {
void ExpectExampleIsShown(const wchar_t* exeName, const wchar_t* greeting, const wchar_t* goodbye) {
    TempInstall install(false);
    ASSERT_TRUE(
        ::CopyFileW((OwnDir() + L"examples\\" + exeName).c_str(), install.AgentPath().c_str(), FALSE));
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    HWND log = ::GetDlgItem(sup.m_hWnd, IDC_LOG_EDIT);
    EXPECT_TRUE(WaitUntil([&] { return ReadWindowText(log).find(greeting) != std::wstring::npos; }, 20s))
        << Narrow(ReadWindowText(log));
    // The level before the first comma is not shown, and each message ends a line.
    EXPECT_TRUE(
        WaitUntil([&] { return ReadWindowText(log).find(L"tick 1\r\n") != std::wstring::npos; }, 20s));
    EXPECT_EQ(ReadWindowText(log).find(L"INFO,"), std::wstring::npos);
    // It takes the ask to end: says goodbye and exits well within the grace.
    const DWORD stopAt = ::GetTickCount();
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil([&] { return ReadWindowText(log).find(goodbye) != std::wstring::npos; }, 5s));
    EXPECT_TRUE(WaitUntil([&] { return sup.ControlText(ID_AGENT_START) == L"Start"; }, 5s));
    EXPECT_LT(::GetTickCount() - stopAt, 1500u);
}
}  // namespace

TEST(GuideExamples, TheCppMinimalAgentIsShownInTheLog) {
    ExpectExampleIsShown(L"minimal_agent_cpp.exe", L"hello from the minimal C++ agent\r\n",
                         L"goodbye from the minimal C++ agent\r\n");
}

TEST(GuideExamples, TheCMinimalAgentIsShownInTheLog) {
    ExpectExampleIsShown(L"minimal_agent_c.exe", L"hello from the minimal C agent\r\n",
                         L"goodbye from the minimal C agent\r\n");
}

namespace {
// Serves the pipe of an agent (a path under this program's folder) from this
// process and starts it as a supervisor with id supervisorPid would; the
// first message it writes, or "" when it wrote nothing within a few seconds.
std::string FirstMessageServedByUs(const wchar_t* exe, DWORD supervisorPid) {
    TempInstall install(false);
    if (!::CopyFileW((OwnDir() + exe).c_str(), install.AgentPath().c_str(), FALSE))
        FailSetup("cannot copy the agent");
    const std::wstring name = MakePipeName(install.AgentPath());
    HANDLE hPipe = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, nullptr);
    if (hPipe == INVALID_HANDLE_VALUE) FailSetup("cannot create the pipe");
    ::SetEnvironmentVariableW(L"QUORVEL_SUPERVISOR_PID", std::to_wstring(supervisorPid).c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + install.AgentPath() + L"\"";
    const BOOL started = ::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                          nullptr, install.AgentDir().c_str(), &si, &pi);
    ::SetEnvironmentVariableW(L"QUORVEL_SUPERVISOR_PID", nullptr);
    if (!started) FailSetup("cannot start the agent");
    std::string message;
    OVERLAPPED ov = {};
    ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char buffer[4096];
    DWORD n = 0;
    // Connect, then read, each within the same few seconds.
    if (::ConnectNamedPipe(hPipe, &ov) || ::GetLastError() == ERROR_PIPE_CONNECTED ||
        (::GetLastError() == ERROR_IO_PENDING && ::WaitForSingleObject(ov.hEvent, 5000) == WAIT_OBJECT_0)) {
        ::ResetEvent(ov.hEvent);
        if (::ReadFile(hPipe, buffer, sizeof(buffer), &n, &ov) ||
            (::GetLastError() == ERROR_IO_PENDING &&
             ::WaitForSingleObject(ov.hEvent, 3000) == WAIT_OBJECT_0 &&
             ::GetOverlappedResult(hPipe, &ov, &n, FALSE)))
            message.assign(buffer, n);
    }
    ::CancelIo(hPipe);
    ::TerminateProcess(pi.hProcess, 0);
    ::WaitForSingleObject(pi.hProcess, 5000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(ov.hEvent);
    ::CloseHandle(hPipe);
    return message;
}
}  // namespace

TEST(GuideExamples, BothExamplesAndTheDemoAgentWriteOnlyToThePipeOfTheSupervisorThatStartedThem) {
    if (::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetNamedPipeServerProcessId") == nullptr)
        GTEST_SKIP() << "the system cannot name a pipe's server";
    for (const wchar_t* exe :
         {L"examples\\minimal_agent_cpp.exe", L"examples\\minimal_agent_c.exe", L"bin\\Tollvane.exe"}) {
        EXPECT_EQ(FirstMessageServedByUs(exe, ::GetCurrentProcessId()).rfind("INFO,", 0), 0u) << Narrow(exe);
        // Started by another supervisor: this pipe is a stranger's.
        EXPECT_EQ(FirstMessageServedByUs(exe, ::GetCurrentProcessId() + 4), "") << Narrow(exe);
    }
}
