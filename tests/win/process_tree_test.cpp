// Ending the agent's tree asks for no more than it needs: a process that
// lets us query it only in the limited way, and end it, is still found by
// its path and ended.
#include <gtest/gtest.h>
#include <aclapi.h>

#include "framework/handle.h"
#include "framework/user_security.h"
#include "supervision/process_tree.h"
#include "tests/support/win_test_support.h"

TEST(ProcessTree, AnAgentProcessThatGrantsOnlyLimitedQueryAndTerminateIsEnded) {
    const std::wstring dir = MakeTestDir(L"qt-rights-");
    const std::wstring exe = dir + L"Tollvane.exe";
    ASSERT_TRUE(::CopyFileW((ExeDir() + L"bin\\Tollvane.exe").c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(WriteTextFile(dir + L"agent-script.txt", "hang\n"));
    // No memory reads and no full query for anyone: what a guarded process allows.
    CUserOnlySecurity security(PROCESS_TERMINATE | 0x1000 /* limited query */ | SYNCHRONIZE);
    ASSERT_NE(security.Get(), nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + exe + L"\"";
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), &cmd[0], security.Get(), nullptr, FALSE, CREATE_NO_WINDOW,
                                 nullptr, dir.c_str(), &si, &pi));
    CHandle hProcess(pi.hProcess);
    CHandle hThread(pi.hThread);

    KillAgentTree(dir.substr(0, dir.size() - 1));
    EXPECT_EQ(::WaitForSingleObject(hProcess.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    ::TerminateProcess(hProcess.get(), 0);
    EndProcessesUnder(dir);
}
