#include "update/update_worker.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/wait_for_token.h"
#include "text/catalogue.h"
#include "update/run_closing.h"
#include "update/setup_command.h"
#include "update/token_protocol.h"

namespace qor {

namespace {

// How a failed update ended, and its wording for the user.
struct FailureReport {
    Situation situation;
    std::string text;
};
using Failure = std::optional<FailureReport>;

// One device's update, from the disabled controls to the released port.
// Each worker owns its port and texts; the image's bytes, read once for the
// run, are shared and never change; only the dialog and SuccessCount are
// written by more than one worker.
class UpdateWorker {
  public:
    UpdateWorker(UpdateDialog& dialog, uint8_t deviceIndex)
        : m_dialog(dialog),
          m_events(dialog.deviceEvents()),
          m_state(dialog.state()),
          m_clock(dialog.services().clock(deviceIndex)),
          m_index(deviceIndex) {}

    // Everything up to success or the first failure.
    Failure run();
    // Tells how the update failed; returns once the user has been told.
    void reportFailure(const FailureReport& failure) {
        m_events.failed(m_index, failure.situation, failure.text);
    }
    // The end steps, on every path, after the failure has been reported.
    void release();

  private:
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
    FailureReport text(Situation situation, std::initializer_list<TextArg> args = {}) const {
        return {situation, formatText(situation, m_state.UiLanguage, kTextCapacity, args)};
    }

    UpdateDialog& m_dialog;
    DeviceObserver& m_events;
    RunState& m_state;
    Clock& m_clock;
    const uint8_t m_index;

    std::shared_ptr<const std::vector<uint8_t>> m_image;
    PortHandle m_port;
    std::string m_portName;
    uint32_t m_imageLength = 0;
    uint32_t m_bytesSent = 0;
    bool m_transferStarted = false;
};

Failure UpdateWorker::run() {
    m_events.workerStarted(m_index);
    m_image = m_state.FirmwareBytes;
    if (!m_image) {
        return text(Situation::ImageOpenFailed);
    }
    if (!openPort()) {
        return text(Situation::DevicePortOpenFailed, {m_portName});
    }
    m_port->purge();
    m_events.connecting(m_index, m_portName, 0);
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

bool UpdateWorker::openPort() {
    uint32_t baud = 0;
    if (m_dialog.usbModeSelected()) {
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
    for (int failures = 1;; ++failures) {
        // Any answer but the echo, a refusal included, is one more failed
        // wait; the probe is not sent again.
        if (wait(tokens::kEcho) == kTokenSeen) {
            return true;
        }
        m_events.connecting(m_index, m_portName, failures);
        if (failures == kProbeWaits) {
            return false;
        }
    }
}

Failure UpdateWorker::sendHeader() {
    // The image was checked before the run began, so its first bytes are a
    // header; bytes an image shorter than one lacks go out as zeros.
    std::array<uint8_t, kFirmwareHeaderSize> start{};
    std::copy_n(m_image->begin(), std::min(start.size(), m_image->size()), start.begin());
    // The check refused images of 4 GiB and more.
    m_imageLength = static_cast<uint32_t>(m_image->size());
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
    m_events.transferStarted(m_index, m_imageLength);
    m_transferStarted = true;
}

Failure UpdateWorker::sendBlocks() {
    do {
        // The imager takes whole blocks only: a tail shorter than a block
        // can never be sent (the check refuses such an image before a run).
        if (m_image->size() - m_bytesSent < kBlockSize) {
            closePort();
            return text(Situation::BlockReadShort);
        }
        const std::span<const uint8_t> block(m_image->data() + m_bytesSent, kBlockSize);
        if (!m_port->write(block)) {
            closePort();
            return text(Situation::BlockWriteFailed);
        }
        m_bytesSent += kBlockSize;
        m_events.blockSent(m_index, m_bytesSent, m_imageLength);
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
    m_events.checking(m_index);
    if (wait(tokens::kUpdate) != kTokenSeen) {
        closePort();
        return text(Situation::TransferNotConfirmed);
    }
    return std::nullopt;
}

Failure UpdateWorker::awaitUpdate() {
    int steps = 0;
    m_events.updating(m_index, steps);
    for (int result = wait(tokens::kAck); result != kTokenSeen; result = wait(tokens::kAck)) {
        if (result != kTokenSilence) {
            m_events.updateEnded(m_index);
            closePort();
            return text(Situation::UpdateReportedFailure);
        }
        ++steps;
        m_events.updateWaitMissed(m_index, steps);
        // A line that is gone can never bring the answer: the run would
        // only wait out the rest of its minute for the same failure.
        if (steps == kUpdateWaits || m_port->gone()) {
            m_events.updateEnded(m_index);
            closePort();
            return text(Situation::UpdateTimedOut);
        }
        m_clock.sleep_ms(kUpdatePauseMs);
        m_events.updating(m_index, steps);
    }
    return std::nullopt;
}

void UpdateWorker::succeed() {
    m_events.updateEnded(m_index);
    closePort();
    // Before the end steps, so the worker that closes the run sees it.
    m_state.SuccessCount.fetch_add(1);
    m_events.succeeded(m_index);
}

void UpdateWorker::release() {
    m_image.reset();
    closePort();
    m_events.portReleased(m_index, m_transferStarted);
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
            worker.reportFailure(*failure);
        }
        worker.release();
    }
    finishUpdateWorker(dialog);
    return 1;
}

}  // namespace qor
