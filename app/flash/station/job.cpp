#include "app/flash/station/job.h"

#include "app/flash/open_problem.h"
#include "app/flash/texts.h"
#include "text/catalogue.h"
#include "text/result_codes.h"
#include "update/token_protocol.h"
#include "update/update_worker.h"

namespace qor {

const char* resultName(StationOutcome::Result result) {
    switch (result) {
        case StationOutcome::Result::Succeeded:
            return "succeeded";
        case StationOutcome::Result::Interrupted:
            return "interrupted";
        case StationOutcome::Result::Failed:
            break;
    }
    return "failed";
}

StationJob::StationJob(Interrupt& interrupt, const FirmwareImage& image, uint16_t language,
                       std::string port, std::string instance)
    : m_port(std::move(port)),
      m_instance(std::move(instance)),
      m_stop(interrupt),
      m_services(m_stop) {
    m_state.UiLanguage = language;
    m_state.FirmwareBytes = image.bytes;
    m_state.PortNameTable[0] = m_port;
    m_state.DeviceCount = 1;
}

bool StationJob::start() {
    if (startUpdateWorkers(*this, 1) == 1) {
        return true;
    }
    std::lock_guard lock(m_mutex);
    m_outcome.message = "no thread for the update";
    m_outcome.code = result_code::kNoThread;
    return false;  // the starter closed the run: finished, failed
}

void StationJob::transferStarted(int device, uint32_t totalBytes) {
    m_stop.setStage(device, StopStage::Transferring);
    std::lock_guard lock(m_mutex);
    m_transferring = true;
    m_totalBytes = totalBytes;
}

void StationJob::blockSent(int /*device*/, uint32_t bytesSent, uint32_t /*totalBytes*/) {
    m_bytesSent.store(bytesSent);
}

void StationJob::succeeded(int /*device*/) {
    std::lock_guard lock(m_mutex);
    m_outcome.result = StationOutcome::Result::Succeeded;
    m_outcome.code = situationCode(Situation::UpdatesSucceeded);
}

void StationJob::failed(int device, Situation situation, std::string_view text) {
    std::lock_guard lock(m_mutex);
    m_outcome.result = StationOutcome::Result::Failed;
    m_outcome.code = situationCode(situation);
    m_outcome.bytesSent = m_bytesSent.load();
    m_outcome.message = std::string(text);
    if (const auto failure = m_services.takeOpenFailure()) {
        m_outcome.openProblem = classifyOpenFailure(*failure);
        const std::string reason = openProblemReason(m_outcome.openProblem, m_state.UiLanguage);
        if (!reason.empty()) {
            m_outcome.message += ": " + reason;
        }
    }
    if (m_stop.stopped(device)) {
        // What the refused I/O looked like to the worker is no news to the
        // user; what it leaves the imager with is.
        m_outcome.result = StationOutcome::Result::Interrupted;
        m_outcome.code = result_code::kInterrupted;
        m_outcome.message = m_transferring
                                ? console_text::interruptedDuringTransfer(
                                      m_outcome.bytesSent / kBlockSize, m_totalBytes / kBlockSize,
                                      m_state.UiLanguage)
                                : console_text::interruptedBeforeTransfer(m_state.UiLanguage);
    }
}

StationJob::~StationJob() {
    // The worker may still be inside runClosed(), past the flag that let the
    // job go: its call ends before this lock is had.
    std::lock_guard lock(m_mutex);
}

void StationJob::runClosed() {
    std::lock_guard lock(m_mutex);
    m_outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    // The worker has let go of its port by now.
    m_outcome.lineGone = m_stop.lineGone(0);
    // The worker's last use of the job: from here on it may go.
    m_finished.store(true);
    m_stop.interrupt().wake();
}

StationOutcome StationJob::outcome() const {
    std::lock_guard lock(m_mutex);
    StationOutcome outcome = m_outcome;
    outcome.bytesSent = m_bytesSent.load();
    return outcome;
}

}  // namespace qor
