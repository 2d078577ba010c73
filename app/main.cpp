// Process entry: one supervisor per installed executable.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/instance_guard.h"
#include "app/instance_rules.h"
#include "names/name_rules.h"
#include "app/run.h"
#include "framework/app_module.h"
#include "framework/debug_trace.h"
#include "framework/file_identity.h"

namespace {
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

bool IsGlobalName(const std::wstring& name) { return name.rfind(L"Global\\", 0) == 0; }

// The names this installation's supervisor holds, in the order they are
// taken: the global one first, which every session of the machine sees and
// which decides; then the two that older supervisors and the installer look
// for (session-local, named from the path). A name the system cannot hold,
// for a folder too deep, is left out.
std::vector<std::wstring> InstanceNames(const std::wstring& ownPath) {
    std::vector<std::wstring> names;
    const std::wstring sid = CurrentUserSid();
    const std::wstring folder = ownPath.substr(0, ownPath.find_last_of(L'\\') + 1);
    if (!sid.empty()) names.push_back(MakeGlobalInstanceName(sid, IdentityPath(folder)));
    names.push_back(MakeCanonicalInstanceName(CanonicalPath(ownPath)));
    names.push_back(MakeInstanceName(ownPath));
    names.erase(
        std::remove_if(names.begin(), names.end(), [](const std::wstring& n) { return !ObjectNameFits(n); }),
        names.end());
    return names;
}

// Takes the names from index first on, stopping at the first that another
// may hold; returns that one's index, or names.size() when all are ours.
// Every lock is kept for the process's life (the system releases them at
// exit). Taken in this order, two starts at once cannot each hold one.
size_t TakeNames(const std::vector<std::wstring>& names, size_t first, std::vector<InstanceLock>& locks) {
    for (size_t i = first; i < names.size(); ++i) {
        locks[i] = TakeInstanceName(names[i], IsGlobalName(names[i]));
        if (locks[i].take != NameTake::Ours) return i;
    }
    return names.size();
}
}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR lpCmdLine, int nCmdShow) {
    try {
        const bool bStartInstall = HasCommandWord(SplitCommandLine(lpCmdLine), L"startInstall");
        if (bStartInstall) ::Sleep(1000);

        const std::wstring ownPath = GetOwnModulePath(nullptr);
        DebugTrace(MakeInstanceName(ownPath));
        const std::vector<std::wstring> names = InstanceNames(ownPath);
        std::vector<InstanceLock> locks(names.size());
        const size_t held = TakeNames(names, 0, locks);
        const bool bAnother = held < names.size();

        if (bStartInstall || bAnother) {
            HWND hWnd = FindInstanceWindow(hInstance);
            // Started at the same moment as the other one: its window may not
            // exist yet. Wait for it, or for that process to go.
            if (hWnd == nullptr && bAnother) {
                const bool bGlobal = IsGlobalName(names[held]);
                HANDLE hWait = locks[held].take == NameTake::Held ? locks[held].hMutex.get() : nullptr;
                const AwaitResult result = AwaitInstanceWindow(hInstance, hWait, hWnd);
                if (result == AwaitResult::NoWindow) {
                    // A supervisor we cannot even open the name of, or one
                    // whose name failed for no known reason, may run on,
                    // window or not; so may one of ours in another session,
                    // whose window we cannot see. A second one beside it
                    // would fight it over the agent.
                    if (hWait == nullptr || bGlobal) return 0;
                } else if (result == AwaitResult::OtherEnded) {
                    // Its name came to us: the ones after it go with it.
                    locks[held].take = NameTake::Ours;
                    TakeNames(names, held + 1, locks);
                }
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
