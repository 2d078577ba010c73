// Process entry: one supervisor per installed executable.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <functional>
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

// The window of a supervisor that holds the user's lock or an instance name
// but has not shown its window yet. OtherEnded when that supervisor ends
// (otherEnded, given up to a step's time to wait, says so); NoWindow when
// none appears within the patience.
AwaitResult AwaitInstanceWindow(HINSTANCE hInstance, const std::function<bool(DWORD)>& otherEnded,
                                HWND& hWnd) {
    constexpr DWORD kPatienceMs = 10000;
    constexpr DWORD kStepMs = 100;
    for (DWORD waited = 0; waited < kPatienceMs; waited += kStepMs) {
        if (otherEnded(kStepMs)) return AwaitResult::OtherEnded;
        if ((hWnd = FindInstanceWindow(hInstance)) != nullptr) return AwaitResult::Window;
    }
    return AwaitResult::NoWindow;
}

// Waits a step on a name's mutex, or only the step without one (a name we
// may not open); true once the mutex came to us.
std::function<bool(DWORD)> EndOfHolder(HANDLE hMutex) {
    return [hMutex](DWORD stepMs) {
        if (hMutex == nullptr) {
            ::Sleep(stepMs);
            return false;
        }
        const DWORD result = ::WaitForSingleObject(hMutex, stepMs);
        return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    };
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

// The supervisor's folder, with its trailing backslash.
std::wstring FolderOf(const std::wstring& ownPath) {
    return ownPath.substr(0, ownPath.find_last_of(L'\\') + 1);
}

// The names this installation's supervisor holds, in the order they are
// taken: the global one first, which every session of the machine sees and
// which decides; then the two that older supervisors and the installer look
// for (session-local, named from the path). A name the system cannot hold,
// for a folder too deep, is left out.
std::vector<std::wstring> InstanceNames(const std::wstring& ownPath) {
    std::vector<std::wstring> names;
    const std::wstring sid = CurrentUserSid();
    if (!sid.empty()) names.push_back(MakeGlobalInstanceName(sid, IdentityPath(FolderOf(ownPath))));
    names.push_back(MakeCanonicalInstanceName(CanonicalPath(ownPath)));
    names.push_back(MakeInstanceName(ownPath));
    names.erase(
        std::remove_if(names.begin(), names.end(), [](const std::wstring& n) { return !ObjectNameFits(n); }),
        names.end());
    return names;
}

// Takes the names from index first on, stopping at the first that another
// may hold; returns that one's index, or names.size() when all are ours.
// With the user's lock ours (bLockOurs) a name that only another program
// can hold is passed by, and the journal says so. Every lock is kept for the
// process's life (the system releases them at exit). Taken in this order,
// two starts at once cannot each hold one.
size_t TakeNames(const std::vector<std::wstring>& names, size_t first, std::vector<InstanceLock>& locks,
                 bool bLockOurs, const std::wstring& ownPath) {
    for (size_t i = first; i < names.size(); ++i) {
        locks[i] = TakeInstanceName(names[i], IsGlobalName(names[i]));
        if (locks[i].take == NameTake::Ours) continue;
        if (JudgeHeldName(bLockOurs, IsGlobalName(names[i]), static_cast<bool>(locks[i].hMutex)) !=
            HeldName::PassBy)
            return i;
        NoteInJournal(ownPath, L"the instance name " + names[i] +
                                   L" is held by another program, not by a supervisor: started all the same");
    }
    return names.size();
}

// The user's lock is held: a supervisor of ours runs, in this session or
// another. Its window is brought forward, or the start says why it gives
// way. False when that supervisor ended meanwhile and the lock is ours now.
bool GiveWayToHolder(HINSTANCE hInstance, const std::wstring& lockPath, InstanceFileLock& userLock,
                     const std::wstring& ownPath, bool bStartHidden) {
    HWND hWnd = FindInstanceWindow(hInstance);
    if (hWnd == nullptr) {
        const auto lockFreed = [&](DWORD stepMs) {
            ::Sleep(stepMs);
            userLock = TakeInstanceLock(lockPath);
            return userLock.take == NameTake::Ours;
        };
        if (AwaitInstanceWindow(hInstance, lockFreed, hWnd) == AwaitResult::OtherEnded) return false;
    }
    if (hWnd != nullptr)
        ActivateInstanceWindow(hWnd);
    else
        TellRunningUnseen(hInstance, ownPath, bStartHidden);
    return true;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR lpCmdLine, int nCmdShow) {
    try {
        const std::vector<std::wstring> words = SplitCommandLine(lpCmdLine);
        const bool bStartInstall = HasCommandWord(words, L"startInstall");
        const bool bStartHidden = HasCommandWord(words, L"starthide");
        if (bStartInstall) ::Sleep(1000);

        const std::wstring ownPath = GetOwnModulePath(nullptr);
        DebugTrace(MakeInstanceName(ownPath));
        // The user's lock decides first; where it cannot be had (no local
        // application data), the names decide alone.
        const std::wstring lockPath = InstanceLockPath(IdentityPath(FolderOf(ownPath)));
        InstanceFileLock userLock = TakeInstanceLock(lockPath);
        if (userLock.take == NameTake::Held &&
            GiveWayToHolder(hInstance, lockPath, userLock, ownPath, bStartHidden))
            return 0;
        const bool bLockOurs = userLock.take == NameTake::Ours;

        const std::vector<std::wstring> names = InstanceNames(ownPath);
        std::vector<InstanceLock> locks(names.size());
        const size_t held = TakeNames(names, 0, locks, bLockOurs, ownPath);
        const bool bAnother = held < names.size();

        if (bStartInstall || bAnother) {
            HWND hWnd = FindInstanceWindow(hInstance);
            // Started at the same moment as the other one: its window may not
            // exist yet. Wait for it, or for that process to go.
            if (hWnd == nullptr && bAnother) {
                const bool bGlobal = IsGlobalName(names[held]);
                HANDLE hWait = locks[held].take == NameTake::Held ? locks[held].hMutex.get() : nullptr;
                const AwaitResult result = AwaitInstanceWindow(hInstance, EndOfHolder(hWait), hWnd);
                if (result == AwaitResult::NoWindow) {
                    // A supervisor we cannot even open the name of, or one
                    // whose name failed for no known reason, may run on,
                    // window or not; so may one of ours in another session,
                    // whose window we cannot see. A second one beside it
                    // would fight it over the agent.
                    if (hWait == nullptr || bGlobal) {
                        TellRunningUnseen(hInstance, ownPath, bStartHidden);
                        return 0;
                    }
                } else if (result == AwaitResult::OtherEnded) {
                    // Its name came to us: the ones after it go with it.
                    locks[held].take = NameTake::Ours;
                    TakeNames(names, held + 1, locks, bLockOurs, ownPath);
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
