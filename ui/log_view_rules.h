// Follow or stay: where the log view keeps a reader who has scrolled up or
// selected text while output goes on. No Win32 here.
#pragma once

#include <cstddef>

// What the reader sees: the selection (start == end: none) and the first
// visible line, in characters and lines of the view's text.
struct LogViewPlace {
    size_t selStart = 0;
    size_t selEnd = 0;
    size_t firstLine = 0;
};

// The view follows new output when its end is in view and nothing is selected.
inline bool LogViewFollows(const LogViewPlace& place, bool endVisible) {
    return endVisible && place.selStart == place.selEnd;
}

// The same place after the oldest droppedChars characters (droppedLines
// whole lines) left the view: on the same text where it is still there, at
// the top where it went.
LogViewPlace PlaceAfterDrop(const LogViewPlace& place, size_t droppedChars, size_t droppedLines);
