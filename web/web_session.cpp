#include "web/web_session.h"

#include <charconv>
#include <system_error>
#include <thread>

#include "update/setup_handshake.h"
#include "update/update_worker.h"

namespace qor {

namespace {

// A run drives at most this many imagers, as the window does.
constexpr std::size_t kMaxDevices = 6;
constexpr std::string_view kPortPrefix = "Port ";

}  // namespace

WebSession::WebSession(uint16_t uiLanguage, WebSerialLink& link, WebEventSink& events)
    : m_ports(link), m_events(events), m_registry(openSystemRegistry()) {
    m_state.UiLanguage = uiLanguage;
}

std::string WebSession::portName(int port) {
    return std::string(kPortPrefix) + std::to_string(port + 1);
}

PortHandle WebSession::openComPort(std::string_view name, uint32_t baud) {
    if (name.substr(0, kPortPrefix.size()) != kPortPrefix) {
        return {};
    }
    name.remove_prefix(kPortPrefix.size());
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error != std::errc() || end != name.data() + name.size() || number < 1) {
        return {};
    }
    return m_ports.open(number - 1, baud);
}

ImageHeaderResult WebSession::checkImage(const std::string& path) {
    if (m_busy) {
        return ImageHeaderResult::CannotOpen;  // the running workers send the image they have
    }
    FirmwareImage image;
    ImageHeaderResult result = LoadFirmwareImage(path, image);
    if (result == ImageHeaderResult::HeaderRead && !CheckHeaderWords(image.header)) {
        result = ImageHeaderResult::NotFirmware;
    }
    m_image = result == ImageHeaderResult::HeaderRead ? std::move(image) : FirmwareImage{};
    return result;
}

bool WebSession::startUsbRun(const std::vector<int>& ports) {
    if (ports.empty() || ports.size() > kMaxDevices || !m_image.bytes || m_busy.exchange(true)) {
        return false;
    }
    m_usbRun = true;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        m_state.PortNameTable[i] = portName(ports[i]);
        m_state.UsbInstances[i].clear();
    }
    return startRun(static_cast<uint8_t>(ports.size()));
}

bool WebSession::connectRs232(int port) {
    if (m_busy.exchange(true)) {
        return false;
    }
    m_usbRun = false;
    m_rs232Ready = false;
    m_rs232Port = portName(port);
    m_state.HighSpeedFlag = 0;
    try {
        std::thread([this] {
            m_rs232Ready = RunSetupHandshake(*this, m_rs232Port);
            m_busy = false;
            m_events.post(WebEvent::Connected, 0, m_rs232Ready ? 1 : 0, 0, m_rs232Port);
        }).detach();
    } catch (const std::system_error&) {
        m_busy = false;
        return false;
    }
    return true;
}

bool WebSession::startRs232Run() {
    if (!m_rs232Ready || !m_image.bytes || m_busy.exchange(true)) {
        return false;
    }
    m_usbRun = false;
    m_rs232Ready = false;  // the imager leaves update mode with the run
    return startRun(1);
}

bool WebSession::startRun(uint8_t devices) {
    m_state.DeviceCount = devices;
    m_state.FirmwareBytes = m_image.bytes;
    m_state.SuccessCount.store(0);
    if (startUpdateWorkers(*this, devices) == 0) {
        // Nothing started; the run has been closed on the workers' behalf.
        return false;
    }
    return true;
}

void WebSession::enterSelectedMode() {
    m_events.post(WebEvent::ModeEntered, -1, 0, 0, {});
}

void WebSession::runClosed() {
    m_busy = false;
    m_events.post(WebEvent::RunClosed, -1, 0, 0, {});
}

void WebSession::workerStarted(int device) {
    m_events.post(WebEvent::WorkerStarted, device, 0, 0, {});
}
void WebSession::connecting(int device, std::string_view port, int unansweredWaits) {
    m_events.post(WebEvent::Connecting, device, unansweredWaits, 0, port);
}
void WebSession::transferStarted(int device, uint32_t totalBytes) {
    m_events.post(WebEvent::TransferStarted, device, 0, totalBytes, {});
}
void WebSession::blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) {
    m_events.post(WebEvent::BlockSent, device, bytesSent, totalBytes, {});
}
void WebSession::checking(int device) {
    m_events.post(WebEvent::Checking, device, 0, 0, {});
}
void WebSession::updating(int device, int step) {
    m_events.post(WebEvent::Updating, device, step, 0, {});
}
void WebSession::updateWaitMissed(int device, int unansweredWaits) {
    m_events.post(WebEvent::UpdateWaitMissed, device, unansweredWaits, 0, {});
}
void WebSession::updateEnded(int device) {
    m_events.post(WebEvent::UpdateEnded, device, 0, 0, {});
}
void WebSession::succeeded(int device) {
    m_events.post(WebEvent::Succeeded, device, 0, 0, {});
}
void WebSession::failed(int device, Situation situation, std::string_view text) {
    m_events.post(WebEvent::Failed, device, static_cast<int>(situation), 0, text);
}
void WebSession::portReleased(int device, bool transferStarted) {
    m_events.post(WebEvent::PortReleased, device, transferStarted ? 1 : 0, 0, {});
}
void WebSession::runClosing(int devices, bool allSucceeded) {
    m_events.post(WebEvent::RunClosing, -1, devices, allSucceeded ? 1 : 0, {});
}

}  // namespace qor
