#include "supervision/exit_code_rules.h"

#include <cwchar>

namespace {

struct NamedCode {
    uint32_t code;
    const wchar_t* name;
};

// The codes agents die with most, named in their own words rather than the
// system's, which vary between versions and are empty under some.
constexpr NamedCode kNamedCodes[] = {
    {0xC0000005u, L"access violation"}, {0xC00000FDu, L"stack overflow"},
    {0xC0000409u, L"fail-fast"},        {0xC0000374u, L"heap corruption"},
    {0xC0000135u, L"DLL not found"},    {0xC0000142u, L"DLL failed to initialise"},
    {0xC000013Au, L"ended by Ctrl+C"},  {0x40010004u, L"ended at sign-out"},
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring FirstLineTrimmed(std::wstring_view text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    size_t end = text.find_first_of(L"\r\n", begin);
    if (end == std::wstring_view::npos) end = text.size();
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::wstring(text.substr(begin, end - begin));
}

}  // namespace

std::wstring_view KnownExitCodeName(uint32_t code) {
    for (const NamedCode& named : kNamedCodes) {
        if (named.code == code) return named.name;
    }
    return {};
}

bool IsStatusCode(uint32_t code) { return (code & 0xC0000000u) != 0; }

std::wstring StatusNameFromMessage(std::wstring_view message) {
    std::wstring line = FirstLineTrimmed(message);
    if (line.find_first_of(L"%{") != std::wstring::npos) return std::wstring();
    // Status texts end in a full stop; a name in parentheses reads better without.
    if (!line.empty() && line.back() == L'.') line.pop_back();
    return line;
}

std::wstring DescribeExitCode(uint32_t code, std::wstring_view name) {
    wchar_t hex[16] = {};
    std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(code));
    std::wstring text = std::to_wstring(code) + L" (" + hex;
    if (!name.empty()) text += L", " + std::wstring(name);
    return text + L")";
}

std::wstring FillErrorInserts(std::wstring_view message, std::wstring_view file) {
    std::wstring out;
    for (size_t i = 0; i < message.size(); ++i) {
        const wchar_t c = message[i];
        if (c != L'%' || i + 1 >= message.size()) {
            out += c;
            continue;
        }
        const wchar_t next = message[i + 1];
        if (next == L'1' && (i + 2 >= message.size() || message[i + 2] < L'0' || message[i + 2] > L'9')) {
            out += file;
            ++i;
        } else if (next >= L'1' && next <= L'9') {
            size_t j = i + 1;
            while (j < message.size() && message[j] >= L'0' && message[j] <= L'9') ++j;
            // An insert may carry its printf format between "!" marks (%2!lu!): skip it too.
            if (j < message.size() && message[j] == L'!') {
                const size_t close = message.find(L'!', j + 1);
                if (close != std::wstring_view::npos) j = close + 1;
            }
            i = j - 1;
        } else {
            out += c;
        }
    }
    std::wstring line = FirstLineTrimmed(out);
    // "%2" dropped from between words leaves two spaces.
    for (size_t at = line.find(L"  "); at != std::wstring::npos; at = line.find(L"  ", at)) line.erase(at, 1);
    return line;
}
