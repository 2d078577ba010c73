// Geometry of a resizable dialog: rectangles, centring on a work area and the
// layout pass's arithmetic. Pure integer functions of rectangles, so they are
// checked without a window system.
#pragma once

#include <cstddef>

// Same layout as the platform's RECT: right and bottom are exclusive.
struct Rect {
    int left, top, right, bottom;
};

struct Point {
    int x, y;
};

inline bool operator==(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline bool operator!=(const Rect& a, const Rect& b) { return !(a == b); }
inline bool operator==(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }

// Top-left corner that centres a window rectangle's size on a work area.
// Halvings truncate toward zero; a window that does not fit is pulled back to
// the right/bottom edge first and then to the left/top edge, so one larger
// than the work area sits at its top-left corner.
Point CenterInWorkArea(const Rect& window, const Rect& work);

// Id of the size grip the resize mix-in creates; the value the system's own
// status bars use.
inline constexpr int kSizeGripId = 59393;

// Flag bits of a resize-table row.
enum : unsigned {
    kResizeSizeX = 1,    // width follows the dialog's right edge
    kResizeSizeY = 2,    // height follows the dialog's bottom edge
    kResizeMoveX = 4,    // moves with the right edge
    kResizeMoveY = 8,    // moves with the bottom edge
    kResizeRepaint = 16  // invalidated at every pass
};

// One row of a resize table; a table ends with the row (-1, 0).
struct DlgResizeEntry {
    int id;
    unsigned flags;
};

// A control as the layout pass keeps it: its reference rectangle in the
// dialog's client coordinates is taken once, at set-up.
struct LayoutEntry {
    int id;
    unsigned flags;
    Rect ref;
};

// Where a control goes when the client area differs from the reference size by
// (dx, dy). Coordinates that follow an edge come from the reference rectangle,
// the others from the control's current rectangle, so repeated passes do not drift.
Rect LayoutControl(const LayoutEntry& entry, const Rect& current, int dx, int dy);

// What a WM_SIZE of a given size type asks of the grip and the layout.
enum class GripChange { Keep, Hide, Show };
struct SizeResponse {
    GripChange grip;
    bool layout;
};
// sizeType as WM_SIZE carries it: 0 restored, 1 minimised, 2 maximised,
// 3 and 4 the size of another window changed.
SizeResponse RespondToSize(unsigned sizeType);
