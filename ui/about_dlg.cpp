#include "ui/about_dlg.h"

#include "framework/simple_dialog.h"
#include "resource.h"

void ShowAboutBox(HWND hWndOwner) {
    // The template's DS_CENTER places the box; the dialog's own centring is off.
    CSimpleDialog<IDD_ABOUTBOX, false> dlg;
    dlg.DoModal(hWndOwner);
}
