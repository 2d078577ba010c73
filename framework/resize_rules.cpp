#include "framework/resize_rules.h"

Point CenterInWorkArea(const Rect& window, const Rect& work) {
    const int w = window.right - window.left;
    const int h = window.bottom - window.top;
    // Integer division truncates toward zero, also for negative coordinates.
    int x = (work.left + work.right) / 2 - w / 2;
    int y = (work.top + work.bottom) / 2 - h / 2;
    if (x + w > work.right) x = work.right - w;
    if (x < work.left) x = work.left;
    if (y + h > work.bottom) y = work.bottom - h;
    if (y < work.top) y = work.top;
    return Point{x, y};
}

Rect LayoutControl(const LayoutEntry& entry, const Rect& current, int dx, int dy) {
    Rect rc = current;
    if (entry.flags & (kResizeSizeX | kResizeMoveX)) {
        rc.right = entry.ref.right + dx;
        if (entry.flags & kResizeMoveX) rc.left = entry.ref.left + dx;
    }
    if (entry.flags & (kResizeSizeY | kResizeMoveY)) {
        rc.bottom = entry.ref.bottom + dy;
        if (entry.flags & kResizeMoveY) rc.top = entry.ref.top + dy;
    }
    return rc;
}

SizeResponse RespondToSize(unsigned sizeType) {
    switch (sizeType) {
        case 0:  // restored
            return {GripChange::Show, true};
        case 1:  // minimised: the client area is empty, nothing to lay out
            return {GripChange::Keep, false};
        case 2:  // maximised: a grip in a maximised window would resize nothing
            return {GripChange::Hide, true};
        default:
            return {GripChange::Keep, true};
    }
}
