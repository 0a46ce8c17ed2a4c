#include "serial/usb_discovery.h"
#include "text/catalogue.h"
#include "ui/cqor_dlg.h"
#include "ui/resource_ids.h"

namespace qor {

void CQorDlg::OnBnClickedUsb() {
    showPicture(IDB_BARCODE);
    m_btnUpdate.enable(false);
    m_comboPort.enable(false);
    setStatus({});
    m_window->killTimer(kPollTimerId);
    m_window->setTimer(kPollTimerId, kPollPeriodMs);
    m_btnUpdate.setText(catalogueText(Situation::BrowseCaption, m_state.UiLanguage));
    m_window->showItem(IDC_STEP1, true);
    m_window->showItem(IDC_STEP2, true);
}

void CQorDlg::OnBnClickedRs232() {
    showPicture(IDB_LOGO);
    fillPortList();
    m_comboPort.enable(true);
    m_window->killTimer(kPollTimerId);
    m_btnUpdate.enable(true);
    m_btnUpdate.setText(catalogueText(Situation::ConnectCaption, m_state.UiLanguage));
    setStatus({});
    // A rate found by an earlier connect is forgotten: every connect scans.
    m_state.HighSpeedFlag = 0;
    m_window->showItem(IDC_STEP1, false);
    m_window->showItem(IDC_STEP2, false);
}

void CQorDlg::OnTimer(int /*timerId*/) {
    m_state.DeviceCount = CountUsbDevices(m_services.registry());
    const uint8_t count = m_state.DeviceCount;
    if (count == 0) {
        setStatus(std::string(catalogueText(Situation::NoDeviceConnected, m_state.UiLanguage)));
    } else {
        const Situation text =
            count == 1 ? Situation::OneDeviceConnected : Situation::DevicesConnected;
        setStatus(formatText(text, m_state.UiLanguage, kTextCapacity, {count}));
    }
    m_btnUpdate.enable(count != 0);
}

}  // namespace qor
