// The application run: the main thread's loop around the main dialog.
#pragma once

#include <windows.h>

// Creates the main dialog and runs the message loop until the quit message;
// returns its code, or 0 when the dialog cannot be created.
int Run(LPWSTR lpCmdLine, int nCmdShow);
