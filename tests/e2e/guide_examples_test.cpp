// The minimal agents of the agent authors' guide really are heard.
#include <gtest/gtest.h>

#include "resource.h"
#include "tests/e2e/e2e_support.h"

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
