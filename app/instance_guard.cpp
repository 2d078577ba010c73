#include "app/instance_guard.h"

#include <psapi.h>

#include <vector>

#include "app/instance_rules.h"
#include "framework/debug_trace.h"
#include "framework/handle.h"
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

std::wstring CanonicalPath(const std::wstring& path) {
    std::wstring full(kPathCapacity, L'\0');
    DWORD n = ::GetFullPathNameW(path.c_str(), kPathCapacity, &full[0], nullptr);
    full.resize(n > 0 && n < kPathCapacity ? n : 0);
    if (full.empty()) full = path;
    std::wstring longForm(kPathCapacity, L'\0');
    n = ::GetLongPathNameW(full.c_str(), &longForm[0], kPathCapacity);
    longForm.resize(n > 0 && n < kPathCapacity ? n : 0);
    if (longForm.empty()) longForm = full;
    // The file system's own case rule, not only ASCII: upper case as NTFS
    // compares names.
    if (!longForm.empty()) {
        std::wstring upper(longForm.size(), L'\0');
        const int m =
            ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, longForm.c_str(),
                           static_cast<int>(longForm.size()), &upper[0], static_cast<int>(upper.size()));
        if (m == static_cast<int>(upper.size())) longForm = upper;
    }
    return longForm;
}

std::wstring GetOwnModulePath(HMODULE hModule) {
    std::vector<wchar_t> buffer(kPathCapacity, L'\0');
    const DWORD n = ::GetModuleFileNameW(hModule, buffer.data(), kPathCapacity);
    return std::wstring(buffer.data(), n < kPathCapacity ? n : kPathCapacity - 1);
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
        // The search names the canonical path; so must the candidate.
        if (path) path = CanonicalPath(*path);
        if (!ModulePathMatches(rule, path)) return TRUE;
        DebugTrace(*path);
    }
    query->hwndFound = hWnd;
    return FALSE;
}

HWND FindInstanceWindow(HINSTANCE hInstance) {
    std::vector<wchar_t> scratch(kPathCapacity, L'\0');
    const std::wstring path = CanonicalPath(GetOwnModulePath(hInstance));
    wchar_t title[256] = {};
    ::LoadStringW(hInstance, IDR_MAINFRAME, title, 256);
    InstanceWindowQuery query = {L"#32770", title, path.c_str(), scratch.data(), kPathCapacity, nullptr};
    ::EnumWindows(MatchInstanceWindow, reinterpret_cast<LPARAM>(&query));
    return query.hwndFound;
}

void ActivateInstanceWindow(HWND hWnd) {
    ::SwitchToThisWindow(hWnd, TRUE);
    HWND foreground = ::GetForegroundWindow();
    const DWORD targetThread = ::GetWindowThreadProcessId(hWnd, nullptr);
    const DWORD foregroundThread = ::GetWindowThreadProcessId(foreground, nullptr);
    // Joining the foreground thread's input state lets the activation through.
    ::AttachThreadInput(foregroundThread, targetThread, TRUE);
    if (!::IsWindowVisible(hWnd)) ::ShowWindow(hWnd, SW_SHOW);
    if (::IsIconic(hWnd)) ::ShowWindow(hWnd, SW_RESTORE);
    ::SetForegroundWindow(hWnd);
    ::AttachThreadInput(foregroundThread, targetThread, FALSE);
}
