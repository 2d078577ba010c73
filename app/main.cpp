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
            if (HWND hWnd = FindInstanceWindow(hInstance)) {
                ActivateInstanceWindow(hWnd);
                return 0;
            }
        }
        return RunSupervisor(hInstance, lpCmdLine, nCmdShow);
    } catch (...) {
        return 0;
    }
}
