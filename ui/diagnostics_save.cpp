#include "ui/diagnostics_save.h"

#include <commdlg.h>

#include <cwchar>

#include "framework/strings.h"
#include "framework/text_fill.h"
#include "resource.h"

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
    const std::wstring text = FillMark(FillMark(LoadResString(IDS_DIAGNOSTICS_FAILED), L"{path}", path),
                                       L"{error}", std::to_wstring(error));
    ::MessageBoxW(hOwner, text.c_str(), LoadResString(IDR_MAINFRAME).c_str(), MB_OK | MB_ICONWARNING);
}
