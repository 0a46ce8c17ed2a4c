// The command line's update: the checks of the window's main button in the
// window's order, with the image taken from the command line instead of a
// file dialog, then the same workers.

#include "app/flash_command.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/console_json.h"
#include "app/console_platform.h"
#include "app/console_texts.h"
#include "serial/usb_discovery.h"
#include "text/catalogue.h"
#include "ui/resource_ids.h"
#include "update/image_header.h"
#include "update/setup_handshake.h"
#include "update/update_worker.h"

namespace qor {

namespace {

// A run drives at most one device per row.
constexpr uint8_t kMaxDevices = kMaxDeviceRows;

// The window always gives an RS-232 imager the time a person takes to pick a
// file between its switch into update mode and the first byte of the update;
// a command has no person, so it leaves the imager this moment instead.
constexpr uint32_t kRs232SettleMs = 250;

// The main thread sleeps while the workers run: the run's closing wakes it,
// and so does Ctrl-C, which it announces (the workers see it by themselves).
// Should no wake-up be possible (the OS had no pipe or event to give), it
// still looks once a second.
constexpr uint32_t kRunLookMs = 1000;

enum class PortCheck { Passed, Failed, Interrupted };

class FlashCommand {
  public:
    FlashCommand(const FlashOptions& options, FlashContext& context)
        : m_options(options),
          m_context(context),
          m_state(context.state),
          m_board(context.board),
          m_language(context.state.UiLanguage) {}

    int run() {
        switch (m_options.mode) {
            case FlashOptions::Mode::List:
                return listImagers();
            case FlashOptions::Mode::Port:
                return updateOverRs232();
            default:
                return updateOverUsb();
        }
    }

  private:
    int updateOverUsb();
    int updateOverRs232();
    int listImagers();

    // Reads the image whole, once: what is checked is what the workers send.
    bool loadImage(FirmwareImage& image);
    // A run's check takes only a collection that named every imager; the
    // listing shows whatever names there are.
    PortCheck collectPorts(uint8_t expected);
    int runWorkers(const std::vector<std::string>& ports, FirmwareImage image);

    int end(int code) {
        m_board.finish(code);
        return code;
    }
    void error(std::string text) { m_board.note(Note::Kind::Error, std::move(text)); }
    void error(Situation situation) { error(formatText(situation, m_language, kTextCapacity)); }
    void reportNoImager() {
        // The window's status line says so; its padding is no part of a line.
        std::string text = formatText(Situation::NoDeviceConnected, m_language, kTextCapacity);
        text.erase(0, text.find_first_not_of(' '));
        error(std::move(text));
        m_board.note(Note::Kind::Hint,
                     console_text::scanUpdateBarcode(printableBarcodePath(), m_language));
    }
    bool interrupted() const { return m_context.interrupt.requested(); }
    Clock& uiClock() { return m_context.services.clock(Services::kUiThread); }

    const FlashOptions& m_options;
    FlashContext& m_context;
    RunState& m_state;
    DeviceBoard& m_board;
    const uint16_t m_language;
};

bool FlashCommand::loadImage(FirmwareImage& image) {
    switch (LoadFirmwareImage(m_options.image, image)) {
        case ImageHeaderResult::CannotOpen:
            // The window ends silently here: its user has just picked the
            // file and sees it. A script needs the reason.
            error(console_text::imageUnreadable(
                m_options.image, console_text::imageUnreadableReason(m_options.image, m_language),
                m_language));
            return false;
        case ImageHeaderResult::NotFirmware:
            error(Situation::InvalidFile);
            return false;
        case ImageHeaderResult::HeaderRead:
            break;
    }
    return true;
}

PortCheck FlashCommand::collectPorts(uint8_t expected) {
    for (int attempt = 0; attempt < kPortCheckAttempts; ++attempt) {
        if (interrupted()) {
            return PortCheck::Interrupted;
        }
        RegistryReader& registry = m_context.services.registry();
        const uint8_t collected = CollectUsbPortsForRun(registry, m_state.PortNameTable);
        // A run of no device would never close, so nothing found never passes.
        if (collected == expected && collected != 0) {
            return PortCheck::Passed;
        }
        uiClock().sleep_ms(kPortCheckPauseMs);
    }
    return interrupted() ? PortCheck::Interrupted : PortCheck::Failed;
}

int FlashCommand::updateOverUsb() {
    m_state.DeviceCount = CountUsbDevices(m_context.services.registry());
    if (m_state.DeviceCount == 0) {
        reportNoImager();
        return end(flash_exit::kNoDevice);
    }
    if (m_state.DeviceCount > kMaxDevices) {
        error(Situation::TooManyDevices);
        return end(flash_exit::kNoDevice);
    }
    FirmwareImage image;
    if (!loadImage(image)) {
        return end(flash_exit::kImageRefused);
    }
    switch (collectPorts(m_state.DeviceCount)) {
        case PortCheck::Interrupted:
            error(console_text::interruptedBeforeRun(m_language));
            return end(m_context.interrupt.exitStatus());
        case PortCheck::Failed:
            error(Situation::PortsNotFound);
            return end(flash_exit::kNoDevice);
        case PortCheck::Passed:
            break;
    }
    if (!CheckHeaderWords(image.header)) {
        error(Situation::InvalidFile);
        return end(flash_exit::kImageRefused);
    }
    const auto first = m_state.PortNameTable.begin();
    return runWorkers(std::vector<std::string>(first, first + m_state.DeviceCount),
                      std::move(image));
}

int FlashCommand::updateOverRs232() {
    // The window connects first and asks for the file afterwards; here the
    // file is known from the start, and refusing it after the imager has
    // been switched into update mode would leave the imager there for
    // nothing.
    FirmwareImage image;
    if (!loadImage(image)) {
        return end(flash_exit::kImageRefused);
    }
    if (!CheckHeaderWords(image.header)) {
        error(Situation::InvalidFile);
        return end(flash_exit::kImageRefused);
    }
    const int errorsBefore = m_board.errorCount();
    const bool connected = RunSetupHandshake(m_context.dialog, m_options.portName);
    if (interrupted()) {
        error(console_text::interruptedBeforeRun(m_language));
        return end(m_context.interrupt.exitStatus());
    }
    if (!connected) {
        // A port that would not open has been reported by the handshake;
        // an imager that never answered, the window leaves to its caption.
        if (m_board.errorCount() == errorsBefore) {
            error(console_text::noImagerAnswered(m_options.portName, m_language));
        }
        return end(flash_exit::kNoDevice);
    }
    uiClock().sleep_ms(kRs232SettleMs);
    if (interrupted()) {
        error(console_text::interruptedBeforeRun(m_language));
        return end(m_context.interrupt.exitStatus());
    }
    m_state.DeviceCount = 1;
    return runWorkers({m_options.portName}, std::move(image));
}

int FlashCommand::runWorkers(const std::vector<std::string>& ports, FirmwareImage image) {
    // The check refused images of 4 GiB and more.
    const auto imageBytes = static_cast<uint32_t>(image.bytes->size());
    m_state.FirmwarePath = m_options.image;
    m_state.FirmwareBytes = std::move(image.bytes);
    m_state.SuccessCount.store(0);
    m_board.begin(ports, imageBytes);
    startUpdateWorkers(m_context.dialog, m_state.DeviceCount);

    bool announced = false;
    while (!announced && !m_context.dialog.runIsClosed()) {
        if (m_context.interrupt.waitForRequestOrWake(kRunLookMs)) {
            m_board.announceInterrupt();
            announced = true;
        }
    }
    // Once interrupted, every wait on the interrupt ends at once: the
    // devices' stop is waited for on the run alone.
    while (!m_context.dialog.waitForRunClosed(std::chrono::milliseconds(kRunLookMs))) {
    }
    if (announced || interrupted()) {
        return end(m_context.interrupt.exitStatus());
    }
    return end(m_state.SuccessCount.load() == m_state.DeviceCount ? flash_exit::kSucceeded
                                                                  : flash_exit::kDeviceFailed);
}

int FlashCommand::listImagers() {
    // The ports of imagers just plugged in may not be named yet: as many
    // looks as the update takes, a quarter of a second apart.
    std::optional<std::vector<UsbImager>> imagers;
    for (int attempt = 0; attempt < kPortCheckAttempts && !interrupted(); ++attempt) {
        if (attempt > 0) {
            uiClock().sleep_ms(kPortCheckPauseMs);
        }
        imagers = ListUsbImagers(m_context.services.registry());
        if (imagers && std::none_of(imagers->begin(), imagers->end(),
                                    [](const UsbImager& imager) { return imager.port.empty(); })) {
            break;
        }
    }
    if (!imagers || imagers->empty()) {
        reportNoImager();
        return flash_exit::kNoDevice;
    }
    int listed = 0;
    for (std::size_t i = 0; i < imagers->size(); ++i) {
        const UsbImager& imager = (*imagers)[i];
        if (imager.port.empty()) {
            continue;  // listed by the driver, but without a port name
        }
        if (m_context.json) {
            m_context.out << JsonObject()
                                 .add("event", "imager")
                                 .addNumber("device", static_cast<int64_t>(i))
                                 .add("port", imager.port)
                                 .add("instance", imager.instance)
                                 .str()
                          << "\n";
        } else {
            // A tab, so that a serial number with spaces stays one field.
            m_context.out << imager.port << '\t' << imager.instance << "\n";
        }
        ++listed;
    }
    m_context.out.flush();
    return listed > 0 ? flash_exit::kSucceeded : flash_exit::kNoDevice;
}

}  // namespace

int runFlashCommand(const FlashOptions& options, FlashContext& context) {
    return FlashCommand(options, context).run();
}

}  // namespace qor
