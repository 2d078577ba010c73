#include "app/instance_guard.h"

#include <process.h>
#include <psapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

#include "app/instance_rules.h"
#include "framework/debug_trace.h"
#include "framework/file_identity.h"
#include "framework/handle.h"
#include "framework/user_security.h"
#include "resource.h"

namespace {
constexpr DWORD kPathCapacity = 2048;
constexpr DWORD kQueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410

std::optional<std::wstring> ReadText(int n, const wchar_t* buffer) {
    if (n <= 0) return std::nullopt;
    return std::wstring(buffer, static_cast<size_t>(n));
}

// Path of the process's first module, its executable; nullopt when unreadable.
std::optional<std::wstring> ReadProcessPath(HWND hWnd, InstanceWindowQuery& query) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    CHandle process(::OpenProcess(kQueryAccess, FALSE, pid));
    if (!process) return std::nullopt;
    DebugTrace(L"stat process");
    HMODULE first = nullptr;
    DWORD needed = 0;
    if (!::EnumProcessModules(process.get(), &first, sizeof(first), &needed)) {
        DebugTrace(L"stat failed");
        return std::nullopt;
    }
    ZeroMemory(query.pszBuffer, query.cchBuffer * sizeof(wchar_t));
    const DWORD n = ::GetModuleFileNameExW(process.get(), first, query.pszBuffer, query.cchBuffer - 1);
    if (n == 0) return std::nullopt;
    DebugTrace(query.pszBuffer);
    return std::wstring(query.pszBuffer, n);
}
}  // namespace

std::wstring IdentityPath(const std::wstring& path) {
    if (const auto folder = ReadFolderIdentity(path)) return UpperCase(folder->path);
    return CanonicalPath(path);
}

std::wstring CurrentUserSid() {
    const std::vector<BYTE> user = ReadTokenUser();
    if (user.empty()) return {};
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text))
        return {};
    std::wstring sid(text);
    ::LocalFree(text);
    return sid;
}

InstanceLock TakeInstanceName(const std::wstring& name, bool bUserOnly) {
    CUserOnlySecurity security(MUTEX_ALL_ACCESS);
    SECURITY_ATTRIBUTES* pSecurity = bUserOnly ? security.Get() : nullptr;
    InstanceLock lock;
    if (bUserOnly && pSecurity == nullptr) return lock;  // MayBeHeld: we cannot tell
    lock.hMutex.reset(::CreateMutexW(pSecurity, TRUE, name.c_str()));
    const DWORD error = ::GetLastError();
    if (lock.hMutex)
        lock.take = error == ERROR_ALREADY_EXISTS ? NameTake::Held : NameTake::Ours;
    else
        // Access denied: one that runs elevated made it. Anything else (an
        // object of another kind under the name, no resources) proves nothing.
        lock.take = error == ERROR_ACCESS_DENIED ? NameTake::Held : NameTake::MayBeHeld;
    return lock;
}

BOOL CALLBACK MatchInstanceWindow(HWND hWnd, LPARAM lParam) {
    auto* query = reinterpret_cast<InstanceWindowQuery*>(lParam);
    if (query == nullptr || query->pszBuffer == nullptr) return TRUE;
    InstanceWindowRule rule;
    if (query->pszClass) rule.className = query->pszClass;
    if (query->pszTitle) rule.title = query->pszTitle;
    if (query->pszModulePath) rule.modulePath = query->pszModulePath;

    const int cch = static_cast<int>(query->cchBuffer) - 1;
    if (rule.className) {
        ZeroMemory(query->pszBuffer, query->cchBuffer * sizeof(wchar_t));
        if (!ClassMatches(rule, ReadText(::GetClassNameW(hWnd, query->pszBuffer, cch), query->pszBuffer)))
            return TRUE;
    }
    if (rule.title) {
        ZeroMemory(query->pszBuffer, query->cchBuffer * sizeof(wchar_t));
        const auto title = ReadText(::GetWindowTextW(hWnd, query->pszBuffer, cch), query->pszBuffer);
        if (!title) return TRUE;
        DebugTrace(*title);
        if (!TitleMatches(rule, title)) return TRUE;
    }
    if (rule.modulePath) {
        auto path = ReadProcessPath(hWnd, *query);
        // The search names the identity of its executable; so must the candidate.
        if (path) path = IdentityPath(*path);
        if (!ModulePathMatches(rule, path)) return TRUE;
        DebugTrace(*path);
    }
    query->hwndFound = hWnd;
    return FALSE;
}

HWND FindInstanceWindow(HINSTANCE hInstance) {
    std::vector<wchar_t> scratch(kPathCapacity, L'\0');
    const std::wstring path = IdentityPath(GetOwnModulePath(hInstance));
    wchar_t title[256] = {};
    ::LoadStringW(hInstance, IDR_MAINFRAME, title, 256);
    InstanceWindowQuery query = {L"#32770", title, path.c_str(), scratch.data(), kPathCapacity, nullptr};
    ::EnumWindows(MatchInstanceWindow, reinterpret_cast<LPARAM>(&query));
    return query.hwndFound;
}

namespace {
// The activation's calls reach into the other supervisor's thread; a hung
// one would hold this process with it, so they run on a thread of their own.
unsigned __stdcall ActivateThreadProc(void* pv) {
    const HWND hWnd = static_cast<HWND>(pv);
    try {
        ::SwitchToThisWindow(hWnd, TRUE);
        // Asynchronous: a window whose thread does not answer cannot hold us.
        if (!::IsWindowVisible(hWnd)) ::ShowWindowAsync(hWnd, SW_SHOW);
        if (::IsIconic(hWnd)) ::ShowWindowAsync(hWnd, SW_RESTORE);
        const HWND foreground = ::GetForegroundWindow();
        const DWORD targetThread = ::GetWindowThreadProcessId(hWnd, nullptr);
        const DWORD foregroundThread = ::GetWindowThreadProcessId(foreground, nullptr);
        // Joining the foreground thread's input state lets the activation
        // through; a hung window's input state is not joined.
        const bool bAttach = foregroundThread != 0 && foregroundThread != targetThread &&
                             !::IsHungAppWindow(hWnd) &&
                             ::AttachThreadInput(foregroundThread, targetThread, TRUE);
        ::SetForegroundWindow(hWnd);
        if (bAttach) ::AttachThreadInput(foregroundThread, targetThread, FALSE);
    } catch (...) {
    }
    return 0;
}
}  // namespace

void ActivateInstanceWindow(HWND hWnd, DWORD timeoutMs) {
    const uintptr_t h = ::_beginthreadex(nullptr, 0, ActivateThreadProc, hWnd, 0, nullptr);
    if (h == 0) return;
    // Left running if it hangs: it holds nothing of ours, and the process
    // ends soon after.
    CHandle hThread(reinterpret_cast<HANDLE>(h));
    ::WaitForSingleObject(hThread.get(), timeoutMs);
}
