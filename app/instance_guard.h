// Finding and raising the window of a supervisor that already runs from the
// same executable.
#pragma once

#include <windows.h>

#include <string>

// The record handed to the window enumeration.
struct InstanceWindowQuery {
    const wchar_t* pszClass;
    const wchar_t* pszTitle;
    const wchar_t* pszModulePath;
    wchar_t* pszBuffer;
    DWORD cchBuffer;
    HWND hwndFound;
};

// Full path of a module of this process (2047 characters at most).
std::wstring GetOwnModulePath(HMODULE hModule);

// The one spelling of a path that every other spelling of it maps to: full,
// long form (no 8.3 names), upper-cased. The path as given (made full) when
// the file system cannot say.
std::wstring CanonicalPath(const std::wstring& path);

// A supervisor window whose executable is this one's, however either was
// spelled when started.
HWND FindInstanceWindow(HINSTANCE hInstance);
BOOL CALLBACK MatchInstanceWindow(HWND hWnd, LPARAM lParam);

// Shows, restores and brings the found window to the front.
void ActivateInstanceWindow(HWND hWnd);
