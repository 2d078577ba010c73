// Process entry: one supervisor per installed executable.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/command_line.h"
#include "app/instance_guard.h"
#include "app/instance_rules.h"
#include "app/name_rules.h"
#include "app/run.h"
#include "framework/app_module.h"
#include "framework/debug_trace.h"

namespace {
// True when a supervisor of this executable should be brought forward instead
// of starting a second one.
bool AnotherInstanceToActivate(bool bStartInstall, HANDLE hMutex, DWORD createError) {
    if (bStartInstall) return true;
    return hMutex != nullptr && createError == ERROR_ALREADY_EXISTS;
}

// The window of a supervisor that holds the instance mutex but has not shown
// its window yet; null when that supervisor ends (the mutex comes to us) or
// no window appears within the patience.
HWND AwaitInstanceWindow(HINSTANCE hInstance, HANDLE hMutex) {
    constexpr DWORD kPatienceMs = 10000;
    constexpr DWORD kStepMs = 100;
    for (DWORD waited = 0; waited < kPatienceMs; waited += kStepMs) {
        const DWORD result = ::WaitForSingleObject(hMutex, kStepMs);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return nullptr;
        if (HWND hWnd = FindInstanceWindow(hInstance)) return hWnd;
    }
    return nullptr;
}

int RunSupervisor(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow) {
    const HRESULT hrCom = ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    g_Module.Init(hInstance);
    const int nRet = Run(lpCmdLine, nCmdShow);
    g_Module.Term();
    if (SUCCEEDED(hrCom)) ::CoUninitialize();
    return nRet;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR lpCmdLine, int nCmdShow) {
    try {
        const bool bStartInstall = HasCommandWord(SplitCommandLine(lpCmdLine), L"startInstall");
        if (bStartInstall) ::Sleep(1000);

        const std::wstring instanceName = MakeInstanceName(GetOwnModulePath(nullptr));
        DebugTrace(instanceName);
        // Owned for the whole life of the process; the system releases it at exit.
        HANDLE hMutex = ::CreateMutexW(nullptr, TRUE, instanceName.c_str());
        const DWORD createError = ::GetLastError();

        if (AnotherInstanceToActivate(bStartInstall, hMutex, createError)) {
            HWND hWnd = FindInstanceWindow(hInstance);
            // Started at the same moment as the other one: its window may not
            // exist yet. Wait for it, or for that process to go.
            if (hWnd == nullptr && createError == ERROR_ALREADY_EXISTS)
                hWnd = AwaitInstanceWindow(hInstance, hMutex);
            if (hWnd != nullptr) {
                ActivateInstanceWindow(hWnd);
                return 0;
            }
        }
        return RunSupervisor(hInstance, lpCmdLine, nCmdShow);
    } catch (...) {
        return 0;
    }
}
