// The pipe server, its readers and the output sink against a real named pipe
// and a real (hidden) edit control owned by the test thread.
#include "output/pipe_server.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "output/output_rules.h"
#include "output/output_sink.h"
#include "tests/support/win_test_support.h"
#include "ui/main_dlg.h"
#include "ui/output_view.h"

namespace {

const std::string kMarker = "%!(EXTRA []interface {}=[])";

double NowMs() {
    LARGE_INTEGER t, f;
    ::QueryPerformanceCounter(&t);
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

std::atomic<double> g_keyDownAt{0.0};  // when the host last took a key, for the input test

LRESULT CALLBACK HostWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* pSink = reinterpret_cast<COutputSink*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (uMsg == WM_APP_OUTPUT || (uMsg == WM_TIMER && wParam == IDT_OUTPUT_SYNC)) {
        if (pSink) pSink->SyncView(uMsg == WM_TIMER);
        return 0;
    }
    if (uMsg == WM_KEYDOWN) g_keyDownAt = NowMs();
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// One client of the output pipe, the way the agent writes to it.
class CPipeClient {
public:
    explicit CPipeClient(const std::wstring& name, DWORD patienceMs = 5000) {
        const ULONGLONG deadline = ::GetTickCount64() + patienceMs;
        while (::GetTickCount64() < deadline) {
            m_hPipe.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (m_hPipe) return;
            m_nError = ::GetLastError();
            if (m_nError == ERROR_PIPE_BUSY)
                ::WaitNamedPipeW(name.c_str(), 500);
            else
                ::Sleep(10);
        }
    }
    DWORD LastError() const { return m_nError; }
    bool IsOpen() const { return static_cast<bool>(m_hPipe); }
    HANDLE Handle() const { return m_hPipe.get(); }
    bool Write(const std::string& bytes) {
        DWORD written = 0;
        return ::WriteFile(m_hPipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                           nullptr) &&
               written == bytes.size();
    }
    void Close() { m_hPipe.reset(); }

private:
    CFileHandle m_hPipe;
    DWORD m_nError = 0;
};

class PipeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = HostWndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OutputTestHost";
        ::RegisterClassW(&wc);
        m_hHost = ::CreateWindowExW(0, L"OutputTestHost", L"", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr,
                                    nullptr, wc.hInstance, nullptr);
        ASSERT_NE(m_hHost, nullptr);
        m_hEdit =
            ::CreateWindowExW(0, L"EDIT", L"",
                              WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                  ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN,
                              0, 0, 580, 360, m_hHost, reinterpret_cast<HMENU>(1000), wc.hInstance, nullptr);
        ASSERT_NE(m_hEdit, nullptr);
        m_nLimit = static_cast<size_t>(::SendMessageW(m_hEdit, EM_GETLIMITTEXT, 0, 0));

        m_spSink = std::make_shared<COutputSink>();
        ::SetWindowLongPtrW(m_hHost, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(m_spSink.get()));
        m_spSink->Attach(LogViewTarget(m_hHost, m_hEdit));

        static int s_nServer = 0;
        m_strName = L"\\\\.\\pipe\\output_test_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                    std::to_wstring(++s_nServer);
        m_spServer = std::make_shared<CPipeServer>(m_strName, m_spSink);
        m_hServerThread = CPipeServer::Start(m_spServer);
        ASSERT_TRUE(m_hServerThread);
    }

    void TearDown() override {
        if (m_spServer) {
            m_spServer->Stop();
            EXPECT_TRUE(
                WaitFor([&] { return ::WaitForSingleObject(m_hServerThread.get(), 0) == WAIT_OBJECT_0; }));
        }
        if (m_spSink) m_spSink->Detach();
        if (m_hHost) ::DestroyWindow(m_hHost);
    }

    std::wstring ViewText() const {
        std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(m_hEdit)) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(m_hEdit, &text[0], static_cast<int>(text.size()))));
        return text;
    }

    // Waits until n messages were taken and the view shows all of them.
    bool WaitForChunks(size_t n) {
        return WaitFor(
            [&] { return m_spSink->GetChunkCount() >= n && ViewText() == m_spSink->GetLogText(); });
    }

    HWND m_hHost = nullptr;
    HWND m_hEdit = nullptr;
    size_t m_nLimit = 0;
    std::wstring m_strName;
    std::shared_ptr<COutputSink> m_spSink;
    std::shared_ptr<CPipeServer> m_spServer;
    CHandle m_hServerThread;
};

TEST_F(PipeServerTest, EachMessageShowsCleanedAndOnItsOwnLine) {
    struct Row {
        std::string sent;
        std::wstring shown;
    } rows[] = {
        {"abc", L"abc\r\n"},
        {"INFO,hello", L"hello\r\n"},
        {"a,b,c", L"b,c\r\n"},
        {",x", L"x\r\n"},
        {"x,", L"\r\n"},
        {"done\n" + kMarker, L"done\n"},
        {kMarker, L"\r\n"},
        {"ab" + kMarker + "cd", L"abcd\r\n"},
        {"ab" + kMarker + kMarker, L"ab"},
        {"x,abc" + kMarker, L"abc"},
        {kMarker.substr(0, 9) + kMarker + kMarker.substr(9), L"\r\n"},
        {std::string("\0abc", 4), L"\r\n"},
        {std::string("ab\0cd", 5), L"ab\r\n"},
        {"I,\xE4\xBD\xA0\xE5\xA5\xBD", L"\x4F60\x597D\r\n"},
        {"I,\xE4\xB8z\xFF", L"\xFFFDz\xFFFD\r\n"},
    };
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    std::wstring expected;
    size_t n = 0;
    for (const Row& row : rows) {
        ASSERT_TRUE(client.Write(row.sent));
        expected += row.shown;
        ASSERT_TRUE(WaitForChunks(++n));
        EXPECT_EQ(ViewText(), expected) << "after message " << n;
    }
    // The caret stands after the last character.
    DWORD selStart = 0, selEnd = 0;
    ::SendMessageW(m_hEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                   reinterpret_cast<LPARAM>(&selEnd));
    EXPECT_EQ(selStart, expected.size());
    EXPECT_EQ(selEnd, expected.size());
}

TEST_F(PipeServerTest, TwoClientsAtOnceAreBothShownInTheirOwnOrder) {
    CPipeClient first(m_strName), second(m_strName);
    ASSERT_TRUE(first.IsOpen());
    ASSERT_TRUE(second.IsOpen());
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(first.Write("I,first " + std::to_string(i)));
        ASSERT_TRUE(second.Write("I,second " + std::to_string(i)));
    }
    ASSERT_TRUE(WaitForChunks(100));
    const std::wstring view = ViewText();
    size_t posFirst = 0, posSecond = 0;
    for (int i = 0; i < 50; ++i) {
        posFirst = view.find(L"first " + std::to_wstring(i) + L"\r\n", posFirst);
        posSecond = view.find(L"second " + std::to_wstring(i) + L"\r\n", posSecond);
        ASSERT_NE(posFirst, std::wstring::npos) << i;
        ASSERT_NE(posSecond, std::wstring::npos) << i;
    }
    EXPECT_EQ(view.size(), 50 * (9 + 10) + 40 + 40u);
}

TEST_F(PipeServerTest, LongMessagesShowWholeAndTheConnectionStaysOpen) {
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    const std::wstring whole4096 = std::wstring(4094, L'a') + L"\r\n";
    const std::wstring whole5000 = std::wstring(4998, L'b') + L"\r\n";
    ASSERT_TRUE(client.Write("L," + std::string(4094, 'a')));
    ASSERT_TRUE(WaitForChunks(1));
    EXPECT_EQ(ViewText(), whole4096);
    ASSERT_TRUE(client.Write("L," + std::string(4998, 'b')));
    ASSERT_TRUE(WaitForChunks(2));
    EXPECT_EQ(ViewText(), whole4096 + whole5000);
    // 25000 units do not fit beside the rest: whole lines go first.
    ASSERT_TRUE(client.Write("L," + std::string(25000, 'c')));
    ASSERT_TRUE(client.Write("after"));
    ASSERT_TRUE(WaitForChunks(4));
    EXPECT_EQ(ViewText(), std::wstring(25000, L'c') + L"\r\nafter\r\n");
}

TEST_F(PipeServerTest, EmptyMessageEndsTheConnectionAndTheNextClientIsHeard) {
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.Write("one"));
    ASSERT_TRUE(client.Write(""));
    // The server drops the connection: further writes fail before long.
    const bool ended = WaitFor([&] { return !client.Write("lost"); }, 5000);
    EXPECT_TRUE(ended);
    CPipeClient next(m_strName);
    ASSERT_TRUE(next.IsOpen());
    ASSERT_TRUE(next.Write("three"));
    ASSERT_TRUE(WaitFor([&] { return ViewText().find(L"three") != std::wstring::npos; }));
    EXPECT_EQ(ViewText(), L"one\r\nthree\r\n");
}

TEST_F(PipeServerTest, TrimKeepsTheLatestLinesWithinTheViewLimit) {
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    const int count = 3000;
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(client.Write("I,line " + std::to_string(i) + " " + std::string(30, '.')));
    ASSERT_TRUE(WaitForChunks(count));
    const std::wstring view = ViewText();
    EXPECT_LE(view.size(), m_nLimit);
    // The lines shown are the latest ones, whole and in order, ending with the last message.
    const std::wstring dots(30, L'.');
    const std::wstring last = L"line " + std::to_wstring(count - 1) + L" " + dots + L"\r\n";
    ASSERT_GE(view.size(), last.size());
    EXPECT_EQ(view.substr(view.size() - last.size()), last);
    const size_t firstNumber = std::stoul(view.substr(5));
    size_t pos = 0;
    for (size_t i = firstNumber; i < static_cast<size_t>(count); ++i) {
        const std::wstring line = L"line " + std::to_wstring(i) + L" " + dots + L"\r\n";
        ASSERT_EQ(view.compare(pos, line.size(), line), 0) << i;
        pos += line.size();
    }
    EXPECT_EQ(pos, view.size());
}

TEST_F(PipeServerTest, MegabyteWithoutLineEndsKeepsTextAndViewBounded) {
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    const std::string body(1000, 'z');
    for (int i = 0; i < 1024; ++i) ASSERT_TRUE(client.Write(i % 2 ? "I," + body : "I," + body + kMarker));
    ASSERT_TRUE(WaitForChunks(1024));
    EXPECT_LE(m_spSink->GetLogText().size(), m_nLimit);
    EXPECT_LE(ViewText().size(), m_nLimit);
    EXPECT_EQ(ViewText().substr(ViewText().size() - 1002), std::wstring(1000, L'z') + L"\r\n");
}

TEST_F(PipeServerTest, ReadersKeepDrainingWhileTheUiThreadIsBusy) {
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    // No messages are dispatched here: a reader that waited on this thread
    // would stall, and with it the writes once the pipe buffer is full.
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(client.Write("I,busy " + std::to_string(i) + std::string(200, '-')));
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (m_spSink->GetChunkCount() < 500 && ::GetTickCount64() < deadline) ::Sleep(5);
    EXPECT_EQ(m_spSink->GetChunkCount(), 500u);
    // Everything piled up arrives with the next dispatch.
    ASSERT_TRUE(WaitForChunks(500));
    EXPECT_NE(ViewText().find(L"busy 499"), std::wstring::npos);
}

TEST_F(PipeServerTest, VisibleViewStaysVisibleAndShowsTheLastLine) {
    ::ShowWindow(m_hHost, SW_SHOWNOACTIVATE);
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(client.Write("I,shown " + std::to_string(i)));
    ASSERT_TRUE(WaitForChunks(300));
    EXPECT_TRUE(::GetWindowLongPtrW(m_hEdit, GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(::IsWindowVisible(m_hEdit));
    const std::wstring view = ViewText();
    EXPECT_EQ(view.substr(view.size() - 11), L"shown 299\r\n");
    // The last character sits inside the client area: scrolled to the end.
    const LRESULT pos = ::SendMessageW(m_hEdit, EM_POSFROMCHAR, view.size() - 3, 0);
    RECT rc;
    ::GetClientRect(m_hEdit, &rc);
    const int y = static_cast<short>(HIWORD(pos));
    EXPECT_GE(y, 0);
    EXPECT_LT(y, rc.bottom);
    EXPECT_GT(::SendMessageW(m_hEdit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST_F(PipeServerTest, ReadersOutliveTheViewWithoutTouchingIt) {
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.Write("before"));
    ASSERT_TRUE(WaitForChunks(1));
    m_spSink->Detach();
    ::DestroyWindow(m_hHost);
    m_hHost = nullptr;
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(client.Write("after " + std::to_string(i)));
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (m_spSink->GetChunkCount() < 101 && ::GetTickCount64() < deadline) ::Sleep(5);
    EXPECT_EQ(m_spSink->GetChunkCount(), 101u);
    EXPECT_NE(m_spSink->GetLogText().find(L"after 99\r\n"), std::wstring::npos);
}

TEST_F(PipeServerTest, MessagesAreDecodedByThePlatform) {
    const std::string samples[] = {
        "ok\xF0"
        "A",
        "a\x80z", "\xE4\xB8z\xFF", "\xF0\x9F\x98\x80 smile"};
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    std::wstring expected;
    size_t n = 0;
    for (const std::string& bytes : samples) {
        ASSERT_TRUE(client.Write(bytes));
        wchar_t decoded[64] = {};
        ::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, decoded, 64);
        expected += decoded + std::wstring(L"\r\n");
        ASSERT_TRUE(WaitForChunks(++n));
    }
    EXPECT_EQ(ViewText(), expected);
    // Windows keeps what follows a broken sequence (Wine's decoder drops it).
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
        EXPECT_EQ(ViewText().substr(0, 5), std::wstring({L'o', L'k', wchar_t(0xFFFD), L'A', L'\r'}));
    }
}

// A writer that keeps the sink busy until told to stop, at most 2000
// messages ahead of it (Wine's pipes take writes without bound).
void Flood(const std::wstring& name, COutputSink& sink, const std::atomic<bool>& stop) {
    CPipeClient client(name);
    const std::string message = "I,flood " + std::string(90, '.');
    for (size_t written = 0, base = sink.GetChunkCount(); !stop && client.IsOpen(); ++written) {
        while (written > sink.GetChunkCount() - base + 2000 && !stop) ::Sleep(1);
        if (!client.Write(message)) return;
    }
}

TEST_F(PipeServerTest, KeysReachTheWindowPromptlyDuringAFlood) {
    ::ShowWindow(m_hHost, SW_SHOWNORMAL);
    ::SetForegroundWindow(m_hHost);
    ::SetFocus(m_hHost);
    ASSERT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == m_hHost; }, 5000));
    std::atomic<bool> stop{false};
    std::thread writer(Flood, m_strName, std::ref(*m_spSink), std::cref(stop));
    ASSERT_TRUE(WaitFor([&] { return m_spSink->GetChunkCount() > 2000; }));
    std::vector<double> delays;
    for (int i = 0; i < 20 && ::GetForegroundWindow() == m_hHost; ++i) {
        g_keyDownAt = 0.0;
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_F9;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        const double sent = NowMs();
        ::SendInput(2, keys, sizeof(INPUT));
        WaitFor([&] { return g_keyDownAt.load() != 0.0; }, 3000);
        delays.push_back(g_keyDownAt.load() != 0.0 ? g_keyDownAt.load() - sent : 3000.0);
        WaitFor([] { return false; }, 30);
    }
    stop = true;
    writer.join();
    ASSERT_EQ(delays.size(), 20u) << "the window lost the foreground";
    std::sort(delays.begin(), delays.end());
    EXPECT_LT(delays.back(), 100.0) << "median " << delays[delays.size() / 2] << " ms";
}

TEST_F(PipeServerTest, PipeLetsInOnlyThisUserAndSystem) {
    CPipeClient client(m_strName);
    ASSERT_TRUE(client.IsOpen());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR pSd = nullptr;
    ASSERT_EQ(::GetSecurityInfo(client.Handle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &pSd),
              static_cast<DWORD>(ERROR_SUCCESS));
    std::unique_ptr<void, decltype(&::LocalFree)> sd(pSd, &::LocalFree);
    ASSERT_NE(dacl, nullptr) << "no DACL: everyone may connect";
    HANDLE hToken = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken));
    CHandle token(hToken);
    BYTE user[256];
    DWORD size = sizeof(user);
    ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, user, size, &size));
    BYTE system[SECURITY_MAX_SID_SIZE];
    size = sizeof(system);
    ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    bool userIn = false, systemIn = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* pAce = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &pAce));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(pAce);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        PSID sid = &ace->SidStart;
        const bool isUser = ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) != FALSE;
        const bool isSystem = ::EqualSid(sid, system) != FALSE;
        EXPECT_TRUE(isUser || isSystem) << "access allowed to another account (entry " << i << ")";
        userIn = userIn || isUser;
        systemIn = systemIn || isSystem;
    }
    EXPECT_TRUE(userIn);
    EXPECT_TRUE(systemIn);
}

TEST_F(PipeServerTest, ReadersAreBoundedAndAClientBeyondWaitsForAFreeOne) {
    std::vector<std::unique_ptr<CPipeClient>> busy;
    for (long i = 0; i < kMaxPipeReaders; ++i) {
        busy.push_back(std::make_unique<CPipeClient>(m_strName));
        ASSERT_TRUE(busy.back()->IsOpen());
        ASSERT_TRUE(busy.back()->Write("busy " + std::to_string(i)));
    }
    ASSERT_TRUE(WaitForChunks(static_cast<size_t>(kMaxPipeReaders)));
    // One more is connected but has no reader; the one after finds the pipe busy.
    CPipeClient waiting(m_strName);
    ASSERT_TRUE(waiting.IsOpen());
    ASSERT_TRUE(waiting.Write("late"));
    CPipeClient refused(m_strName, 300);
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_EQ(refused.LastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(m_spSink->GetChunkCount(), static_cast<size_t>(kMaxPipeReaders));
    // A reader comes free: the waiting client is heard; the next one connects
    // at once and is heard when another reader comes free.
    busy[0]->Close();
    ASSERT_TRUE(WaitFor([&] { return ViewText().find(L"late\r\n") != std::wstring::npos; }));
    CPipeClient next(m_strName);
    ASSERT_TRUE(next.IsOpen());
    ASSERT_TRUE(next.Write("next"));
    busy[1]->Close();
    EXPECT_TRUE(WaitFor([&] { return ViewText().find(L"next\r\n") != std::wstring::npos; }));
}

// A process that created the pipe's name first: the server never serves
// beside it, never gives up, and takes the name once it is free.
TEST(PipeServerNameTest, ANameTakenEarlierIsNeverServedBesideAndTakenOnceFree) {
    for (const DWORD maxInstances : {DWORD{1}, DWORD{PIPE_UNLIMITED_INSTANCES}}) {
        const std::wstring name = L"\\\\.\\pipe\\output_taken_" + std::to_wstring(::GetCurrentProcessId()) +
                                  L"_" + std::to_wstring(maxInstances);
        CFileHandle stranger(::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND,
                                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, maxInstances, 4096,
                                                4096, 0, nullptr));
        ASSERT_TRUE(stranger);
        CPipeClient strangersClient(name);  // takes the stranger's instance
        ASSERT_TRUE(strangersClient.IsOpen());
        auto spSink = std::make_shared<COutputSink>();
        auto spServer = std::make_shared<CPipeServer>(name, spSink);
        CHandle hThread = CPipeServer::Start(spServer);
        ASSERT_TRUE(hThread);
        ::Sleep(500);
        {
            CPipeClient client(name, 300);
            EXPECT_FALSE(client.IsOpen()) << "an instance was created beside the stranger's";
        }
        strangersClient.Close();
        stranger.reset();
        CPipeClient client(name);
        ASSERT_TRUE(client.IsOpen()) << "the server gave up";
        ASSERT_TRUE(client.Write("mine"));
        const ULONGLONG deadline = ::GetTickCount64() + 5000;
        while (spSink->GetChunkCount() == 0 && ::GetTickCount64() < deadline) ::Sleep(10);
        EXPECT_EQ(spSink->GetLogText(), L"mine\r\n");
        client.Close();
        spServer->Stop();
        EXPECT_EQ(::WaitForSingleObject(hThread.get(), 5000), WAIT_OBJECT_0);
    }
}

}  // namespace
