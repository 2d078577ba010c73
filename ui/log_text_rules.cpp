#include "ui/log_text_rules.h"

std::wstring ViewTextAsLines(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const bool bLoneLf = text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r');
        if (bLoneLf && text.substr(i + 1, 2) == L"\r\n") continue;
        out.push_back(text[i]);
    }
    return out;
}

size_t FindInViewText(std::wstring_view text, std::wstring_view what, size_t selStart, size_t selEnd,
                      bool bDown) {
    if (what.empty() || what.size() > text.size()) return std::wstring_view::npos;
    if (bDown) return selEnd > text.size() ? std::wstring_view::npos : text.find(what, selEnd);
    if (selStart == 0) return std::wstring_view::npos;
    return text.rfind(what, selStart - 1);
}
