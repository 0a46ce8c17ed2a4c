// The command line's update: the checks of the window's main button in the
// window's order, with the image taken from the command line instead of a
// file dialog, then the same workers.

#include "app/flash/command.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/flash/instance_selection.h"
#include "app/flash/json.h"
#include "app/flash/platform.h"
#include "app/flash/texts.h"
#include "serial/usb_discovery.h"
#include "text/catalogue.h"
#include "text/result_codes.h"
#include "ui/resource_ids.h"
#include "update/image_header.h"
#include "update/run_record.h"
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
        if (m_options.mode == FlashOptions::Mode::List) {
            return listImagers();
        }
        // Before any imager is touched: no imager may go unrecorded.
        long osError = 0;
        if (m_context.report != nullptr && !m_context.report->open(osError)) {
            error(reportProblem("open", m_options.report, osError), result_code::kReportUnwritable);
            return end(flash_exit::kUsage, result_code::kReportUnwritable);
        }
        return m_options.mode == FlashOptions::Mode::Port ? updateOverRs232() : updateOverUsb();
    }

  private:
    int updateOverUsb();
    // --usb --instance: the imagers named, each found by its instance.
    int updateNamedImagers();
    int updateOverRs232();
    int listImagers();

    // Reads the image whole, once: what is checked is what the workers send.
    // Says why when it cannot, and returns the situation that refused it.
    std::optional<Situation> loadImage(FirmwareImage& image);
    // A run's check takes only a collection that named every imager; the
    // listing shows whatever names there are.
    PortCheck collectPorts(uint8_t expected);
    // The imagers of the USB run that the tables name.
    std::vector<RunDevice> usbDevices() const;
    // Says which of the instances named are not attached, if any.
    bool reportAbsentInstances(const std::vector<UsbImager>& attached);
    int runWorkers(const std::vector<RunDevice>& devices, FirmwareImage image);

    // Ends the run with the exit status `status`; `code` says what ended a
    // run that never got as far as its devices.
    int end(int status, std::string_view code = {}) {
        // A device whose record is missing is no device updated: the report
        // has said so, and the run does too.
        if (status == flash_exit::kSucceeded && m_context.report != nullptr &&
            m_context.report->broken()) {
            status = flash_exit::kDeviceFailed;
        }
        m_board.finish(status, code);
        return status;
    }
    int interruptedBeforeRun() {
        error(console_text::interruptedBeforeRun(m_language), result_code::kInterrupted);
        return end(m_context.interrupt.exitStatus(), result_code::kInterrupted);
    }
    void error(std::string text, std::string_view code) {
        m_board.note(Note::Kind::Error, std::move(text), code);
    }
    void error(Situation situation) {
        error(formatText(situation, m_language, kTextCapacity), situationCode(situation));
    }
    // Says so and ends the run with `status`.
    int refuse(Situation situation, int status) {
        error(situation);
        return end(status, situationCode(situation));
    }
    void reportNoImager() {
        // The window's status line says so; its padding is no part of a line.
        std::string text = formatText(Situation::NoDeviceConnected, m_language, kTextCapacity);
        text.erase(0, text.find_first_not_of(' '));
        const std::string_view code = situationCode(Situation::NoDeviceConnected);
        error(std::move(text), code);
        m_board.note(Note::Kind::Hint,
                     console_text::scanUpdateBarcode(printableBarcodePath(), m_language), code);
    }
    bool interrupted() const { return m_context.interrupt.requested(); }
    Clock& uiClock() { return m_context.services.clock(Services::kUiThread); }

    const FlashOptions& m_options;
    FlashContext& m_context;
    RunState& m_state;
    DeviceBoard& m_board;
    const uint16_t m_language;
};

std::optional<Situation> FlashCommand::loadImage(FirmwareImage& image) {
    switch (LoadFirmwareImage(m_options.image, image)) {
        case ImageHeaderResult::CannotOpen:
            // The window ends silently here: its user has just picked the
            // file and sees it. A script needs the reason.
            error(console_text::imageUnreadable(
                      m_options.image,
                      console_text::imageUnreadableReason(m_options.image, m_language), m_language),
                  situationCode(Situation::ImageOpenFailed));
            return Situation::ImageOpenFailed;
        case ImageHeaderResult::NotFirmware:
            error(Situation::InvalidFile);
            return Situation::InvalidFile;
        case ImageHeaderResult::HeaderRead:
            break;
    }
    return std::nullopt;
}

PortCheck FlashCommand::collectPorts(uint8_t expected) {
    for (int attempt = 0; attempt < kPortCheckAttempts; ++attempt) {
        if (interrupted()) {
            return PortCheck::Interrupted;
        }
        RegistryReader& registry = m_context.services.registry();
        const uint8_t collected =
            CollectUsbPortsForRun(registry, m_state.PortNameTable, m_state.UsbInstances);
        // A run of no device would never close, so nothing found never passes.
        if (collected == expected && collected != 0) {
            return PortCheck::Passed;
        }
        uiClock().sleep_ms(kPortCheckPauseMs);
    }
    return interrupted() ? PortCheck::Interrupted : PortCheck::Failed;
}

std::vector<RunDevice> FlashCommand::usbDevices() const {
    std::vector<RunDevice> devices;
    for (std::size_t i = 0; i < m_state.DeviceCount; ++i) {
        devices.push_back({m_state.PortNameTable[i], m_state.UsbInstances[i]});
    }
    return devices;
}

bool FlashCommand::reportAbsentInstances(const std::vector<UsbImager>& attached) {
    const std::vector<std::string> absent =
        InstanceSelection(m_options.instances).absentFrom(attached);
    for (const std::string& instance : absent) {
        error(formatText(Situation::InstanceNotAttached, m_language, kTextCapacity, {instance}),
              situationCode(Situation::InstanceNotAttached));
    }
    return !absent.empty();
}

int FlashCommand::updateOverUsb() {
    if (!m_options.instances.empty()) {
        return updateNamedImagers();
    }
    m_state.DeviceCount = CountUsbDevices(m_context.services.registry());
    if (m_state.DeviceCount == 0) {
        reportNoImager();
        return end(flash_exit::kNoDevice, situationCode(Situation::NoDeviceConnected));
    }
    if (m_state.DeviceCount > kMaxDevices) {
        return refuse(Situation::TooManyDevices, flash_exit::kNoDevice);
    }
    FirmwareImage image;
    if (const std::optional<Situation> refused = loadImage(image)) {
        return end(flash_exit::kImageRefused, situationCode(*refused));
    }
    switch (collectPorts(m_state.DeviceCount)) {
        case PortCheck::Interrupted:
            return interruptedBeforeRun();
        case PortCheck::Failed:
            return refuse(Situation::PortsNotFound, flash_exit::kNoDevice);
        case PortCheck::Passed:
            break;
    }
    if (!CheckHeaderWords(image.header)) {
        return refuse(Situation::InvalidFile, flash_exit::kImageRefused);
    }
    return runWorkers(usbDevices(), std::move(image));
}

int FlashCommand::updateNamedImagers() {
    // The checks of a run in their order, on the imagers named alone: an
    // instance not attached ends the run before any imager is touched. An
    // imager just plugged in may not be listed yet, or not have its port
    // yet: as many looks as the port check takes.
    const InstanceSelection selection(m_options.instances);
    std::optional<std::vector<UsbImager>> attached;
    std::vector<UsbImager> named;
    for (int attempt = 0; attempt < kPortCheckAttempts; ++attempt) {
        if (interrupted()) {
            return interruptedBeforeRun();
        }
        if (attempt > 0) {
            uiClock().sleep_ms(kPortCheckPauseMs);
        }
        attached = ListUsbImagers(m_context.services.registry());
        if (!attached) {
            continue;  // read in part
        }
        named = selection.of(*attached);
        const bool allNamed = std::none_of(named.begin(), named.end(),
                                           [](const UsbImager& i) { return i.port.empty(); });
        if (allNamed && selection.absentFrom(*attached).empty()) {
            break;
        }
    }
    if (!attached || attached->empty()) {
        reportNoImager();
        return end(flash_exit::kNoDevice, situationCode(Situation::NoDeviceConnected));
    }
    if (reportAbsentInstances(*attached)) {
        return end(flash_exit::kNoDevice, situationCode(Situation::InstanceNotAttached));
    }
    if (named.size() > kMaxDevices) {
        return refuse(Situation::TooManyDevices, flash_exit::kNoDevice);
    }
    FirmwareImage image;
    if (const std::optional<Situation> refused = loadImage(image)) {
        return end(flash_exit::kImageRefused, situationCode(*refused));
    }
    if (std::any_of(named.begin(), named.end(),
                    [](const UsbImager& i) { return i.port.empty(); })) {
        return refuse(Situation::PortsNotFound, flash_exit::kNoDevice);
    }
    if (!CheckHeaderWords(image.header)) {
        return refuse(Situation::InvalidFile, flash_exit::kImageRefused);
    }
    m_state.PortNameTable = PortNameTable{};
    m_state.UsbInstances = UsbInstanceTable{};
    for (std::size_t i = 0; i < named.size(); ++i) {
        m_state.PortNameTable[i] = named[i].port;
        m_state.UsbInstances[i] = named[i].instance;
    }
    m_state.DeviceCount = static_cast<uint8_t>(named.size());
    return runWorkers(usbDevices(), std::move(image));
}

int FlashCommand::updateOverRs232() {
    // The window connects first and asks for the file afterwards; here the
    // file is known from the start, and refusing it after the imager has
    // been switched into update mode would leave the imager there for
    // nothing.
    FirmwareImage image;
    if (const std::optional<Situation> refused = loadImage(image)) {
        return end(flash_exit::kImageRefused, situationCode(*refused));
    }
    if (!CheckHeaderWords(image.header)) {
        return refuse(Situation::InvalidFile, flash_exit::kImageRefused);
    }
    const int errorsBefore = m_board.errorCount();
    const bool connected = RunSetupHandshake(m_context.dialog, m_options.portName);
    if (interrupted()) {
        return interruptedBeforeRun();
    }
    if (!connected) {
        // A port that would not open has been reported by the handshake;
        // an imager that never answered, the window leaves to its caption.
        if (m_board.errorCount() == errorsBefore) {
            error(console_text::noImagerAnswered(m_options.portName, m_language),
                  result_code::kNoAnswer);
            return end(flash_exit::kNoDevice, result_code::kNoAnswer);
        }
        return end(flash_exit::kNoDevice, situationCode(Situation::HandshakePortOpenFailed));
    }
    uiClock().sleep_ms(kRs232SettleMs);
    if (interrupted()) {
        return interruptedBeforeRun();
    }
    m_state.DeviceCount = 1;
    return runWorkers({{m_options.portName, ""}}, std::move(image));
}

int FlashCommand::runWorkers(const std::vector<RunDevice>& devices, FirmwareImage image) {
    // The check refused images of 4 GiB and more.
    const auto imageBytes = static_cast<uint32_t>(image.bytes->size());
    if (m_context.report != nullptr) {
        // Only the report names the image by its digest (of the bytes sent);
        // it costs milliseconds a megabyte.
        m_context.report->setImage(recordedImage(m_options.image, *image.bytes));
    }
    m_state.FirmwarePath = m_options.image;
    m_state.FirmwareBytes = std::move(image.bytes);
    m_state.SuccessCount.store(0);
    m_board.begin(devices, imageBytes);
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
    const InstanceSelection selection(m_options.instances);
    std::optional<std::vector<UsbImager>> attached;
    std::vector<UsbImager> imagers;
    for (int attempt = 0; attempt < kPortCheckAttempts && !interrupted(); ++attempt) {
        if (attempt > 0) {
            uiClock().sleep_ms(kPortCheckPauseMs);
        }
        attached = ListUsbImagers(m_context.services.registry());
        if (!attached) {
            continue;
        }
        imagers = selection.of(*attached);
        if (std::none_of(imagers.begin(), imagers.end(),
                         [](const UsbImager& imager) { return imager.port.empty(); }) &&
            selection.absentFrom(*attached).empty()) {
            break;
        }
    }
    if (!attached || attached->empty()) {
        reportNoImager();
        return flash_exit::kNoDevice;
    }
    // The imagers named that are there are listed, and the others named.
    const bool absent = reportAbsentInstances(*attached);
    int listed = 0;
    for (std::size_t i = 0; i < imagers.size(); ++i) {
        const UsbImager& imager = imagers[i];
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
    return listed > 0 && !absent ? flash_exit::kSucceeded : flash_exit::kNoDevice;
}

}  // namespace

int runFlashCommand(const FlashOptions& options, FlashContext& context) {
    return FlashCommand(options, context).run();
}

}  // namespace qor
