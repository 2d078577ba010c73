// String-table access. Every text is loaded when it is shown, so the
// user-interface language picks the table.
#pragma once

#include <windows.h>

#include <string>

#include "framework/app_module.h"

// Loads string id into a 256-unit buffer; an id that cannot be loaded gives "".
inline std::wstring LoadResString(UINT id) {
    wchar_t buffer[256] = {};
    const int n = ::LoadStringW(g_Module.GetResourceInstance(), id, buffer, 256);
    return std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}
