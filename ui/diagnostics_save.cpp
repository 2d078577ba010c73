#include "ui/diagnostics_save.h"

#include <commdlg.h>

#include <cwchar>

#include "framework/strings.h"
#include "resource.h"

namespace {
std::wstring Filled(UINT id, std::wstring_view mark, const std::wstring& value, std::wstring text = L"") {
    if (text.empty()) text = LoadResString(id);
    const size_t at = text.find(mark);
    if (at != std::wstring::npos) text.replace(at, mark.size(), value);
    return text;
}
}  // namespace

std::wstring AskDiagnosticsPath(HWND hOwner) {
    std::wstring filter = LoadResString(IDS_DIAGNOSTICS_FILTER);
    for (wchar_t& ch : filter) {
        if (ch == L'|') ch = L'\0';
    }
    filter.push_back(L'\0');
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    wchar_t file[MAX_PATH] = {};
    std::swprintf(file, MAX_PATH, L"Tollvane-diagnostics-%04u%02u%02u-%02u%02u.zip", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hOwner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"zip";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!::GetSaveFileNameW(&ofn)) return std::wstring();
    return file;
}

void SayDiagnosticsFailed(HWND hOwner, const std::wstring& path, DWORD error) {
    const std::wstring text =
        Filled(0, L"{error}", std::to_wstring(error), Filled(IDS_DIAGNOSTICS_FAILED, L"{path}", path));
    ::MessageBoxW(hOwner, text.c_str(), LoadResString(IDR_MAINFRAME).c_str(), MB_OK | MB_ICONWARNING);
}
