// The main button's click: one whole update run as far as the
// user-interface thread is concerned. It does all its waiting on that
// thread and returns as soon as the workers are started.

#include <atomic>
#include <string>

#include "serial/usb_discovery.h"
#include "text/catalogue.h"
#include "text/text_fit.h"
#include "ui/cqor_dlg.h"
#include "ui/device_row.h"
#include "ui/resource_ids.h"
#include "update/image_header.h"
#include "update/setup_handshake.h"
#include "update/update_worker.h"

namespace qor {

namespace {

// A run drives at most this many devices: one row each.
constexpr uint8_t kMaxDevices = kMaxDeviceRows;

// The file dialog's buffer, in UTF-16 units with the terminator.
constexpr int kFirmwarePathCapacity = 260;
// Path must exist, keep the working folder, overwrite prompt; a file that
// does not exist may be typed (the header read then finds nothing).
constexpr uint32_t kOpenFileFlags = 0x080A;

// Marks the main button's handler as running until it returns.
class StartingMark {
  public:
    explicit StartingMark(std::atomic<bool>& starting) : m_starting(starting) {
        m_starting.store(true);
    }
    ~StartingMark() { m_starting.store(false); }
    StartingMark(const StartingMark&) = delete;
    StartingMark& operator=(const StartingMark&) = delete;

  private:
    std::atomic<bool>& m_starting;
};

}  // namespace

void CQorDlg::OnBnClickedUpdate() {
    if (runBusy()) {
        return;  // a run is starting or open: see dispatch()
    }
    Window& window = *m_window;
    const uint16_t language = m_state.UiLanguage;
    const int mode = window.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232);
    auto showError = [&](std::string_view text) { window.messageBox(text, "", kErrorBoxType); };

    const bool rs232 = mode == IDC_RADIO_RS232;
    // Read before the mark is set: while it is, these are what the dialog
    // answers with, whatever the controls show.
    m_runUsb = mode == IDC_RADIO_USB;
    m_runPort = m_runUsb ? std::string() : selectedComPort();
    const StartingMark starting(m_starting);
    if (rs232) {
        m_btnUpdate.enable(false);
        m_comboPort.enable(false);
        window.enableItem(IDC_RADIO_USB, false);
        window.enableItem(IDC_RADIO_RS232, false);
        if (!RunSetupHandshake(*this, m_runPort)) {
            m_btnUpdate.enable(true);
            m_comboPort.enable(true);
            window.enableItem(IDC_RADIO_USB, true);
            window.enableItem(IDC_RADIO_RS232, true);
            m_btnUpdate.setText(catalogueText(Situation::ConnectCaption, language));
            return;
        }
    }
    // From here on a refused file or a cancelled dialog after a successful
    // connect would leave every control disabled; give the user RS-232 mode
    // back instead.
    auto end = [&] {
        if (rs232) {
            returnToRs232Mode();
        }
    };

    m_btnUpdate.setText(catalogueText(Situation::BrowseCaption, language));

    OpenFileRequest request;
    request.filterName = "FW File ";
    request.filterSpec = "*.*";
    request.initialPath = m_state.FirmwarePath;
    request.flags = kOpenFileFlags;
    request.maxPathLength = kFirmwarePathCapacity;
    const std::optional<std::string> chosen = window.openFileDialog(request);
    if (!chosen || chosen->empty() ||
        utf16Length(*chosen) >= static_cast<size_t>(kFirmwarePathCapacity)) {
        // A path too long for the buffer is the dialog failing, as it would
        // with a buffer that small.
        end();
        return;
    }
    m_state.FirmwarePath = *chosen;

    if (m_state.DeviceCount > kMaxDevices) {
        showError(catalogueText(Situation::TooManyDevices, language));
        end();
        return;
    }

    // Read whole once: what the checks below pass is what the workers send.
    FirmwareImage image;
    switch (LoadFirmwareImage(m_state.FirmwarePath, image)) {
        case ImageHeaderResult::CannotOpen:
            end();
            return;
        case ImageHeaderResult::NotFirmware:
            showError(catalogueText(Situation::InvalidFile, language));
            end();
            return;
        case ImageHeaderResult::HeaderRead:
            break;
    }

    if (m_runUsb) {
        bool found = false;
        for (int attempt = 0; attempt < kPortCheckAttempts && !found; ++attempt) {
            // The poll keeps running while the file dialog is open and may
            // have counted nothing by now; a run of no device would never
            // close, so no port found is never a pass.
            const uint8_t collected = CollectUsbPortsForRun(
                m_services.registry(), m_state.PortNameTable, m_state.UsbInstances);
            if (collected == m_state.DeviceCount && collected != 0) {
                found = true;
            } else {
                m_services.clock(Services::kUiThread).sleep_ms(kPortCheckPauseMs);
            }
        }
        if (!found) {
            showError(catalogueText(Situation::PortsNotFound, language));
            end();
            return;
        }
    }

    const Rect frame = window.windowRect();

    if (!CheckHeaderWords(image.header)) {
        showError(catalogueText(Situation::InvalidFile, language));
        end();
        return;
    }

    if (m_runUsb) {
        window.killTimer(kPollTimerId);
    } else {
        m_state.DeviceCount = 1;
    }
    growWindow(frame);
    m_state.FirmwareBytes = std::move(image.bytes);
    m_state.SuccessCount.store(0);
    m_runOpen.store(true);
    startUpdateWorkers(*this, m_state.DeviceCount);
}

void CQorDlg::returnToRs232Mode() {
    m_window->enableItem(IDC_RADIO_USB, true);
    m_window->enableItem(IDC_RADIO_RS232, true);
    OnBnClickedRs232();
}

}  // namespace qor
