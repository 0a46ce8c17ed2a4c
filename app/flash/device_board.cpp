#include "app/flash/device_board.h"

#include <algorithm>

#include "app/flash/open_problem.h"
#include "app/flash/texts.h"
#include "text/catalogue.h"
#include "text/result_codes.h"
#include "ui/resource_ids.h"
#include "update/token_protocol.h"

namespace qor {

DeviceBoard::DeviceBoard(ProgressSink& sink, StopControl& stop, uint16_t uiLanguage)
    : m_sink(sink), m_stop(stop), m_language(uiLanguage) {}

void DeviceBoard::begin(const std::vector<RunDevice>& devices, uint32_t imageBytes) {
    std::lock_guard lock(m_mutex);
    m_devices.clear();
    m_sent = std::vector<SentCount>(devices.size());
    m_sinkShowsProgress = m_sink.showsProgress();
    for (size_t i = 0; i < devices.size(); ++i) {
        DeviceReport report;
        report.device = static_cast<int>(i);
        report.port = devices[i].port;
        report.instance = devices[i].instance;
        report.totalBytes = imageBytes;
        m_devices.push_back(std::move(report));
    }
    for (DeviceReport& report : m_devices) {
        m_sink.deviceChanged(report, true);
    }
}

DeviceReport* DeviceBoard::find(int device) {
    if (device < 0 || device >= static_cast<int>(m_devices.size())) {
        return nullptr;
    }
    DeviceReport& report = m_devices[static_cast<size_t>(device)];
    // A device's last word stands; the run's closing hides every row again.
    if (isFinal(report.phase)) {
        return nullptr;
    }
    catchUp(report);
    return &report;
}

void DeviceBoard::catchUp(DeviceReport& report) const {
    const auto index = static_cast<size_t>(report.device);
    if (report.phase == DevicePhase::Transferring && index < m_sent.size()) {
        report.sentBytes = std::min(m_sent[index].bytes.load(), report.totalBytes);
    }
}

void DeviceBoard::changed(DeviceReport& report, DevicePhase phase) {
    const bool phaseChanged = report.phase != phase;
    report.phase = phase;
    m_sink.deviceChanged(report, phaseChanged);
}

void DeviceBoard::connecting(int device, int unansweredWaits) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report == nullptr) {
        return;
    }
    if (unansweredWaits == 0 && report->phase == DevicePhase::Waiting) {
        m_stop.setStage(device, StopStage::Connecting);
        changed(*report, DevicePhase::Connecting);
    } else if (unansweredWaits > 0 && report->phase == DevicePhase::Connecting) {
        report->unansweredWaits = unansweredWaits;
        changed(*report, DevicePhase::Connecting);
    }
}

void DeviceBoard::transferStarted(int device) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report == nullptr) {
        return;
    }
    m_stop.setStage(device, StopStage::Transferring);
    report->sentBytes = 0;
    m_sent[static_cast<size_t>(device)].bytes.store(0);
    changed(*report, DevicePhase::Transferring);
}

void DeviceBoard::blockSent(int device, uint32_t bytesSent) {
    // The devices are set before the workers start and stay while they run.
    if (device < 0 || static_cast<size_t>(device) >= m_sent.size()) {
        return;
    }
    m_sent[static_cast<size_t>(device)].bytes.store(bytesSent);
    if (!m_sinkShowsProgress) {
        return;
    }
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report != nullptr && report->phase == DevicePhase::Transferring) {
        report->sentBytes = std::min(bytesSent, report->totalBytes);
        changed(*report, DevicePhase::Transferring);
    }
}

void DeviceBoard::checking(int device) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report == nullptr) {
        return;
    }
    m_stop.setStage(device, StopStage::Finishing);
    report->sentBytes = report->totalBytes;
    if (report->phase != DevicePhase::Checking) {
        changed(*report, DevicePhase::Checking);
    }
}

void DeviceBoard::updating(int device) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report == nullptr) {
        return;
    }
    m_stop.setStage(device, StopStage::Finishing);
    if (report->phase != DevicePhase::Updating) {
        changed(*report, DevicePhase::Updating);
    }
}

void DeviceBoard::updateWaitMissed(int device, int unansweredWaits) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report != nullptr && report->phase == DevicePhase::Updating) {
        report->updateWaits = unansweredWaits;
        changed(*report, DevicePhase::Updating);
    }
}

void DeviceBoard::succeeded(int device) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report != nullptr) {
        report->message.clear();
        report->code = situationCode(Situation::UpdatesSucceeded);
        changed(*report, DevicePhase::Succeeded);
    }
}

std::string DeviceBoard::failureText(std::string_view text,
                                     const std::optional<OpenFailure>& failure,
                                     std::string& hint) const {
    std::string message(text);
    if (failure) {
        const OpenProblem problem = classifyOpenFailure(*failure);
        const std::string reason = openProblemReason(problem, m_language);
        if (!reason.empty()) {
            message += ": " + reason;
        }
        hint = openProblemHint(problem, m_language);
    }
    return message;
}

void DeviceBoard::messageBox(int device, std::string_view text, uint32_t type,
                             const std::optional<OpenFailure>& failure, std::string_view code) {
    std::lock_guard lock(m_mutex);
    if (type == kSuccessBoxType) {
        emitNote({Note::Kind::Info, -1, "", std::string(text), code});
        return;
    }
    std::string hint;
    std::string message = failureText(text, failure, hint);
    DeviceReport* report = find(device);
    if (report == nullptr) {
        emitNote({Note::Kind::Error, -1, "", std::move(message), code});
    } else {
        DevicePhase phase = DevicePhase::Failed;
        if (m_stop.stopped(device)) {
            // The box says what the refused I/O looked like to the worker
            // (a failed write, no answer); the user needs what it leaves.
            phase = DevicePhase::Interrupted;
            code = result_code::kInterrupted;
            hint.clear();
            message = report->phase == DevicePhase::Transferring
                          ? console_text::interruptedDuringTransfer(report->sentBytes / kBlockSize,
                                                                    report->totalBytes / kBlockSize,
                                                                    m_language)
                          : console_text::interruptedBeforeTransfer(m_language);
        }
        report->message = message;
        report->code = code;
        emitNote({Note::Kind::Error, device, report->port, message, code, report->instance});
        if (!hint.empty()) {
            emitNote({Note::Kind::Hint, device, report->port, hint, code, report->instance});
        }
        changed(*report, phase);
        return;
    }
    if (!hint.empty()) {
        emitNote({Note::Kind::Hint, -1, "", hint, code});
    }
}

void DeviceBoard::emitNote(Note note) {
    // The command looks for Ctrl-C only a few times a second; a device
    // stopped by it in between must not speak before the announcement.
    // Before the run has devices, the command says itself what a Ctrl-C
    // did.
    if (!m_announced && !m_devices.empty() && m_stop.interrupt().requested()) {
        announceLocked();
    }
    if (note.kind == Note::Kind::Error) {
        ++m_errors;
    }
    if (note.kind == Note::Kind::Hint) {
        note.text = console_text::hintPrefix(m_language) + note.text;
    }
    m_sink.note(note);
}

void DeviceBoard::note(Note::Kind kind, std::string text, std::string_view code) {
    std::lock_guard lock(m_mutex);
    emitNote({kind, -1, "", std::move(text), code});
}

void DeviceBoard::announceInterrupt() {
    std::lock_guard lock(m_mutex);
    if (!m_announced) {
        announceLocked();
    }
}

void DeviceBoard::announceLocked() {
    m_announced = true;
    emitNote({Note::Kind::Error, -1, "", console_text::interruptAnnounced(m_language),
              result_code::kInterrupted});
    for (DeviceReport& report : m_devices) {
        if (!isFinal(report.phase) && m_stop.stage(report.device) == StopStage::Finishing) {
            emitNote({Note::Kind::Info,
                      report.device,
                      report.port,
                      console_text::imagerFinishesAlone(m_language),
                      {},
                      report.instance});
        }
    }
}

int DeviceBoard::errorCount() const {
    std::lock_guard lock(m_mutex);
    return m_errors;
}

RunSummary DeviceBoard::summary(int exitCode, std::string_view code) const {
    std::lock_guard lock(m_mutex);
    RunSummary result{exitCode, m_devices, code};
    for (DeviceReport& report : result.devices) {
        catchUp(report);
    }
    return result;
}

void DeviceBoard::finish(int exitCode, std::string_view code) {
    const RunSummary result = summary(exitCode, code);
    std::lock_guard lock(m_mutex);
    m_sink.finished(result);
}

}  // namespace qor
