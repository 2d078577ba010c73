// The About box: product icon, name with version label and copyright line.
#pragma once

#include <windows.h>

// Shows the box modally; returns when it is closed.
void ShowAboutBox(HWND hWndOwner);
