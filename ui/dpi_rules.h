// What the window needs to be laid out again at another DPI, and the log
// view's colours: the dialog template read as data, dialog units turned into
// pixels the way the dialog manager does it, and the colour choice. Pure
// functions, so they are checked without a window system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/resize_rules.h"

// One control of a dialog template, in dialog units.
struct TemplateItem {
    int id;
    int x, y, cx, cy;
};

// The parts of an extended dialog template (DIALOGEX) that decide its layout.
struct DialogTemplateInfo {
    int cx = 0, cy = 0;               // the client size, in dialog units
    int pointSize = 0;                // of the dialog font; 0 without one
    std::vector<TemplateItem> items;  // in template order
};

// Reads an extended dialog template as it lies in the resource section.
// False for anything else (a classic template, a truncated one).
bool ParseDialogTemplateEx(const void* data, size_t size, DialogTemplateInfo& out);

// The average character width and the height of the dialog font, in pixels:
// four horizontal and eight vertical dialog units.
struct BaseUnits {
    int x, y;
};

// a * b / c rounded to the nearest integer, halves away from zero, as the
// platform's MulDiv does (including its -1 for c == 0).
int MulDivRound(int a, int b, int c);

// The font height (negative: character height) that a template's point size
// gives at a DPI.
int FontHeightForDpi(int pointSize, unsigned dpi);

// The dialog manager's average character width from the width of the 52
// letters A-Z and a-z in the dialog font, rounded.
int AverageCharWidth(int extentOf52Letters);

// A template control's rectangle in client pixels. Position and size are
// converted separately, as the dialog manager creates controls.
Rect ItemRectAt(const TemplateItem& item, BaseUnits base);

// The template's client area in pixels.
Rect ClientRectAt(const DialogTemplateInfo& dlg, BaseUnits base);

// The size grip in the bottom-right corner of a client area of cx by cy.
Rect GripRectAt(int cx, int cy, int gripWidth, int gripHeight);

// The log view's colours. Its own black on white, unless a high-contrast
// theme is on: then the user's window and window-text colours win.
// Colours are 0x00BBGGRR, as the platform's COLORREF.
struct LogColours {
    uint32_t background;
    uint32_t text;
};
LogColours PickLogColours(bool bHighContrast, uint32_t sysWindow, uint32_t sysWindowText);
