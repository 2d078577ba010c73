#include "ui/layout_rules.h"

#include "res/resource.h"

const DlgResizeEntry* MainDlgResizeMap() {
    static const DlgResizeEntry kMap[] = {
        {IDC_LOG_EDIT, kResizeSizeX | kResizeSizeY},
        {ID_AGENT_START, kResizeMoveY},
        {ID_AGENT_STOP, kResizeMoveY},
        {ID_HIDE, kResizeMoveX | kResizeMoveY},
        {-1, 0},
    };
    return kMap;
}
