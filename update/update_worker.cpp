#include "update/update_worker.h"

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "serial/wait_for_token.h"
#include "ui/catalogue.h"
#include "ui/resource_ids.h"
#include "ui/text_fit.h"
#include "update/device_row.h"
#include "update/image_file.h"
#include "update/run_closing.h"
#include "update/setup_command.h"
#include "update/token_protocol.h"

namespace qor {

namespace {

// The text of the error box that ends a failed update.
using Failure = std::optional<std::string>;

using Block = std::array<uint8_t, kBlockSize>;

// One device's update, from the disabled controls to the released port.
// Each worker owns its port, image handle, block buffer and texts; only the
// dialog and SuccessCount are shared.
class UpdateWorker {
  public:
    UpdateWorker(UpdateDialog& dialog, uint8_t deviceIndex)
        : m_dialog(dialog),
          m_window(dialog.window()),
          m_state(dialog.state()),
          m_clock(dialog.services().clock(deviceIndex)),
          m_index(deviceIndex),
          m_row(m_window, deviceIndex) {}

    // Everything up to success or the first failure.
    Failure run();
    // The end steps, on every path, after the error box has been closed.
    void release();

  private:
    void disableModeControls();
    void showLogo();
    bool openPort();
    void sendMarkerAndProbe();
    bool connect();
    Failure sendHeader();
    void beginTransfer();
    Failure sendBlocks();
    Failure awaitCheck();
    Failure awaitUpdate();
    void succeed();

    int wait(const char* token) { return WaitForToken(token, *m_port, m_clock); }
    void closePort() { m_port.reset(); }
    std::string text(Situation situation, std::initializer_list<TextArg> args = {}) const {
        return formatText(situation, m_state.UiLanguage, kTextCapacity, args);
    }
    void showStatusWithDot() {
        appendText(m_status, ".", kTextCapacity);
        m_row.setLabel(m_status);
    }

    UpdateDialog& m_dialog;
    Window& m_window;
    AppState& m_state;
    Clock& m_clock;
    const uint8_t m_index;
    DeviceRow m_row;

    ImageFile m_image;
    PortHandle m_port;
    std::string m_portName;
    std::string m_status;
    uint32_t m_imageLength = 0;
    uint32_t m_bytesSent = 0;
    std::unique_ptr<Block> m_block;
    bool m_barShown = false;
};

Failure UpdateWorker::run() {
    disableModeControls();
    showLogo();
    if (!m_image.open(m_state.FirmwarePath)) {
        return text(Situation::ImageOpenFailed);
    }
    if (!openPort()) {
        return text(Situation::DevicePortOpenFailed, {m_portName});
    }
    m_port->purge();
    // Keeps whatever it says: its initial text, or the last one of an
    // earlier run, until the first failed connect wait.
    m_row.showLabel();
    sendMarkerAndProbe();
    if (!connect()) {
        return text(Situation::ProbeNotAnswered);
    }
    if (Failure failure = sendHeader()) {
        return failure;
    }
    beginTransfer();
    if (Failure failure = sendBlocks()) {
        return failure;
    }
    if (Failure failure = awaitCheck()) {
        return failure;
    }
    if (Failure failure = awaitUpdate()) {
        return failure;
    }
    succeed();
    return std::nullopt;
}

void UpdateWorker::disableModeControls() {
    for (const int id : {IDC_UPDATE, IDC_RADIO_USB, IDC_RADIO_RS232, IDC_COMBO_PORT}) {
        m_window.enableItem(id, false);
    }
}

void UpdateWorker::showLogo() {
    // Every worker of the run shows the same bitmap at about the same time;
    // the atomic and the window's own thread keep them in order.
    m_state.PictureBitmap.store(IDB_LOGO);
    m_window.setPicture(IDC_PICTURE, IDB_LOGO);
}

bool UpdateWorker::openPort() {
    uint32_t baud = 0;
    if (m_window.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232) == IDC_RADIO_USB) {
        // A run never has more devices than the table has entries; should
        // one ever, it gets no name and so no port.
        if (m_index < m_state.PortNameTable.size()) {
            m_portName = m_state.PortNameTable[m_index];
        }
        baud = kUsbUpdateBaud;
    } else {
        m_portName = m_dialog.selectedComPort();
        if (m_portName.empty()) {
            return false;  // no port chosen
        }
        baud = m_state.HighSpeedFlag != 0 ? kHighSpeedBaud : kRs232UpdateBaud;
    }
    m_port = m_dialog.services().openComPort(m_portName, baud);
    return m_port != nullptr;
}

void UpdateWorker::sendMarkerAndProbe() {
    // A failed write shows soon enough as an unanswered probe.
    writeText(*m_port, tokens::kMarker);
    m_clock.sleep_ms(kMarkerPauseMs);
    writeText(*m_port, tokens::kProbe);
}

bool UpdateWorker::connect() {
    m_status = text(Situation::WaitingForProbeAnswer, {m_portName});
    for (int failures = 1;; ++failures) {
        // Any answer but the echo, a refusal included, is one more failed
        // wait; the probe is not sent again.
        if (wait(tokens::kEcho) == kTokenSeen) {
            return true;
        }
        showStatusWithDot();
        if (failures == kProbeWaits) {
            return false;
        }
    }
}

Failure UpdateWorker::sendHeader() {
    // The image was checked before the run began, so its first eight bytes
    // are its own; bytes a shortened file lacks go out as zeros.
    std::array<uint8_t, kFirmwareHeaderSize> start{};
    m_image.read(start);
    m_imageLength = static_cast<uint32_t>(m_image.length());
    const HeaderMessage message = buildHeaderMessage(start, m_imageLength);
    m_port->write(message);
    switch (wait(tokens::kEcho)) {
        case kTokenSeen:
            return std::nullopt;
        case kTokenSilence:
            return text(Situation::HeaderNotAcknowledged);
        default:
            return text(Situation::HeaderRefused);
    }
}

void UpdateWorker::beginTransfer() {
    m_block = std::make_unique<Block>();
    // The control counts in 16 bits; the range is cut to them as it is.
    m_row.setBarRange(static_cast<uint16_t>(m_imageLength / kBlockSize));
    m_row.setBarPosition(0);
    m_row.showBar();
    m_barShown = true;
    m_image.seekToStart();
}

Failure UpdateWorker::sendBlocks() {
    const uint32_t totalKb = m_imageLength / kBlockSize;
    do {
        // The imager takes whole blocks only: a tail shorter than a block
        // can never be sent, so the image is refused as unreadable.
        if (m_image.read(*m_block) < kBlockSize) {
            closePort();
            return text(Situation::BlockReadShort);
        }
        if (!m_port->write(*m_block)) {
            closePort();
            return text(Situation::BlockWriteFailed);
        }
        m_bytesSent += kBlockSize;
        const uint32_t sentKb = m_bytesSent / kBlockSize;
        m_row.setBarPosition(static_cast<int>(sentKb));
        m_row.setLabel(text(Situation::TransferProgress, {sentKb, totalKb}));
        const int result = wait(tokens::kEcho);
        if (result != kTokenSeen) {
            return text(Situation::BlockNotAcknowledged, {result});
        }
    } while (m_bytesSent < m_imageLength);
    return std::nullopt;
}

Failure UpdateWorker::awaitCheck() {
    if (wait(tokens::kAck) != kTokenSeen) {
        closePort();
        return text(Situation::TransferNotConfirmed);
    }
    m_row.setLabel(text(Situation::TransferCompleted));
    m_row.setLabel(text(Situation::CheckingImage));
    if (wait(tokens::kUpdate) != kTokenSeen) {
        closePort();
        return text(Situation::TransferNotConfirmed);
    }
    return std::nullopt;
}

Failure UpdateWorker::awaitUpdate() {
    m_status = text(Situation::Updating);
    m_row.setBarRange(kUpdateWaits);
    m_row.setBarPosition(0);
    showStatusWithDot();
    int steps = 0;
    for (int result = wait(tokens::kAck); result != kTokenSeen; result = wait(tokens::kAck)) {
        if (result != kTokenSilence) {
            m_row.setLabel("");
            closePort();
            return text(Situation::UpdateReportedFailure);
        }
        ++steps;
        m_row.setBarPosition(steps);
        if (steps == kUpdateWaits) {
            m_row.setLabel("");
            closePort();
            return text(Situation::UpdateTimedOut);
        }
        if (steps % kUpdateDotsCycle == 0) {
            m_status = text(Situation::Updating);
        }
        m_clock.sleep_ms(kUpdatePauseMs);
        showStatusWithDot();
    }
    return std::nullopt;
}

void UpdateWorker::succeed() {
    m_row.setLabel("");
    closePort();
    // Before the end steps, so the worker that closes the run sees it.
    m_state.SuccessCount.fetch_add(1);
}

void UpdateWorker::release() {
    m_image.close();
    closePort();
    m_block.reset();
    // A worker that failed before its bar went up leaves its label for the
    // run's closing to hide, so its last text stays readable until then.
    if (m_barShown) {
        m_row.hide();
    }
}

}  // namespace

unsigned UpdateThreadProc(void* parameter) {
    std::unique_ptr<WorkerArgs> args(static_cast<WorkerArgs*>(parameter));
    if (!args || args->dialog == nullptr) {
        return 1;
    }
    UpdateDialog& dialog = *args->dialog;
    const uint8_t deviceIndex = args->deviceIndex;
    args.reset();

    {
        UpdateWorker worker(dialog, deviceIndex);
        if (const Failure failure = worker.run()) {
            dialog.window().messageBox(*failure, "", kErrorBoxType);
        }
        worker.release();
    }
    finishUpdateWorker(dialog);
    return 1;
}

}  // namespace qor
