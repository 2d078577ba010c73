// The platform's DPI calls, each found at run time: most are newer than the
// oldest Windows the 32-bit build starts on, so each has a fallback to the
// system DPI and the system metrics, which is what Windows before 10 gives a
// system-aware program anyway. UI thread only.
#pragma once

#include <windows.h>

#include "framework/handle.h"
#include "ui/dpi_rules.h"

// The DPI the window is drawn at (per monitor on Windows 10 and later).
UINT WindowDpi(HWND hWnd);
// The DPI of the primary monitor, where the taskbar's notification area is.
UINT PrimaryMonitorDpi();
// A system metric at a DPI.
int MetricForDpi(int index, UINT dpi);
// An icon resource at the given size, from the image of that size when the
// resource has one.
HICON LoadIconAtSize(HINSTANCE hInst, int id, int cx, int cy);
// The width of an icon's image, 0 when it cannot be read.
int IconWidth(HICON hIcon);
// Keeps the dialog manager from rescaling this dialog on a DPI change: the
// window lays itself out again from its template instead.
void KeepDialogFromRescaling(HWND hDlg);
// Whether a high-contrast theme is on.
bool IsHighContrastOn();

// A dialog template of the module, read as data; false when missing or not
// an extended template.
bool LoadDialogTemplate(HINSTANCE hInst, int idd, DialogTemplateInfo& out);
// The dialog's font (as the dialog manager chose it from the template: face,
// character set, quality) at another DPI; empty when the dialog has none.
CFontHandle CreateDialogFontAt(HWND hDlg, int pointSize, UINT dpi);
// The dialog base units that a font gives.
BaseUnits MeasureBaseUnits(HFONT hFont);
