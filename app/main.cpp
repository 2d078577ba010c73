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
// A name that another supervisor holds: it exists, or it was created by one
// that runs elevated and we may not open it.
bool HeldByAnother(DWORD createError) {
    return createError == ERROR_ALREADY_EXISTS || createError == ERROR_ACCESS_DENIED;
}

enum class AwaitResult { Window, OtherEnded, NoWindow };

// The window of a supervisor that holds an instance mutex but has not shown
// its window yet. OtherEnded when that supervisor ends (the mutex comes to
// us); NoWindow when none appears within the patience. Without a mutex to
// wait on (hMutex null) only the window is looked for.
AwaitResult AwaitInstanceWindow(HINSTANCE hInstance, HANDLE hMutex, HWND& hWnd) {
    constexpr DWORD kPatienceMs = 10000;
    constexpr DWORD kStepMs = 100;
    for (DWORD waited = 0; waited < kPatienceMs; waited += kStepMs) {
        if (hMutex != nullptr) {
            const DWORD result = ::WaitForSingleObject(hMutex, kStepMs);
            if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return AwaitResult::OtherEnded;
        } else {
            ::Sleep(kStepMs);
        }
        if ((hWnd = FindInstanceWindow(hInstance)) != nullptr) return AwaitResult::Window;
    }
    return AwaitResult::NoWindow;
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

        const std::wstring ownPath = GetOwnModulePath(nullptr);
        const std::wstring instanceName = MakeInstanceName(ownPath);
        DebugTrace(instanceName);
        // Both owned for the whole life of the process; the system releases
        // them at exit. The canonical one, where every spelling of this
        // installation meets, decides; only its owner also takes the one
        // named from the path as spelled (an installer may look for that
        // one). Taken in this order, two starts at once cannot each hold one.
        const std::wstring canonicalName = MakeCanonicalInstanceName(CanonicalPath(ownPath));
        HANDLE hCanonical = ::CreateMutexW(nullptr, TRUE, canonicalName.c_str());
        const DWORD canonicalError = ::GetLastError();
        HANDLE hMutex = nullptr;
        DWORD createError = ERROR_SUCCESS;
        if (!HeldByAnother(canonicalError)) {
            hMutex = ::CreateMutexW(nullptr, TRUE, instanceName.c_str());
            createError = ::GetLastError();
        }
        const bool bAnother = HeldByAnother(canonicalError) || HeldByAnother(createError);

        if (bStartInstall || bAnother) {
            HWND hWnd = FindInstanceWindow(hInstance);
            // Started at the same moment as the other one: its window may not
            // exist yet. Wait for it, or for that process to go.
            if (hWnd == nullptr && bAnother) {
                HANDLE hWait = canonicalError == ERROR_ALREADY_EXISTS ? hCanonical
                               : createError == ERROR_ALREADY_EXISTS  ? hMutex
                                                                      : nullptr;
                const AwaitResult result = AwaitInstanceWindow(hInstance, hWait, hWnd);
                // A supervisor we cannot even open the name of runs on, window
                // or not; a second one beside it would fight it over the agent.
                if (result == AwaitResult::NoWindow && hWait == nullptr) return 0;
                // The other one ended and its canonical mutex came to us: the
                // spelled one goes with it.
                if (result == AwaitResult::OtherEnded && hWait == hCanonical)
                    hMutex = ::CreateMutexW(nullptr, TRUE, instanceName.c_str());
            }
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
