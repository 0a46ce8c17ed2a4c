#include "tests/support/event_log.h"

namespace qor::testing {

namespace {

std::string words(std::initializer_list<std::string> parts) {
    std::string line;
    for (const std::string& part : parts) {
        line += (line.empty() ? "" : " ") + part;
    }
    return line;
}

using std::to_string;

}  // namespace

std::vector<std::string> EventLog::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

void EventLog::add(std::string line) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back(std::move(line));
}

void EventLog::workerStarted(int device) {
    add(words({"started", to_string(device)}));
    m_next.workerStarted(device);
}

void EventLog::connecting(int device, std::string_view port, int unansweredWaits) {
    add(words({"connecting", to_string(device), std::string(port), to_string(unansweredWaits)}));
    m_next.connecting(device, port, unansweredWaits);
}

void EventLog::transferStarted(int device, uint32_t totalBytes) {
    add(words({"transfer", to_string(device), to_string(totalBytes)}));
    m_next.transferStarted(device, totalBytes);
}

void EventLog::blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) {
    add(words({"block", to_string(device), to_string(bytesSent)}));
    m_next.blockSent(device, bytesSent, totalBytes);
}

void EventLog::checking(int device) {
    add(words({"checking", to_string(device)}));
    m_next.checking(device);
}

void EventLog::updating(int device, int step) {
    add(words({"updating", to_string(device), to_string(step)}));
    m_next.updating(device, step);
}

void EventLog::updateWaitMissed(int device, int unansweredWaits) {
    add(words({"missed", to_string(device), to_string(unansweredWaits)}));
    m_next.updateWaitMissed(device, unansweredWaits);
}

void EventLog::updateEnded(int device) {
    add(words({"update-ended", to_string(device)}));
    m_next.updateEnded(device);
}

void EventLog::succeeded(int device) {
    add(words({"succeeded", to_string(device)}));
    m_next.succeeded(device);
}

void EventLog::failed(int device, Situation situation, std::string_view text) {
    add(words(
        {"failed", to_string(device), to_string(static_cast<int>(situation)), std::string(text)}));
    m_next.failed(device, situation, text);
}

void EventLog::portReleased(int device, bool transferStarted) {
    add(words({"released", to_string(device), to_string(transferStarted)}));
    m_next.portReleased(device, transferStarted);
}

void EventLog::runClosing(int devices, bool allSucceeded) {
    add(words({"closing", to_string(devices), to_string(allSucceeded)}));
    m_next.runClosing(devices, allSucceeded);
}

}  // namespace qor::testing
