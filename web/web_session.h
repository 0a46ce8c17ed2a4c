#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "serial/web_serial_ports.h"
#include "update/image_header.h"
#include "update/update_dialog.h"

namespace qor {

// What the page is told, one event at a time, on its own thread. The page
// turns each into its rows, texts and dialogs.
enum class WebEvent {
    WorkerStarted,     // device
    Connecting,        // device, a: unanswered waits, text: the port
    TransferStarted,   // device, b: total bytes
    BlockSent,         // device, a: bytes sent, b: total bytes
    Checking,          // device
    Updating,          // device, a: the step
    UpdateWaitMissed,  // device, a: unanswered waits
    UpdateEnded,       // device
    Succeeded,         // device
    Failed,            // device, a: the situation, text: its wording
    PortReleased,      // device, a: 1 when the transfer had started
    RunClosing,        // a: devices, b: 1 when all succeeded
    ModeEntered,       // the run is over; the page may start another
    RunClosed,
    Connected,  // the RS-232 imager answered the setup scan (a: 1) or not (a: 0)
};

// Hands one event to the page's thread without waiting for it.
class WebEventSink {
  public:
    virtual ~WebEventSink() = default;
    virtual void post(WebEvent event, int device, double a, double b, std::string_view text) = 0;
};

// One page's updater: the same update run, RS-232 scan and image checks as
// the window's, over the ports the user granted the page. Its calls come
// from the page's thread and never wait on a port: scans and updates run on
// threads of their own and report through the sink.
class WebSession final : public UpdateDialog, private Services, private DeviceObserver {
  public:
    WebSession(uint16_t uiLanguage, WebSerialLink& link, WebEventSink& events);

    WebSerialPorts& ports() { return m_ports; }
    uint16_t uiLanguage() const { return m_state.UiLanguage; }

    // The image the page read, checked as the window checks a file; kept for
    // the next run when it passes.
    ImageHeaderResult checkImage(const std::string& path);

    // Starts one worker per port (the page's numbers for them, at most six);
    // false when there is no checked image, no port, too many, or a run open.
    bool startUsbRun(const std::vector<int>& ports);
    // Scans `port` for the RS-232 imager on a thread of its own and switches
    // it into update mode; told as WebEvent::Connected.
    bool connectRs232(int port);
    // Updates the RS-232 imager found by the last scan.
    bool startRs232Run();

    // The name under which the page's port `port` shows in texts.
    static std::string portName(int port);

  private:
    // UpdateDialog
    DeviceObserver& deviceEvents() override { return *this; }
    RunState& state() override { return m_state; }
    Services& services() override { return *this; }
    void enterSelectedMode() override;
    bool usbModeSelected() override { return m_usbRun; }
    std::string selectedComPort() override { return m_rs232Port; }
    void runClosed() override;

    // Services
    Clock& clock(int) override { return m_clock; }
    PortHandle openComPort(std::string_view name, uint32_t baud) override;
    RegistryReader& registry() override { return *m_registry; }

    // DeviceObserver
    void workerStarted(int device) override;
    void connecting(int device, std::string_view port, int unansweredWaits) override;
    void transferStarted(int device, uint32_t totalBytes) override;
    void blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) override;
    void checking(int device) override;
    void updating(int device, int step) override;
    void updateWaitMissed(int device, int unansweredWaits) override;
    void updateEnded(int device) override;
    void succeeded(int device) override;
    void failed(int device, Situation situation, std::string_view text) override;
    void portReleased(int device, bool transferStarted) override;
    void runClosing(int devices, bool allSucceeded) override;

    bool startRun(uint8_t devices);

    RunState m_state;
    SteadyClock m_clock;
    WebSerialPorts m_ports;
    WebEventSink& m_events;
    // The page counts the imagers it was granted itself; no run of a page
    // lists USB imagers through the registry, which finds none in a browser.
    std::unique_ptr<RegistryReader> m_registry;
    FirmwareImage m_image;
    std::atomic<bool> m_busy{false};  // a scan or a run is going on
    bool m_usbRun = true;
    std::string m_rs232Port;
    std::atomic<bool> m_rs232Ready{false};
};

}  // namespace qor
