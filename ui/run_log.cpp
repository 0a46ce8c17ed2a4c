#include "ui/run_log.h"

#include <system_error>

#include "text/catalogue.h"

namespace qor {

RunLog::RunLog(DeviceObserver& shown, UpdateDialog& dialog, std::filesystem::path path)
    : m_shown(shown), m_dialog(dialog), m_path(std::move(path)) {}

RunLog::Device* RunLog::device(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_devices.size()) {
        return nullptr;
    }
    return &m_devices[static_cast<std::size_t>(index)];
}

void RunLog::workerStarted(int index) {
    if (Device* d = device(index)) {
        // The run's mode and ports are fixed while it is open. The port of
        // a USB imager came from the registry walk that also named its
        // instance; an RS-232 imager has none, and its port stands in.
        const RunState& state = m_dialog.state();
        const auto slot = static_cast<std::size_t>(index);
        const bool usb = m_dialog.usbModeSelected();
        d->port = usb ? state.PortNameTable[slot] : m_dialog.selectedComPort();
        d->instance = usb && !state.UsbInstances[slot].empty() ? state.UsbInstances[slot] : d->port;
        d->bytesSent = 0;
        d->totalBytes = 0;
        d->started = std::chrono::steady_clock::now();
        d->running = true;
    }
    m_shown.workerStarted(index);
}

void RunLog::blockSent(int index, uint32_t bytesSent, uint32_t totalBytes) {
    if (Device* d = device(index)) {
        d->bytesSent = bytesSent;
        d->totalBytes = totalBytes;
    }
    m_shown.blockSent(index, bytesSent, totalBytes);
}

void RunLog::checking(int index) {
    if (Device* d = device(index)) {
        d->bytesSent = d->totalBytes;  // the imager confirmed the whole image
    }
    m_shown.checking(index);
}

void RunLog::succeeded(int index) {
    record(index, true, {}, situationCode(Situation::UpdatesSucceeded));
    m_shown.succeeded(index);
}

void RunLog::failed(int index, Situation situation, std::string_view text) {
    // Before the box, which waits for the user: the record is kept even if
    // the window is never answered.
    record(index, false, std::string(text), situationCode(situation));
    m_shown.failed(index, situation, text);
}

void RunLog::runClosing(int devices, bool allSucceeded) {
    {
        // The file is let go between runs, and the next run names its own
        // image.
        std::lock_guard lock(m_mutex);
        m_file.reset();
        m_image.reset();
    }
    m_shown.runClosing(devices, allSucceeded);
}

void RunLog::record(int index, bool succeeded, std::string message, std::string_view code) {
    Device* d = device(index);
    if (d == nullptr || !d->running) {
        return;  // the RS-232 connect's failure, before any run
    }
    d->running = false;
    RunRecord line{
        std::chrono::system_clock::now(),
        d->port,
        d->instance,
        {},
        {},
        succeeded ? "succeeded" : "failed",
        d->bytesSent,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - d->started).count(),
        std::move(message),
        std::string(code)};

    std::lock_guard lock(m_mutex);
    const RunState& state = m_dialog.state();
    if (!m_image && state.FirmwareBytes) {
        m_image = recordedImage(state.FirmwarePath, *state.FirmwareBytes);
    }
    if (m_image) {
        line.image = m_image->name;
        line.imageSha256 = m_image->sha256;
    }
    if (!m_file) {
        std::error_code ignored;
        std::filesystem::create_directories(m_path.parent_path(), ignored);
        long osError = 0;
        m_file = CsvReport::open(m_path, osError);
    }
    if (m_file && !m_file->append(line)) {
        m_file.reset();  // opened afresh for the next record
    }
}

}  // namespace qor
