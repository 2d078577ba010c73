#include "ui/log_view_rules.h"

LogViewPlace PlaceAfterDrop(const LogViewPlace& place, size_t droppedChars, size_t droppedLines) {
    auto shift = [](size_t at, size_t by) { return at > by ? at - by : 0; };
    LogViewPlace after;
    after.selStart = shift(place.selStart, droppedChars);
    after.selEnd = shift(place.selEnd, droppedChars);
    after.firstLine = shift(place.firstLine, droppedLines);
    return after;
}
