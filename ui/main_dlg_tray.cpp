// Preparing the tray menu each time it opens.
#include "framework/strings.h"
#include "ui/main_dlg.h"
#include "ui/tray_rules.h"

void PrepareTrayMenu(HMENU hMenu, bool bStopRequested, bool bWindowShown) {
    for (const TrayMenuItem& item : TrayMenuItems(bStopRequested, bWindowShown)) {
        const std::wstring text = LoadResString(item.textId);
        ::ModifyMenuW(hMenu, item.id, MF_BYCOMMAND | MF_STRING, item.id, text.c_str());
        // Disabled, not greyed; and after the text, since rewriting the text
        // re-enables the item.
        if (item.setsState)
            ::EnableMenuItem(hMenu, item.id, MF_BYCOMMAND | (item.enabled ? MF_ENABLED : MF_DISABLED));
    }
}

void CMainDlg::UpdateTrayMenu(HMENU hMenu) {
    PrepareTrayMenu(hMenu, IsAgentStopRequested(), IsMainWindowShown());
}
