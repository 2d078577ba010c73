// The log view side of the output hand-off.
#include "agent/output_sink.h"
#include "ui/main_dlg.h"

void CMainDlg::OnOutputReady(bool bFromTimer) {
    if (m_spOutput) m_spOutput->SyncView(bFromTimer);
}
