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

HWND FindInstanceWindow(HINSTANCE hInstance);
BOOL CALLBACK MatchInstanceWindow(HWND hWnd, LPARAM lParam);

// Shows, restores and brings the found window to the front.
void ActivateInstanceWindow(HWND hWnd);
