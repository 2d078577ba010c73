#include "names/name_rules.h"

std::wstring ApplyNameRule(std::wstring_view path) {
    std::wstring name(path);
    for (wchar_t& ch : name) {
        if (ch == L'\\' || ch == L':' || ch == L'/') ch = L'_';
    }
    name += kNameSuffix;
    return name;
}

std::wstring MakeInstanceName(std::wstring_view ownPath) { return ApplyNameRule(ownPath); }

std::wstring MakeCanonicalInstanceName(std::wstring_view canonicalPath) {
    return ApplyNameRule(canonicalPath) + L"Canonical";
}

std::wstring MakePipeName(std::wstring_view agentPath) {
    return std::wstring(L"\\\\.\\pipe\\") + ApplyNameRule(agentPath);
}
