#include "ui/cqor_app.h"

#include "ui/cqor_dlg.h"

namespace qor {

bool CQorApp::InitInstance() {
    CQorDlg dialog(m_state, m_services, m_runLog);
    m_host.runModal(dialog);
    return false;
}

}  // namespace qor
