// The debugger output channel: the program's only trace.
#pragma once

#include <windows.h>

#include <string>

// Writes the text whole, without a line end.
inline void DebugTrace(const wchar_t* text) { ::OutputDebugStringW(text); }
inline void DebugTrace(const std::wstring& text) { ::OutputDebugStringW(text.c_str()); }
