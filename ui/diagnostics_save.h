// The window's side of a diagnostics bundle: where it goes, and a word when
// it could not be written. UI thread only.
#pragma once

#include <windows.h>

#include <string>

// The system's Save dialog over hOwner, with a dated name
// ("Tollvane-diagnostics-20261209-1403.zip"); empty when the user cancelled.
std::wstring AskDiagnosticsPath(HWND hOwner);
// The bundle was not written: a message box names the file and the error.
void SayDiagnosticsFailed(HWND hOwner, const std::wstring& path, DWORD error);
