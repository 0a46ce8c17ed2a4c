#include "ui/device_rows_view.h"

#include <algorithm>

#include "text/text_fit.h"
#include "ui/device_row.h"
#include "ui/resource_ids.h"
#include "update/token_protocol.h"

namespace qor {

namespace {

// `status` followed by `dots` dots, as far as the label's buffer takes them.
std::string withDots(std::string status, int dots) {
    for (int dot = 0; dot < dots; ++dot) {
        appendText(status, ".", kTextCapacity);
    }
    return status;
}

uint32_t kilobytes(uint32_t bytes) {
    return bytes / kBlockSize;
}

}  // namespace

std::string DeviceRowsView::text(Situation situation, std::initializer_list<TextArg> args) const {
    return formatText(situation, m_state.UiLanguage, kTextCapacity, args);
}

void DeviceRowsView::workerStarted(int /*device*/) {
    for (const int id : {IDC_UPDATE, IDC_RADIO_USB, IDC_RADIO_RS232, IDC_COMBO_PORT}) {
        m_window.enableItem(id, false);
    }
    // Every worker of the run shows the same bitmap at about the same time;
    // the atomic and the window's own thread keep them in order.
    m_state.PictureBitmap.store(IDB_LOGO);
    m_window.setPicture(IDC_PICTURE, IDB_LOGO);
}

void DeviceRowsView::connecting(int device, std::string_view port, int unansweredWaits) {
    DeviceRow row(m_window, device);
    if (unansweredWaits == 0) {
        // Keeps whatever it says: its initial text, or the last one of an
        // earlier run, until the first unanswered wait.
        row.showLabel();
        return;
    }
    row.setLabel(withDots(text(Situation::WaitingForProbeAnswer, {port}), unansweredWaits));
}

void DeviceRowsView::transferStarted(int device, uint32_t totalBytes) {
    DeviceRow row(m_window, device);
    // The control counts in 16 bits; the range is cut to them as it is.
    row.setBarRange(static_cast<uint16_t>(kilobytes(totalBytes)));
    row.setBarPosition(0);
    row.showBar();
}

void DeviceRowsView::blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) {
    DeviceRow row(m_window, device);
    const uint32_t sentKb = kilobytes(bytesSent);
    row.setBarPosition(static_cast<int>(sentKb));
    row.setLabel(text(Situation::TransferProgress, {sentKb, kilobytes(totalBytes)}));
}

void DeviceRowsView::checking(int device) {
    DeviceRow row(m_window, device);
    row.setLabel(text(Situation::TransferCompleted));
    row.setLabel(text(Situation::CheckingImage));
}

void DeviceRowsView::updating(int device, int step) {
    DeviceRow row(m_window, device);
    if (step == 0) {
        row.setBarRange(kUpdateWaits);
        row.setBarPosition(0);
    }
    // The dots start again after every cycle of waits.
    row.setLabel(withDots(text(Situation::Updating), step % kUpdateDotsCycle + 1));
}

void DeviceRowsView::updateWaitMissed(int device, int unansweredWaits) {
    DeviceRow(m_window, device).setBarPosition(unansweredWaits);
}

void DeviceRowsView::updateEnded(int device) {
    DeviceRow(m_window, device).setLabel("");
}

void DeviceRowsView::succeeded(int /*device*/) {
    // Shown once for the whole run, when it closes.
}

void DeviceRowsView::failed(int /*device*/, Situation /*situation*/, std::string_view text) {
    m_window.messageBox(text, "", kErrorBoxType);
}

void DeviceRowsView::portReleased(int device, bool transferStarted) {
    // A worker that failed before its bar went up leaves its label for the
    // run's closing to hide, so its last text stays readable until then.
    if (transferStarted) {
        DeviceRow(m_window, device).hide();
    }
}

void DeviceRowsView::runClosing(int devices, bool allSucceeded) {
    if (allSucceeded) {
        m_window.messageBox(text(Situation::UpdatesSucceeded), "", kSuccessBoxType);
    }

    Rect rect = m_window.windowRect();
    rect.bottom -= scaledForDpi(kWindowGrowthPerDevice, m_window.dpi()) * devices;
    m_window.moveWindow(rect, true);

    // A run never has more devices than rows; ids past the last row belong
    // to other controls.
    for (int index = 0; index < std::min(devices, kMaxDeviceRows); ++index) {
        DeviceRow(m_window, index).hide();
    }

    m_window.enableItem(IDC_RADIO_USB, true);
    m_window.enableItem(IDC_RADIO_RS232, true);
}

}  // namespace qor
