// The log view's text as the user takes it away: saved, copied, searched.
// No Win32 here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One line end per line the view shows: a "\n" the agent sent followed by
// the "\r\n" the view puts after each message ends one line, so the pair
// becomes one "\r\n". Any other line end stays as it is.
std::wstring ViewTextAsLines(std::wstring_view text);

// A search in the view's text from the selection [selStart, selEnd):
// forward from its end, or backward for the last match that starts before
// its start. text and what are compared unit for unit (the caller folds
// both for a case-blind search). The match's start, or npos.
size_t FindInViewText(std::wstring_view text, std::wstring_view what, size_t selStart, size_t selEnd,
                      bool bDown);
