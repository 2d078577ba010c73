// The log view's side of the output hand-off: carrying a sink's update out
// on the edit control.
#pragma once

#include <windows.h>

#include "output/output_sink.h"

// UI thread: drops the update's front, inserts its text, and keeps the
// reader's place unless the view follows new output.
void ApplyLogViewUpdate(HWND hLogEdit, const ViewUpdate& update);

// The hand-off to an edit control whose window takes the output message and
// the sync timer as the main dialog does (WM_APP_OUTPUT, IDT_OUTPUT_SYNC).
OutputViewTarget LogViewTarget(HWND hWndNotify, HWND hLogEdit);
