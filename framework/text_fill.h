// Values into a text where it has marks ("{reason}", "%u"): no format
// function ever reads a translated text. No Win32 here.
#pragma once

#include <string>
#include <string_view>

// text with every mark replaced by value; text as it is without the mark.
inline std::wstring FillMark(std::wstring text, std::wstring_view mark, std::wstring_view value) {
    if (mark.empty()) return text;
    for (size_t at = text.find(mark); at != std::wstring::npos; at = text.find(mark, at + value.size()))
        text.replace(at, mark.size(), value);
    return text;
}
