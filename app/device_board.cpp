#include "app/device_board.h"

#include <algorithm>

#include "app/console_texts.h"
#include "app/open_problem.h"
#include "text/catalogue.h"
#include "ui/resource_ids.h"
#include "update/token_protocol.h"

namespace qor {

DeviceBoard::DeviceBoard(ProgressSink& sink, StopControl& stop, uint16_t uiLanguage)
    : m_sink(sink),
      m_stop(stop),
      m_language(uiLanguage),
      m_transferCompleted(catalogueText(Situation::TransferCompleted, uiLanguage)),
      m_checking(catalogueText(Situation::CheckingImage, uiLanguage)),
      m_updating(catalogueText(Situation::Updating, uiLanguage)) {}

void DeviceBoard::begin(const std::vector<std::string>& ports, uint32_t imageBytes) {
    std::lock_guard lock(m_mutex);
    m_devices.clear();
    for (size_t i = 0; i < ports.size(); ++i) {
        DeviceReport report;
        report.device = static_cast<int>(i);
        report.port = ports[i];
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
    return isFinal(report.phase) ? nullptr : &report;
}

void DeviceBoard::changed(DeviceReport& report, DevicePhase phase) {
    const bool phaseChanged = report.phase != phase;
    report.phase = phase;
    m_sink.deviceChanged(report, phaseChanged);
}

void DeviceBoard::labelShown(int device) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report != nullptr && report->phase == DevicePhase::Waiting) {
        m_stop.setStage(device, StopStage::Connecting);
        changed(*report, DevicePhase::Connecting);
    }
}

void DeviceBoard::labelText(int device, std::string_view text) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report == nullptr || text.empty()) {
        return;
    }
    if (text == m_transferCompleted || text == m_checking) {
        m_stop.setStage(device, StopStage::Finishing);
        report->sentBytes = report->totalBytes;
        if (report->phase != DevicePhase::Checking) {
            changed(*report, DevicePhase::Checking);
        }
    } else if (text.starts_with(m_updating)) {
        m_stop.setStage(device, StopStage::Finishing);
        if (report->phase != DevicePhase::Updating) {
            changed(*report, DevicePhase::Updating);
        }
    } else if (report->phase == DevicePhase::Connecting) {
        // The only texts of the connect are the dots of unanswered waits.
        ++report->unansweredWaits;
        changed(*report, DevicePhase::Connecting);
    }
}

void DeviceBoard::barShown(int device, bool visible) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report == nullptr) {
        return;
    }
    if (visible) {
        m_stop.setStage(device, StopStage::Transferring);
        report->sentBytes = 0;
        changed(*report, DevicePhase::Transferring);
    } else if (report->phase == DevicePhase::Updating) {
        // A worker hides its bar at its end; every failure raises its box
        // before that, so a bar that goes without one went with success.
        report->message.clear();
        changed(*report, DevicePhase::Succeeded);
    }
}

void DeviceBoard::barPosition(int device, int position) {
    std::lock_guard lock(m_mutex);
    DeviceReport* report = find(device);
    if (report == nullptr || position < 0) {
        return;
    }
    if (report->phase == DevicePhase::Transferring) {
        const uint64_t sent = static_cast<uint64_t>(position) * kBlockSize;
        report->sentBytes = static_cast<uint32_t>(std::min<uint64_t>(sent, report->totalBytes));
        changed(*report, DevicePhase::Transferring);
    } else if (report->phase == DevicePhase::Updating) {
        report->updateWaits = position;
        changed(*report, DevicePhase::Updating);
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
                             const std::optional<OpenFailure>& failure) {
    std::lock_guard lock(m_mutex);
    if (type == kSuccessBoxType) {
        emitNote({Note::Kind::Info, -1, "", std::string(text)});
        return;
    }
    std::string hint;
    std::string message = failureText(text, failure, hint);
    DeviceReport* report = find(device);
    if (report == nullptr) {
        emitNote({Note::Kind::Error, -1, "", std::move(message)});
    } else {
        DevicePhase phase = DevicePhase::Failed;
        if (m_stop.stopped(device)) {
            // The box says what the refused I/O looked like to the worker
            // (a failed write, no answer); the user needs what it leaves.
            phase = DevicePhase::Interrupted;
            hint.clear();
            message = report->phase == DevicePhase::Transferring
                          ? console_text::interruptedDuringTransfer(report->sentBytes / kBlockSize,
                                                                    report->totalBytes / kBlockSize,
                                                                    m_language)
                          : console_text::interruptedBeforeTransfer(m_language);
        }
        report->message = message;
        emitNote({Note::Kind::Error, device, report->port, message});
        if (!hint.empty()) {
            emitNote({Note::Kind::Hint, device, report->port, hint});
        }
        changed(*report, phase);
        return;
    }
    if (!hint.empty()) {
        emitNote({Note::Kind::Hint, -1, "", hint});
    }
}

void DeviceBoard::emitNote(Note note) {
    if (note.kind == Note::Kind::Error) {
        ++m_errors;
    }
    if (note.kind == Note::Kind::Hint) {
        note.text = console_text::hintPrefix(m_language) + note.text;
    }
    m_sink.note(note);
}

void DeviceBoard::note(Note::Kind kind, std::string text) {
    std::lock_guard lock(m_mutex);
    emitNote({kind, -1, "", std::move(text)});
}

void DeviceBoard::announceInterrupt() {
    std::lock_guard lock(m_mutex);
    emitNote({Note::Kind::Error, -1, "", console_text::interruptAnnounced(m_language)});
    for (DeviceReport& report : m_devices) {
        if (!isFinal(report.phase) && m_stop.stage(report.device) == StopStage::Finishing) {
            emitNote({Note::Kind::Info, report.device, report.port,
                      console_text::imagerFinishesAlone(m_language)});
        }
    }
}

int DeviceBoard::errorCount() const {
    std::lock_guard lock(m_mutex);
    return m_errors;
}

RunSummary DeviceBoard::summary(int exitCode) const {
    std::lock_guard lock(m_mutex);
    return RunSummary{exitCode, m_devices};
}

void DeviceBoard::finish(int exitCode) {
    const RunSummary result = summary(exitCode);
    std::lock_guard lock(m_mutex);
    m_sink.finished(result);
}

}  // namespace qor
