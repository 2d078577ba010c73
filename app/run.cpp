#include "app/run.h"

#include "app/command_line.h"
#include "app/instance_rules.h"
#include "framework/app_module.h"
#include "framework/message_loop.h"
#include "ui/main_dlg.h"

int Run(LPWSTR lpCmdLine, int nCmdShow) {
    CMessageLoop theLoop;
    g_Module.SetMessageLoop(&theLoop);

    const bool bStartHidden = HasCommandWord(SplitCommandLine(lpCmdLine), L"starthide");
    int nRet = 0;
    {
        CMainDlg dlgMain(bStartHidden);
        if (dlgMain.Create(nullptr) != nullptr) {
            // With "starthide" the dialog strips this show itself.
            dlgMain.ShowWindow(nCmdShow);
            nRet = theLoop.Run();
        }
        g_Module.SetMessageLoop(nullptr);
    }
    return nRet;
}
