#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

std::vector<std::wstring> SplitCommandLine(const wchar_t* lpCmdLine) {
    std::vector<std::wstring> words;
    // CommandLineToArgvW treats an empty string as "the program's own path";
    // an empty argument part has no words.
    if (lpCmdLine == nullptr || *lpCmdLine == L'\0') return words;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(lpCmdLine, &count);
    if (argv == nullptr) return words;
    words.assign(argv, argv + count);
    ::LocalFree(argv);
    return words;
}
