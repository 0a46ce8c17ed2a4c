// qor-updater.exe under wine on a private X display, worked through its
// window by a driver program that sends window messages as a user's clicks
// would, against simulated imagers: two USB imagers found through the
// registry, then one RS-232 imager on the port chosen in the list. The
// driver reports what the window shows; this side checks it against the
// catalogue, takes the screenshots the driver asks for, and checks the
// bytes every imager received.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wine_session.h"
#include "tests/wine/wine_gui_session.h"
#include "tests/wine/x_display.h"
#include "text/catalogue.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/sample_image.h"

namespace qor {
namespace {

using namespace std::chrono_literals;
using sim::expectedWire;
using sim::sampleImage;
using testing::windowsPath;

const std::filesystem::path kSourceDir = QOR_SOURCE_DIR;
// A whole session: two runs of 256 blocks each, under wine, on a busy machine.
constexpr auto kStepTimeout = 180s;

// The driver's transcript: "step <name>" lines, each followed by
// "<key> <value>" lines that belong to it.
class Transcript {
  public:
    explicit Transcript(const std::string& text) {
        std::istringstream in(text);
        std::string step;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("step ", 0) == 0) {
                step = line.substr(5);
            } else {
                m_lines.push_back({step, line});
            }
        }
    }
    // Every value of `key` in `step`, in order.
    std::vector<std::string> all(const std::string& step, const std::string& key) const {
        std::vector<std::string> values;
        for (const auto& [where, line] : m_lines) {
            if (where == step && (line == key || line.rfind(key + " ", 0) == 0)) {
                values.push_back(line.size() > key.size() ? line.substr(key.size() + 1) : "");
            }
        }
        return values;
    }
    std::string at(const std::string& step, const std::string& key) const {
        const auto values = all(step, key);
        return values.empty() ? "<missing>" : values.front();
    }

  private:
    std::vector<std::pair<std::string, std::string>> m_lines;
};

// The shot names the transcript asked for, in order.
std::vector<std::string> shotsAskedFor(const std::string& out) {
    std::vector<std::string> names;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("shot ", 0) == 0 && in) {
            names.push_back(line.substr(5));
        }
    }
    return names;
}

bool finished(const std::string& out) {
    return out.find("\ndone\n") != std::string::npos || out.find("\nfail ") != std::string::npos;
}

struct Language {
    const char* name;
    const char* locale;
    uint16_t uiLanguage;
    int dpi;  // the user's display scaling: 96 at 100 %, 144 at 150 %
};

void PrintTo(const Language& language, std::ostream* out) {
    *out << language.name;
}

class UpdaterWindow : public ::testing::TestWithParam<Language> {
  protected:
    // The catalogue's text as the driver writes it: line breaks escaped.
    std::string text(Situation situation, std::initializer_list<TextArg> args = {}) const {
        const std::string plain = formatText(situation, GetParam().uiLanguage, kTextCapacity, args);
        std::string escaped;
        for (char c : plain) {
            escaped += c == '\r'   ? std::string("\\r")
                       : c == '\\' ? std::string("\\\\")
                                   : std::string(1, c);
        }
        return escaped;
    }

    // A USB imager as the usbser driver lists it: instance n on COM<port>.
    static std::string usbRegistry(const std::vector<int>& ports) {
        const std::string service =
            "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";
        std::string reg = "[-" + service + "]\n\n[" + service + "]\n";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            reg += "\"" + std::to_string(i) + "\"=\"USB\\\\VID_3C7B&PID_0E52\\\\QORGUI" +
                   std::to_string(i) + "\"\n";
        }
        reg += "\"Count\"=dword:0000000" + std::to_string(ports.size()) + "\n";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            reg +=
                "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7B&PID_"
                "0E52\\QORGUI" +
                std::to_string(i) + "\\Device Parameters]\n\"PortName\"=\"COM" +
                std::to_string(ports[i]) + "\"\n";
        }
        return reg;
    }
};

TEST_P(UpdaterWindow, UsbThenRs232RunsAsAUserSeesThem) {
    const std::filesystem::path updater = testing::windowsProgram("app/qor-updater.exe");
    const std::filesystem::path driverExe =
        testing::windowsProgram("tests/wine/driver/updater_driver.exe");
    if (!std::filesystem::exists(updater) || !std::filesystem::exists(driverExe)) {
        FAIL() << "build the mingw preset first: " << updater << ", " << driverExe;
    }
    for (const char* program : {"Xvfb", "import"}) {
        if (!testing::haveProgram(program)) {
            FAIL() << program << " is not installed (scripts/setup.sh)";
        }
    }
    const auto shots = kSourceDir / "build/wine-screenshots" / GetParam().name;
    std::filesystem::remove_all(shots);
    std::filesystem::create_directories(shots);

    // The RS-232 imager hangs off an adapter past COM20, which the system's
    // list of serial ports names: the last entry of the port list, so the
    // run shows a selection really made rather than the first entry.
    constexpr int kUsbPorts[] = {17, 18};
    constexpr int kRs232Port = 25;
    sim::ImagerOptions usb;
    // Each block answered a little later, as by an imager writing its flash:
    // the run lasts long enough to be seen half-way.
    usb.block_delay_ms = 10;
    // A check well inside the second the updater waits for its end, and a
    // write that outlasts one wait, so "Upating." stays up for a while.
    usb.check_time_ms = 400;
    usb.write_time_ms = 1500;
    sim::ImagerOptions rs232 = usb;
    rs232.rs232_baud = 57600;
    sim::ImagerSimulator first(usb);
    sim::ImagerSimulator second(usb);
    sim::ImagerSimulator serial(rs232);
    ASSERT_TRUE(first.start() && second.start() && serial.start());
    const std::vector<uint8_t> image = sampleImage(256 * 1024);
    testing::TempDir files;
    const auto imagePath = files.write("fw.bin", image);

    // Declared in the order they start, so they end in the reverse order:
    // the programs with the wine session, then the display.
    testing::XDisplay display;
    ASSERT_FALSE(display.name().empty()) << display.problem();
    testing::WineGuiSession wine(kSourceDir / "build/wine-gui-prefix", display.name(),
                                 GetParam().dpi);
    ASSERT_TRUE(wine.started());
    ASSERT_TRUE(wine.linkComPort(kUsbPorts[0], first.portPath()));
    ASSERT_TRUE(wine.linkComPort(kUsbPorts[1], second.portPath()));
    ASSERT_TRUE(wine.linkComPort(kRs232Port, serial.portPath()));
    ASSERT_TRUE(wine.importRegistry(usbRegistry({kUsbPorts[0], kUsbPorts[1]})));
    ASSERT_TRUE(wine.importRegistry(
        "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n\"\\\\Device\\\\VCP0\"=\"COM" +
        std::to_string(kRs232Port) + "\"\n"));

    const auto program = wine.start(updater, {}, GetParam().locale, true);
    const auto driver = wine.start(
        driverExe, {windowsPath(imagePath), windowsPath(shots), "2", std::to_string(kRs232Port)},
        GetParam().locale, false);
    // Take each picture the driver asks for, until it is done.
    std::size_t taken = 0;
    std::string out;
    while (driver->waitForOutput(
        [&](const std::string& sofar) {
            out = sofar;
            return shotsAskedFor(sofar).size() > taken || finished(sofar);
        },
        kStepTimeout)) {
        const auto names = shotsAskedFor(out);
        for (; taken < names.size(); ++taken) {
            EXPECT_TRUE(display.screenshot(shots / (names[taken] + ".png"))) << names[taken];
        }
        if (finished(out)) {
            break;
        }
    }
    const harness::ProgramResult result = driver->wait(kStepTimeout);
    // Kept beside the pictures, for whoever looks at them after a CI run.
    std::ofstream(shots / "transcript.txt") << result.out << result.err;
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const Transcript seen(result.out);

    // Start-up: RS-232 mode, the port list, hidden rows.
    EXPECT_EQ(seen.at("idle", "caption"), "2D Imager Vantor - V3.7");
    EXPECT_EQ(seen.at("idle", "text 1000"), text(Situation::ConnectCaption));
    EXPECT_EQ(seen.at("idle", "enabled 1000"), "1");
    EXPECT_EQ(seen.at("idle", "text 1003"), "");
    EXPECT_EQ(seen.at("idle", "text 1009"), "COM1");
    EXPECT_EQ(seen.at("idle", "ports"), "21");
    EXPECT_EQ(seen.at("idle", "last port"), "COM25");
    EXPECT_EQ(seen.at("idle", "checked 1008"), "1");
    EXPECT_EQ(seen.at("idle", "checked 1007"), "0");
    EXPECT_EQ(seen.at("idle", "text 1010"), text(Situation::Step1Instructions));
    EXPECT_EQ(seen.at("idle", "text 1011"), text(Situation::Step2Instructions));
    for (int k = 1; k <= 6; ++k) {
        EXPECT_EQ(seen.at("idle", "visible " + std::to_string(k)), "0") << k;
        EXPECT_EQ(seen.at("idle", "visible " + std::to_string(k + 9)), "0") << k;
        EXPECT_EQ(seen.at("idle", "text " + std::to_string(k + 9)),
                  text(Situation::DeviceRowLabel, {k}));
    }
    const std::string idleHeight = seen.at("idle", "height");

    // USB mode: the poll counts both imagers.
    EXPECT_EQ(seen.at("usb", "text 1000"), text(Situation::BrowseCaption));
    EXPECT_EQ(seen.at("usb", "text 1003"), text(Situation::DevicesConnected, {2}));
    EXPECT_EQ(seen.at("usb", "enabled 1009"), "0");
    EXPECT_EQ(seen.at("usb", "visible 1010"), "1");
    EXPECT_EQ(seen.at("usb", "visible 1011"), "1");

    // Both runs: the rows, the window's growth, the success box and the way back.
    struct Run {
        const char* mode;
        std::vector<int> ports;  // of the rows, in order
        const char* shown;
        Situation caption;
    };
    // 60 pixels per imager at 100 %, 90 at 150 %.
    const int pitch = 60 * GetParam().dpi / 96;
    for (const Run& run :
         {Run{"usb", {kUsbPorts[0], kUsbPorts[1]}, "1,2,10,11", Situation::BrowseCaption},
          Run{"rs232", {kRs232Port}, "1,10", Situation::ConnectCaption}}) {
        SCOPED_TRACE(run.mode);
        const std::string mode = run.mode;
        EXPECT_EQ(seen.at(mode + "-file", "text 1000"), text(Situation::BrowseCaption));
        EXPECT_EQ(seen.at(mode + "-run", "grown"),
                  std::to_string(pitch * static_cast<int>(run.ports.size())));
        EXPECT_EQ(seen.at(mode + "-run", "shown"), run.shown);
        for (std::size_t i = 0; i < run.ports.size(); ++i) {
            const int row = static_cast<int>(i) + 1;
            // The label holds a whole line of its font: "label line".
            int labelHeight = 0;
            int lineHeight = 0;
            std::istringstream(seen.at(mode + "-run", "fit " + std::to_string(row + 9))) >>
                labelHeight >> lineHeight;
            EXPECT_GT(lineHeight, 0) << row;
            EXPECT_GE(labelHeight, lineHeight) << row;
            const auto texts = seen.all(mode + "-run", "row " + std::to_string(row + 9));
            // The phases a user follows, in their order; a text from
            // nowhere or a torn one is a phase of its own and fails.
            std::vector<std::string> phases;
            for (const std::string& shown : texts) {
                const std::string connect =
                    text(Situation::WaitingForProbeAnswer, {"COM" + std::to_string(run.ports[i])});
                std::string phase = "<" + shown + ">";
                if (shown == text(Situation::DeviceRowLabel, {row}) ||
                    shown.rfind(connect, 0) == 0) {
                    phase = "connecting";
                }
                for (int kb = 1; kb <= 256; ++kb) {
                    if (shown == text(Situation::TransferProgress, {kb, 256})) {
                        phase = "transfer";
                    }
                }
                if (shown == text(Situation::TransferCompleted) ||
                    shown == text(Situation::CheckingImage)) {
                    phase = "checking";
                }
                if (shown.rfind(text(Situation::Updating) + ".", 0) == 0) {
                    phase = "updating";
                }
                if (shown.empty()) {
                    phase = "done";
                }
                if (phases.empty() || phases.back() != phase) {
                    phases.push_back(phase);
                }
            }
            // Before the transfer the label may still hold an earlier
            // run's last text; the short check may pass between two looks.
            phases.erase(phases.begin(), std::find(phases.begin(), phases.end(), "transfer"));
            std::erase(phases, "checking");
            EXPECT_EQ(phases, (std::vector<std::string>{"transfer", "updating", "done"}))
                << row << ": " << ::testing::PrintToString(texts);
        }
        EXPECT_EQ(seen.at(mode + "-box", "title"), "");
        EXPECT_EQ(seen.at(mode + "-box", "message"), text(Situation::UpdatesSucceeded));
        EXPECT_EQ(seen.at(mode + "-box", "end-session"), "0") << "a log-off is refused";
        EXPECT_EQ(seen.at(mode + "-end", "end-session"), "1");
        EXPECT_EQ(seen.at(mode + "-end", "height"), idleHeight);
        EXPECT_EQ(seen.at(mode + "-end", "shown"), "");
        EXPECT_EQ(seen.at(mode + "-end", "text 1000"), text(run.caption));
        EXPECT_EQ(seen.at(mode + "-end", "enabled 1007"), "1");
        EXPECT_EQ(seen.at(mode + "-end", "enabled 1008"), "1");
    }
    EXPECT_EQ(seen.at("rs232", "text 1000"), text(Situation::ConnectCaption));
    EXPECT_EQ(seen.at("rs232", "text 1003"), "");
    EXPECT_EQ(seen.at("rs232", "enabled 1009"), "1");
    EXPECT_EQ(seen.at("rs232-file", "enabled 1000"), "0") << "disabled while connected";
    EXPECT_EQ(seen.at("rs232-end", "enabled 1009"), "1");
    for (const char* name : {"idle", "usb-success", "rs232-success"}) {
        EXPECT_TRUE(std::filesystem::exists(shots / (std::string(name) + ".png"))) << name;
    }

    // Exactly the bytes of one update each; the RS-232 imager after its setup.
    EXPECT_EQ(first.received(), expectedWire(image));
    EXPECT_EQ(second.received(), expectedWire(image));
    const sim::ImagerRecord record = serial.record();
    EXPECT_TRUE(record.update_mode);
    EXPECT_EQ(record.runs, 1u);
    EXPECT_TRUE(record.run.completed);
    const std::vector<uint8_t> wire = expectedWire(image);
    ASSERT_GE(record.received.size(), wire.size());
    EXPECT_TRUE(std::equal(wire.begin(), wire.end(), record.received.end() - wire.size()))
        << "the token exchange ends the line's bytes";
}

INSTANTIATE_TEST_SUITE_P(Languages, UpdaterWindow,
                         // A Chinese user at 150 % display scaling, as many
                         // laptops ship.
                         ::testing::Values(Language{"English", "C.UTF-8", 1033, 96},
                                           Language{"Chinese150", "zh_CN.UTF-8", 2052, 144}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
