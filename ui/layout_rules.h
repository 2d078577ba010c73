// The main dialog's layout: which controls follow which edges as it resizes.
// The arithmetic itself is the dialog framework's (framework/resize_rules.h).
#pragma once

#include "framework/resize_rules.h"

// The main dialog's table: the log grows, Start and Stop ride the bottom edge,
// Hide keeps to the bottom-right corner.
const DlgResizeEntry* MainDlgResizeMap();
