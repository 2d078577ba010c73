// The instance guard's platform half: what taking a name reports, the
// global name's access list, and an activation that a hung window cannot hold.
#include <gtest/gtest.h>
#include <aclapi.h>

#include <thread>

#include "app/instance_guard.h"
#include "app/instance_rules.h"

namespace {
std::wstring UniqueName(const wchar_t* tag) {
    return std::wstring(L"QuorvelGuardTest_") + tag + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::GetTickCount());
}
}  // namespace

TEST(InstanceGuard, ANameHeldOrFailingForNoKnownReasonNeverReadsAsFree) {
    const std::wstring name = UniqueName(L"take");
    InstanceLock first = TakeInstanceName(name, false);
    EXPECT_EQ(first.take, NameTake::Ours);
    EXPECT_EQ(TakeInstanceName(name, false).take, NameTake::Held);

    // Another kind of object under the name: CreateMutexW fails, and that
    // proves nothing about a supervisor.
    const std::wstring squatted = UniqueName(L"event");
    CHandle hEvent(::CreateEventW(nullptr, TRUE, FALSE, squatted.c_str()));
    ASSERT_TRUE(hEvent);
    const InstanceLock lock = TakeInstanceName(squatted, false);
    EXPECT_EQ(lock.take, NameTake::MayBeHeld);
    EXPECT_FALSE(lock.hMutex);
}

TEST(InstanceGuard, TheGlobalNameOpensToThisUserAndSystemOnly) {
    const std::wstring sid = CurrentUserSid();
    ASSERT_FALSE(sid.empty());
    const std::wstring name = MakeGlobalInstanceName(sid, UniqueName(L"global"));
    const InstanceLock lock = TakeInstanceName(name, true);
    ASSERT_EQ(lock.take, NameTake::Ours);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(::GetSecurityInfo(lock.hMutex.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AceCount, 2);
    ::LocalFree(sd);
    // A second start of the same user finds it held, from any session.
    EXPECT_EQ(TakeInstanceName(name, true).take, NameTake::Held);
}

TEST(InstanceGuard, ActivatingAHungWindowReturnsWithinItsBound) {
    HANDLE hCreated = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hRelease = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND hWnd = nullptr;
    // A window whose thread stops answering messages, as a hung supervisor's.
    std::thread owner([&] {
        hWnd = ::CreateWindowExW(0, L"#32770", L"hung", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                 nullptr, nullptr);
        ::SetEvent(hCreated);
        ::WaitForSingleObject(hRelease, 20000);
        ::DestroyWindow(hWnd);
    });
    ASSERT_EQ(::WaitForSingleObject(hCreated, 10000), WAIT_OBJECT_0);
    ASSERT_NE(hWnd, nullptr);

    const DWORD begin = ::GetTickCount();
    ActivateInstanceWindow(hWnd, 1000);
    EXPECT_LT(::GetTickCount() - begin, 3000u);

    ::SetEvent(hRelease);
    owner.join();
    ::CloseHandle(hCreated);
    ::CloseHandle(hRelease);
}
