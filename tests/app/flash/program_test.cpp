// qor-flash as a script would run it: the built program in a process of its
// own, against simulated imagers on pseudo-terminals found through a fake
// sysfs tree and a folder of port links. The cases of the runner table run
// again with the Windows build under wine, which finds the same imagers
// through the registry and the COM ports of the test prefix.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/sha256.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_session.h"
#include "tools/imager_sim/rack.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/child_process.h"
#include "tools/testkit/json_reader.h"
#include "tools/testkit/sample_image.h"

namespace qor {
namespace {

using harness::ProgramResult;

constexpr auto kTimeout = std::chrono::seconds(60);

using sim::expectedWire;
using sim::sampleImage;

bool hasControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\n') || byte == 0x7F;
    });
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// How the program runs and how the imagers reach it.
struct Runner {
    const char* name;
    bool wine;  // the Windows build under wine, or the program of this build
};

void PrintTo(const Runner& runner, std::ostream* out) {
    *out << runner.name;
}

constexpr Runner kNative{"Native", false};
constexpr Runner kWine{"Wine", true};

// This file makes two programs: the one of the native runner, and (with
// QOR_FLASH_ON_WINE set to 1) the one whose table cases run under wine.
#ifndef QOR_FLASH_ON_WINE
#define QOR_FLASH_ON_WINE 0
#endif

// Where wine's imagers are listed; removed after each case.
constexpr const char* kUsbList = "SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";
constexpr const char* kImagerInstances = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7B&PID_0E52";
constexpr int kFirstUsbCom = 11;

class FlashProgram : public ::testing::Test {
  protected:
    explicit FlashProgram(Runner runner = kNative) : runner(runner) {
        std::filesystem::create_directories(ports.path());
        if (runner.wine) {
            clearRegistry();
        }
    }
    ~FlashProgram() override {
        if (runner.wine && !registry.empty()) {
            clearRegistry();
        }
    }

    static void clearRegistry() {
        testing::removeRegistryKey(kUsbList);
        testing::removeRegistryKey(kImagerInstances);
    }

    void link(const std::string& name, const sim::ImagerSimulator& imager) {
        if (runner.wine) {
            comLinks.push_back(std::make_unique<testing::ComPortLink>(std::stoi(name.substr(3)),
                                                                      imager.portPath()));
        } else {
            std::filesystem::create_symlink(imager.portPath(), ports / name);
        }
    }
    // The port of USB imager n as the program names it.
    std::string usbPort(int n) const {
        return runner.wine ? "COM" + std::to_string(kFirstUsbCom + n)
                           : "ttyACM" + std::to_string(n);
    }
    // A USB imager, listed by the driver and reachable by name.
    void attach(sim::ImagerSimulator& imager, int n) {
        ASSERT_TRUE(imager.start());
        if (runner.wine) {
            const std::string instance = "USB\\VID_3C7B&PID_0E52\\SN" + std::to_string(n);
            registry += "[HKEY_LOCAL_MACHINE\\" + std::string(kUsbList) + "]\n\"" +
                        std::to_string(n) + "\"=\"" + escaped(instance) + "\"\n\n";
            registry += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + instance +
                        "\\Device Parameters]\n\"PortName\"=\"" + usbPort(n) + "\"\n\n";
        } else {
            sysfs.addImager("1-" + std::to_string(n + 1), usbPort(n), "SN" + std::to_string(n));
        }
        link(usbPort(n), imager);
    }
    // Plugged in while the program runs.
    void plugIn(sim::ImagerSimulator& imager, int n) {
        attach(imager, n);
        if (runner.wine) {
            EXPECT_TRUE(testing::importRegistry(registry));
        }
    }
    // No longer listed, its port gone, and then the line hung up.
    void unplug(sim::ImagerSimulator& imager, int n) {
        if (runner.wine) {
            EXPECT_TRUE(testing::importRegistry(
                "[HKEY_LOCAL_MACHINE\\" + std::string(kUsbList) + "]\n\"" + std::to_string(n) +
                "\"=-\n\n[-HKEY_LOCAL_MACHINE\\" + std::string(kImagerInstances) + "\\SN" +
                std::to_string(n) + "]\n\n"));
        } else {
            std::filesystem::remove(sysfs.classLink(usbPort(n)));
            std::filesystem::remove(ports / usbPort(n));
        }
        imager.stop();
    }
    static std::string escaped(const std::string& text) {
        std::string result;
        for (char c : text) {
            result += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        return result;
    }
    std::string writeImage(const std::vector<uint8_t>& bytes) {
        return programPath(files.write("fw.bin", bytes));
    }
    std::string programPath(const std::filesystem::path& path) const {
        return runner.wine ? testing::windowsPath(path) : path.string();
    }

    harness::ChildProcess::Environment environment() const {
        return {{"QOR_SYSFS_ROOT", sysfs.root().string()},
                {"QOR_PORT_DIR", ports.path().string()},
                {"LANGUAGE", "en_US"},
                {"LC_ALL", ""},
                {"LC_MESSAGES", ""},
                {"LANG", ""}};
    }
    // Starts the program; wait for it with finish().
    std::unique_ptr<harness::ChildProcess> start(const std::vector<std::string>& args) {
        if (!runner.wine) {
            return std::make_unique<harness::ChildProcess>(QOR_FLASH_PROGRAM, args, environment());
        }
        if (!registry.empty()) {
            EXPECT_TRUE(testing::importRegistry(registry));
        }
        std::vector<std::string> arguments{testing::windowsProgram("app/qor-flash.exe")};
        arguments.insert(arguments.end(), args.begin(), args.end());
        return std::make_unique<harness::ChildProcess>(testing::wineCommand(), arguments,
                                                       testing::wineEnvironment());
    }
    ProgramResult finish(harness::ChildProcess& child, std::chrono::milliseconds timeout) const {
        ProgramResult result = child.wait(timeout);
        // The same texts, with the Windows console's line ends.
        for (std::string* text : {&result.out, &result.err}) {
            std::erase(*text, '\r');
        }
        return result;
    }
    ProgramResult flash(const std::vector<std::string>& args) {
        return finish(*start(args), kTimeout);
    }

    const Runner runner;
    testing::TempDir ports;
    testing::TempDir files;
    testing::FakeSysfs sysfs;
    std::string registry;  // REGEDIT4 blocks of the imagers under wine
    std::vector<std::unique_ptr<testing::ComPortLink>> comLinks;
};

// The cases that run with every runner of this program.
class FlashProgramRunners : public FlashProgram, public ::testing::WithParamInterface<Runner> {
  protected:
    FlashProgramRunners() : FlashProgram(GetParam()) {}
};

TEST_P(FlashProgramRunners, UpdatesTwoUsbImagersWithTheExactBytes) {
    sim::ImagerSimulator first;
    sim::ImagerSimulator second;
    attach(first, 0);
    attach(second, 1);
    const std::vector<uint8_t> image = sampleImage(8 * 1024);

    const ProgramResult result = flash({writeImage(image)});

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(first.received(), expectedWire(image));
    EXPECT_EQ(second.received(), expectedWire(image));
    EXPECT_NE(result.out.find(usbPort(0) + ": succeeded\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(usbPort(1) + ": succeeded\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "qor-flash: The updates were successfully installed\n");
    // Not a terminal: plain lines only, nothing to move a cursor.
    EXPECT_FALSE(hasControlCharacters(result.out)) << result.out;
    EXPECT_FALSE(hasControlCharacters(result.err)) << result.err;
}

TEST_P(FlashProgramRunners, ABlockRefusedByOneImagerFailsTheRunAndNamesItsPort) {
    sim::ImagerOptions refusing;
    refusing.block_fault = sim::BlockFault::kNack;
    refusing.fault_block = 2;
    sim::ImagerSimulator good;
    sim::ImagerSimulator bad(refusing);
    attach(good, 0);
    attach(bad, 1);
    const std::vector<uint8_t> image = sampleImage(8 * 1024);

    const ProgramResult result = flash({writeImage(image)});

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("qor-flash: " + usbPort(1) + ": Transmit File Failed (-2)\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find(usbPort(0)), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("successfully"), std::string::npos) << result.err;
    EXPECT_EQ(good.received(), expectedWire(image));
    EXPECT_EQ(bad.record().run.blocks, 3u);
}

struct RefusedImage {
    const char* name;
    std::vector<uint8_t> bytes;  // empty: no file at all
    const char* message;
    // Turns the written file into what the case needs.
    void (*reshape)(const std::filesystem::path& path) = nullptr;
};

// Its header's 32-bit length would announce only the last 256 KiB. Sparse:
// it takes no disk.
void growPastFourGiB(const std::filesystem::path& path) {
    std::filesystem::resize_file(path, (uint64_t{1} << 32) + 256 * 1024);
}

// Reading a FIFO would wait for a writer that never comes.
void replaceByFifo(const std::filesystem::path& path) {
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
}

// A whole image whose second header word is zero.
std::vector<uint8_t> zeroWordImage() {
    std::vector<uint8_t> image = sampleImage(1024);
    std::fill_n(image.begin() + 8, 4, 0);
    return image;
}

class RefusedImages : public FlashProgram, public ::testing::WithParamInterface<RefusedImage> {};

TEST_P(RefusedImages, LeaveEveryImagerUntouched) {
    sim::ImagerSimulator first;
    sim::ImagerSimulator second;
    attach(first, 0);
    attach(second, 1);
    const std::string path =
        GetParam().bytes.empty() ? (files / "missing.bin").string() : writeImage(GetParam().bytes);
    if (GetParam().reshape != nullptr) {
        GetParam().reshape(path);
    }

    const ProgramResult result = flash({path});

    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_TRUE(first.received().empty());
    EXPECT_TRUE(second.received().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Images, RefusedImages,
    ::testing::Values(
        RefusedImage{"UnknownMagic", std::vector<uint8_t>(4096, 0x5A), "Invalid File !"},
        RefusedImage{"ZeroHeaderWords", zeroWordImage(), "Invalid File !"},
        // Four blocks and a tail no imager can take.
        RefusedImage{"NotWholeBlocks", sampleImage(5000), "Invalid File !"},
        RefusedImage{"Missing", {}, "cannot open"},
        RefusedImage{"FourGiBAndMore", sampleImage(4096), "Invalid File !", growPastFourGiB},
        RefusedImage{"Fifo", sampleImage(4096), "Invalid File !", replaceByFifo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(FlashProgramRunners, NoImagerAttachedExitsFour) {
    const std::string image = writeImage(sampleImage(4096));
    // The hint names the printable barcode beside the program.
    const std::filesystem::path printable =
        runner.wine
            ? std::filesystem::path(testing::windowsProgram("app/update-barcode.png"))
            : std::filesystem::canonical(std::filesystem::path(QOR_FLASH_PROGRAM).parent_path() /
                                         "../share/qor-updater/update-barcode.png");
    ASSERT_TRUE(std::filesystem::is_regular_file(printable)) << printable;
    const std::string named = programPath(printable) + ")";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{image}, std::vector<std::string>{"--list"}}) {
        const ProgramResult english = flash(args);
        EXPECT_EQ(english.exitCode, 4);
        EXPECT_TRUE(english.err.starts_with(
            "qor-flash: Disconnected\nqor-flash: hint: an imager shows up only in update mode: "
            "scan the update barcode with each imager (a printable copy: "))
            << english.err;
        EXPECT_NE(english.err.find(named + ", then run qor-flash again\n"), std::string::npos)
            << english.err;
    }

    const ProgramResult chinese = flash({"--lang", "zh", image});
    EXPECT_EQ(chinese.exitCode, 4);
    EXPECT_TRUE(chinese.err.starts_with("qor-flash: 离线\nqor-flash: 提示: ")) << chinese.err;
}

TEST_F(FlashProgram, SevenImagersAreRefusedBeforeAnyIsTouched) {
    for (int n = 0; n < 7; ++n) {
        sysfs.addImager("1-" + std::to_string(n + 1), "ttyACM" + std::to_string(n));
    }
    const ProgramResult result = flash({"--lang", "zh", writeImage(sampleImage(4096))});

    EXPECT_EQ(result.exitCode, 4);
    // English in every language.
    EXPECT_EQ(result.err, "qor-flash: Too Many COM Ports !\n");
}

TEST_F(FlashProgram, APortHeldByAnotherProgramIsNamedWithTheReason) {
    sim::ImagerSimulator free;
    sim::ImagerSimulator held;
    attach(free, 0);
    attach(held, 1);
    const int holder = ::open((ports / "ttyACM1").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const ProgramResult result = flash({writeImage(sampleImage(4096))});
    ::close(holder);

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("qor-flash: ttyACM1: Connect To ttyACM1 Failed: port busy\n"
                              "qor-flash: ttyACM1: hint: another program holds the port"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(held.received().empty());
    EXPECT_TRUE(free.record().run.completed);
}

TEST_P(FlashProgramRunners, Rs232ImagerAt230400IsFoundAndUpdatedAtThatRate) {
    sim::ImagerOptions options;
    options.rs232_baud = 230400;
    sim::ImagerSimulator imager(options);
    ASSERT_TRUE(imager.start());
    link("COM5", imager);
    const std::vector<uint8_t> image = sampleImage(4 * 1024);

    const ProgramResult result = flash({"--port", "COM5", writeImage(image)});

    EXPECT_EQ(result.exitCode, 0) << result.err;
    const sim::ImagerRecord record = imager.record();
    EXPECT_TRUE(record.update_mode);
    // The imager takes the token exchange only at its update rate.
    EXPECT_TRUE(record.run.completed);
    EXPECT_EQ(record.run.image, image);
    std::vector<uint32_t> probes;
    std::vector<uint32_t> commands;
    for (const auto& packet : record.setup_packets) {
        (packet.bytes[2] == 0x0E ? probes : commands).push_back(packet.baud);
    }
    EXPECT_EQ(probes, (std::vector<uint32_t>{9600, 115200, 57600, 38400, 230400}));
    EXPECT_EQ(commands, (std::vector<uint32_t>(3, 230400)));
}

TEST_F(FlashProgram, Rs232ImagerOnAFullDevicePathIsUpdatedAtTheLowerRate) {
    // Found at the second rate and updated at that same one. A pty carries
    // no line rate, so the imager judges bytes by the rate the line has when
    // it reads them; qor-flash opens the line for the update a quarter of a
    // second after the last setup command, with nothing a test could wait
    // on, and an imager found at another rate, starved of the processor for
    // longer, would read that command at the update's rate. The window's
    // tests take that road, with the file dialog between the two to wait on.
    sim::ImagerOptions options;
    options.rs232_baud = 115200;
    sim::ImagerSimulator imager(options);
    ASSERT_TRUE(imager.start());
    const std::vector<uint8_t> image = sampleImage(4 * 1024);

    const ProgramResult result = flash({"--port=" + imager.portPath(), writeImage(image)});

    EXPECT_EQ(result.exitCode, 0) << result.err;
    const sim::ImagerRecord record = imager.record();
    ASSERT_EQ(record.setup_packets.size(), 5u);
    EXPECT_EQ(record.setup_packets[0].baud, 9600u);
    EXPECT_EQ(record.setup_packets[4].baud, 115200u);
    EXPECT_EQ(record.run.image, image);
}

TEST_F(FlashProgram, SilentRs232PortExitsFourWithTheReason) {
    sim::ImagerSimulator usbOnly;  // takes no setup exchange at all
    ASSERT_TRUE(usbOnly.start());
    link("COM3", usbOnly);

    const ProgramResult result = flash({"--port", "COM3", writeImage(sampleImage(4096))});

    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.err.find("COM3: no imager answered"), std::string::npos) << result.err;
}

TEST_P(FlashProgramRunners, MissingRs232PortIsReportedWithAHint) {
    const ProgramResult result = flash({"--port", "COM9", writeImage(sampleImage(4096))});

    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.err.find("qor-flash: Connect To COM9 Failed: no such device\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("qor-flash: hint: "), std::string::npos) << result.err;
}

TEST_F(FlashProgram, JsonLinesParseAndTheSummaryMatchesEachDevice) {
    sim::ImagerOptions refusing;
    refusing.block_fault = sim::BlockFault::kNack;
    refusing.fault_block = 1;
    sim::ImagerSimulator good;
    sim::ImagerSimulator bad(refusing);
    attach(good, 0);
    attach(bad, 1);

    const ProgramResult result = flash({"--json", writeImage(sampleImage(4 * 1024))});

    EXPECT_EQ(result.exitCode, 1);
    const std::vector<std::string> output = lines(result.out);
    ASSERT_FALSE(output.empty());
    std::vector<testing::JsonValue> events;
    for (const std::string& line : output) {
        const auto value = testing::readJson(line);
        ASSERT_TRUE(value) << line;
        events.push_back(*value);
    }
    // Every device event carries the same fields; the good one's bytes
    // climb to the whole image.
    double lastSent = -1;
    for (const auto& event : events) {
        if (event["event"].text() != "device") {
            continue;
        }
        for (const char* key :
             {"device", "port", "instance", "phase", "code", "sent", "total", "message"}) {
            EXPECT_TRUE(event.has(key)) << key;
        }
        if (event["port"].text() == "ttyACM0") {
            EXPECT_GE(event["sent"].number(), lastSent);
            lastSent = event["sent"].number();
        }
    }
    EXPECT_EQ(lastSent, 4096);

    const testing::JsonValue& summary = events.back();
    ASSERT_EQ(summary["event"].text(), "summary");
    EXPECT_EQ(summary["exit"].number(), 1);
    const auto& devices = summary["devices"].array();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0]["port"].text(), "ttyACM0");
    EXPECT_EQ(devices[0]["instance"].text(), "SN0");
    EXPECT_EQ(devices[0]["result"].text(), "succeeded");
    EXPECT_EQ(devices[0]["code"].text(), "ok");
    EXPECT_EQ(devices[0]["sent"].number(), 4096);
    EXPECT_EQ(devices[1]["port"].text(), "ttyACM1");
    EXPECT_EQ(devices[1]["instance"].text(), "SN1");
    EXPECT_EQ(devices[1]["result"].text(), "failed");
    EXPECT_EQ(devices[1]["code"].text(), "block-refused");
    EXPECT_EQ(devices[1]["message"].text(), "Transmit File Failed (-2)");
    EXPECT_EQ(devices[1]["sent"].number(), 2048);
    EXPECT_TRUE(summary.has("code") && summary["code"].isNull());
}

// Ctrl-C, and the signals a supervisor or a closed terminal stops a program
// with, taken alike and reported by the exit status as shells expect.
struct StopSignal {
    const char* name;
    int signal;
    int exitCode;
};

void PrintTo(const StopSignal& stop, std::ostream* out) {
    *out << stop.name;
}

class FlashProgramStopped : public FlashProgram,
                            public ::testing::WithParamInterface<StopSignal> {};

TEST_P(FlashProgramStopped, StopsAfterTheBlockInHandAndSaysSo) {
    sim::ImagerOptions slow;
    slow.block_delay_ms = 50;
    sim::ImagerSimulator imager(slow);
    attach(imager, 0);
    const std::vector<uint8_t> image = sampleImage(64 * 1024);

    harness::ChildProcess child(QOR_FLASH_PROGRAM, {writeImage(image)}, environment());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(
        imager.waitFor([](const sim::ImagerRecord& r) { return r.run.blocks >= 3; }, 30000));
    child.signal(GetParam().signal);
    const ProgramResult result = child.wait(kTimeout);

    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.err;
    EXPECT_NE(result.err.find("qor-flash: ttyACM0: interrupted after "), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("firmware is incomplete"), std::string::npos) << result.err;
    // Whole blocks only, and not the whole image.
    const sim::ImagerRecord record = imager.record();
    EXPECT_EQ(record.run.image.size() % 1024, 0u);
    EXPECT_LT(record.run.blocks, 64u);
    EXPECT_EQ(record.run.image,
              std::vector<uint8_t>(image.begin(), image.begin() + record.run.image.size()));
}

// A supervisor reads 0 as "batch done": a watch stopped before its count
// says it was stopped, even with every imager it took updated.
TEST_P(FlashProgramStopped, AWatchStoppedBeforeItsCountSaysSo) {
    sim::ImagerSimulator imager;
    attach(imager, 0);
    harness::ChildProcess child(
        QOR_FLASH_PROGRAM, {"--watch", "--json", "--count", "3", writeImage(sampleImage(4096))},
        environment());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitForOutput(R"("instance":"SN0","result":"succeeded")", kTimeout));
    child.signal(GetParam().signal);
    const ProgramResult result = child.wait(kTimeout);

    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.out;
    EXPECT_NE(result.out.find(R"("event":"summary","exit":)" + std::to_string(GetParam().exitCode) +
                              R"(,"updated":1,"failed":0,"interrupted":0)"),
              std::string::npos)
        << result.out;
}

INSTANTIATE_TEST_SUITE_P(Signals, FlashProgramStopped,
                         ::testing::Values(StopSignal{"CtrlC", SIGINT, 130},
                                           StopSignal{"Term", SIGTERM, 143},
                                           StopSignal{"HangUp", SIGHUP, 129}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(FlashProgramRunners, CtrlCDuringTheConnectEndsAtOnceWithTheFirmwareUnchanged) {
    sim::ImagerOptions silent;
    silent.probe_reply = sim::Reply::kSilent;
    sim::ImagerSimulator imager(silent);
    attach(imager, 0);

    const auto child = start({writeImage(sampleImage(4096))});
    ASSERT_TRUE(imager.waitFor([](const sim::ImagerRecord& r) { return r.run.probe_seen; }, 30000));
    const auto interrupted = std::chrono::steady_clock::now();
    child->signal(SIGINT);
    const ProgramResult result = finish(*child, kTimeout);
    // Five unanswered waits would take five seconds; stopped, they take none,
    // and a second is left for a slow exit on a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(4));

    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.err.find("qor-flash: " + usbPort(0) +
                              ": interrupted before the image went out: the "
                              "imager's firmware is unchanged\n"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(imager.record().run.header.empty());
}

TEST_F(FlashProgram, CtrlCWhileTheImagerWritesLetsItFinish) {
    sim::ImagerOptions writing;
    writing.write_time_ms = 1500;
    sim::ImagerSimulator imager(writing);
    attach(imager, 0);

    harness::ChildProcess child(QOR_FLASH_PROGRAM, {"--json", writeImage(sampleImage(4096))},
                                environment());
    ASSERT_TRUE(child.waitForOutput(R"("phase":"updating")", kTimeout));
    child.signal(SIGINT);
    const ProgramResult result = child.wait(kTimeout);

    EXPECT_EQ(result.exitCode, 130);
    EXPECT_NE(result.err.find("ttyACM0: the imager has the whole image and is writing it"),
              std::string::npos)
        << result.err;
    const auto summary = testing::readJson(lines(result.out).back());
    ASSERT_TRUE(summary);
    EXPECT_EQ((*summary)["devices"].array()[0]["result"].text(), "succeeded");
}

TEST_P(FlashProgramRunners, ListPrintsEachImagersPortAndInstance) {
    sim::ImagerSimulator first;
    sim::ImagerSimulator second;
    attach(first, 0);
    attach(second, 1);

    const ProgramResult result = flash({"--list"});

    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, usbPort(0) + "\tSN0\n" + usbPort(1) + "\tSN1\n");
    EXPECT_TRUE(first.received().empty());

    const ProgramResult json = flash({"--list", "--json"});
    EXPECT_EQ(json.exitCode, 0);
    const auto secondLine = testing::readJson(lines(json.out).at(1));
    ASSERT_TRUE(secondLine) << json.out;
    EXPECT_EQ((*secondLine)["port"].text(), usbPort(1));
    EXPECT_EQ((*secondLine)["instance"].text(), "SN1");
}

// --instance takes only the imagers it names, in every mode; one named that
// is not attached ends an update before any imager is touched.
TEST_P(FlashProgramRunners, InstanceTakesOnlyTheImagersItNames) {
    sim::ImagerSimulator imagers[3];
    for (int n = 0; n < 3; ++n) {
        attach(imagers[n], n);
    }
    const std::vector<uint8_t> image = sampleImage(4096);
    const std::string path = writeImage(image);

    const ProgramResult listed = flash({"--list", "--instance", "SN2"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, usbPort(2) + "\tSN2\n");

    const ProgramResult updated = flash({"--json", "--instance", "SN1", path});
    EXPECT_EQ(updated.exitCode, 0) << updated.err;
    EXPECT_TRUE(imagers[0].received().empty());
    EXPECT_EQ(imagers[1].received(), expectedWire(image));
    EXPECT_TRUE(imagers[2].received().empty());
    const auto summary = testing::readJson(lines(updated.out).back());
    ASSERT_TRUE(summary) << updated.out;
    ASSERT_EQ((*summary)["devices"].array().size(), 1u);
    EXPECT_EQ((*summary)["devices"].array()[0]["port"].text(), usbPort(1));
    EXPECT_EQ((*summary)["devices"].array()[0]["instance"].text(), "SN1");

    const std::size_t before = imagers[1].received().size();
    for (const char* language : {"en", "zh"}) {
        const ProgramResult absent =
            flash({"--lang", language, "--instance", "SN0", "--instance=SN2,SN9", path});
        EXPECT_EQ(absent.exitCode, 4) << absent.err;
        EXPECT_EQ(absent.err, std::string(language) == "en"
                                  ? "qor-flash: Imager SN9 Not Attached\n"
                                  : "qor-flash: \u626b\u63cf\u5668 SN9 \u672a\u8fde\u63a5\n");
    }
    EXPECT_TRUE(imagers[0].received().empty());
    EXPECT_EQ(imagers[1].received().size(), before);
    EXPECT_TRUE(imagers[2].received().empty());

    const ProgramResult watched = flash({"--watch", "--count", "1", "--instance", "SN2", path});
    EXPECT_EQ(watched.exitCode, 0) << watched.err;
    EXPECT_TRUE(imagers[0].received().empty());
    EXPECT_EQ(imagers[2].received(), expectedWire(image));
}

// A run of either kind keeps a record of each device in the report it is
// given, after those already there and in their columns.
TEST_P(FlashProgramRunners, UsbAndRs232RunsAppendTheirRecordsToOneReport) {
    sim::ImagerOptions refusing;
    refusing.block_fault = sim::BlockFault::kNack;
    refusing.fault_block = 2;
    sim::ImagerSimulator good;
    sim::ImagerSimulator bad(refusing);
    attach(good, 0);
    attach(bad, 1);
    sim::ImagerOptions rs232;
    rs232.rs232_baud = 230400;
    sim::ImagerSimulator serial(rs232);
    ASSERT_TRUE(serial.start());
    link("COM5", serial);
    const std::string image = writeImage(sampleImage(4096));
    const std::filesystem::path report = files / "runs.csv";
    const std::filesystem::path old = files.write(
        "old.csv", "time,port,instance,image,image_sha256,result,bytes,seconds,message\r\n");

    EXPECT_EQ(flash({"--report", programPath(report), image}).exitCode, 1);
    const ProgramResult viaRs232 =
        flash({"--port", "COM5", "--report", programPath(report), image});
    EXPECT_EQ(viaRs232.exitCode, 0) << viaRs232.err;
    EXPECT_EQ(flash({"--instance", "SN0", "--report=" + programPath(old), image}).exitCode, 0);

    const auto fields = [](const std::string& line) {
        std::vector<std::string> split;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, ',');) {
            split.push_back(field);
        }
        return split;
    };
    std::ifstream in(report, std::ios::binary);
    std::vector<std::vector<std::string>> records;
    for (std::string line; std::getline(in, line);) {
        ASSERT_TRUE(line.ends_with('\r')) << line;
        line.pop_back();
        records.push_back(fields(line));
    }
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].back(), "code");
    std::vector<std::string> outcomes;
    for (std::size_t i = 1; i < records.size(); ++i) {
        ASSERT_EQ(records[i].size(), 10u);
        outcomes.push_back(records[i][1] + " " + records[i][2] + " " + records[i][5] + " " +
                           records[i][9]);
    }
    // The USB run's devices in the order they ended; an RS-232 imager has
    // no instance, and its port stands in for it.
    std::sort(outcomes.begin(), outcomes.begin() + 2);
    EXPECT_EQ(outcomes, (std::vector<std::string>{
                            usbPort(0) + " SN0 succeeded ok",
                            usbPort(1) + " SN1 failed block-refused",
                            "COM5 COM5 succeeded ok",
                        }));

    std::ifstream oldIn(old, std::ios::binary);
    const std::vector<std::string> oldLines =
        lines(std::string(std::istreambuf_iterator<char>(oldIn), std::istreambuf_iterator<char>()));
    ASSERT_EQ(oldLines.size(), 2u);
    EXPECT_EQ(fields(oldLines[1]).size(), 9u) << oldLines[1];
    EXPECT_NE(oldLines[1].find(",SN0,fw.bin,"), std::string::npos) << oldLines[1];
}

// A station's day in small: imagers plugged in one after another, one that
// refuses a block, one unplugged mid-transfer and plugged in again. Each
// plug-in is updated once and recorded once, in the order they finished.
TEST_F(FlashProgram, WatchUpdatesEachPlugInOnceAndRecordsIt) {
    sim::ImagerRack rack({{}, 3, (ports / "ttyACM0").string(), sysfs.root().string()});
    sim::ImagerOptions slow;
    slow.block_delay_ms = 50;
    sim::ImagerOptions refusing;
    refusing.block_fault = sim::BlockFault::kNack;
    refusing.fault_block = 2;
    const std::vector<uint8_t> image = sampleImage(32 * 1024);
    const std::string path = writeImage(image);
    const auto report = files / "station.csv";
    harness::ChildProcess child(
        QOR_FLASH_PROGRAM, {"--watch", "--json", "--report", report.string(), path}, environment());
    ASSERT_TRUE(child.started());
    std::string error;
    // Each record goes out after the watch has looked again, so the next
    // step can rely on what it saw.
    const auto finished = [&](const std::string& instance, const char* result) {
        return child.waitForOutput(R"("instance":")" + instance + R"(","result":")" + result,
                                   kTimeout);
    };

    ASSERT_TRUE(rack.plug(0, error)) << error;
    ASSERT_TRUE(finished("SIM0", "succeeded"));
    // Something else copied over the image mid-shift: the later imagers get
    // the bytes the watch checked, and the report names those.
    writeImage(std::vector<uint8_t>(256 * 1024, 0));
    ASSERT_TRUE(rack.plug(1, error, &slow)) << error;
    ASSERT_TRUE(rack.imager(1)->waitFor([](const auto& r) { return r.run.blocks >= 3; }, 30000));
    rack.unplug(1);
    ASSERT_TRUE(finished("SIM1", "failed"));
    ASSERT_TRUE(rack.plug(2, error, &refusing)) << error;
    ASSERT_TRUE(finished("SIM2", "failed"));
    ASSERT_TRUE(rack.plug(1, error)) << error;
    ASSERT_TRUE(finished("SIM1", "succeeded"));
    child.signal(SIGINT);
    const ProgramResult result = child.wait(kTimeout);

    EXPECT_EQ(result.exitCode, 1) << result.err;
    const auto summary = testing::readJson(lines(result.out).back());
    ASSERT_TRUE(summary) << result.out;
    EXPECT_EQ((*summary)["updated"].number(), 2);
    EXPECT_EQ((*summary)["failed"].number(), 2);
    EXPECT_EQ((*summary)["interrupted"].number(), 0);
    EXPECT_EQ(rack.imager(0)->record().run.image, image);
    EXPECT_EQ(rack.imager(1)->received(), expectedWire(image));

    const std::string sha = hexDigest([&] {
        Sha256 digest;
        digest.update(image);
        return digest.finish();
    }());
    std::ifstream in(report, std::ios::binary);
    std::vector<std::vector<std::string>> records;
    for (std::string line; std::getline(in, line);) {
        ASSERT_TRUE(line.ends_with('\r')) << line;
        line.pop_back();
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, ',');) {
            fields.push_back(field);
        }
        ASSERT_EQ(fields.size(), 10u) << line;
        records.push_back(fields);
    }
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0][0], "time");
    EXPECT_EQ(records[0][9], "code");
    const std::vector<std::vector<std::string>> expected{
        {"ttyACM0", "SIM0", "succeeded", "32768", "ok"},
        {"ttyACM1", "SIM1", "failed", "", ""},
        {"ttyACM2", "SIM2", "failed", "3072", "block-refused"},
        {"ttyACM1", "SIM1", "succeeded", "32768", "ok"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& r = records[i + 1];
        SCOPED_TRACE(i);
        EXPECT_EQ(r[0].size(), 20u) << r[0];  // 2026-12-07T20:45:03Z
        EXPECT_EQ(r[1], expected[i][0]);
        EXPECT_EQ(r[2], expected[i][1]);
        EXPECT_EQ(r[3], "fw.bin");
        EXPECT_EQ(r[4], sha);
        EXPECT_EQ(r[5], expected[i][2]);
        if (!expected[i][3].empty()) {
            EXPECT_EQ(r[6], expected[i][3]);
        }
        if (!expected[i][4].empty()) {
            EXPECT_EQ(r[9], expected[i][4]);
        }
    }
    // Cut off mid-transfer: some blocks, not all.
    EXPECT_GE(std::stoi(records[2][6]), 3072);
    EXPECT_LT(std::stoi(records[2][6]), 32768);
    EXPECT_EQ(records[3][8], "Transmit File Failed (-2)");
}

// An imager is its instance on its port, updated once per plug-in: a twin
// with its serial number, a replug quicker than a look, and a port that
// would not open just after it appeared each give one record per plug-in.
TEST_F(FlashProgram, AWatchGivesOneRecordPerPlugInOfTwinsQuickReplugsAndSlowPorts) {
    const std::vector<uint8_t> image = sampleImage(8 * 1024);
    const auto report = files / "station.csv";
    harness::ChildProcess child(
        QOR_FLASH_PROGRAM, {"--watch", "--json", "--report", report.string(), writeImage(image)},
        environment());
    ASSERT_TRUE(child.started());
    const auto finished = [&](const std::string& instance, const char* result) {
        return child.waitForOutput(R"("instance":")" + instance + R"(","result":")" + result,
                                   kTimeout);
    };
    // Twins: the one already updated keeps its name and is not taken again.
    sim::ImagerSimulator first;
    sim::ImagerSimulator twin;
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(twin.start());
    sysfs.addImager("1-1", "ttyACM0", "TWIN");
    link("ttyACM0", first);
    ASSERT_TRUE(finished("TWIN", "succeeded"));
    sysfs.addImager("1-2", "ttyACM1", "TWIN");
    link("ttyACM1", twin);
    ASSERT_TRUE(finished("1-2:1.0", "succeeded"));

    // Unplugged mid-transfer and back on the same port before the next look.
    sim::ImagerOptions slow;
    slow.block_delay_ms = 50;
    sim::ImagerSimulator cut(slow);
    sim::ImagerSimulator back;
    ASSERT_TRUE(cut.start());
    ASSERT_TRUE(back.start());
    sysfs.addImager("1-3", "ttyACM2", "QUICK");
    link("ttyACM2", cut);
    ASSERT_TRUE(cut.waitFor([](const auto& r) { return r.run.blocks >= 2; }, 30000));
    std::filesystem::remove(ports / "ttyACM2");
    link("ttyACM2", back);
    cut.stop();
    ASSERT_TRUE(finished("QUICK", "failed"));
    ASSERT_TRUE(finished("QUICK", "succeeded"));

    // Listed before its port may be opened, as before udev has set it up.
    sim::ImagerSimulator late;
    ASSERT_TRUE(late.start());
    sysfs.addImager("1-4", "ttyACM3", "LATE");
    ASSERT_TRUE(child.waitForOutput(R"("event":"started","port":"ttyACM3")", kTimeout));
    link("ttyACM3", late);
    ASSERT_TRUE(finished("LATE", "succeeded"));
    child.signal(SIGTERM);
    const ProgramResult result = child.wait(kTimeout);

    EXPECT_EQ(first.received(), expectedWire(image));
    EXPECT_EQ(twin.received(), expectedWire(image));
    EXPECT_EQ(back.received(), expectedWire(image));
    EXPECT_EQ(late.received(), expectedWire(image));
    std::ifstream in(report, std::ios::binary);
    std::vector<std::string> records =
        lines(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    ASSERT_FALSE(records.empty());
    records.erase(records.begin());  // the header
    std::vector<std::string> outcomes;
    for (const std::string& record : records) {
        const auto field = [&](int n) {
            std::size_t at = 0;
            for (int i = 0; i < n; ++i) {
                at = record.find(',', at) + 1;
            }
            return record.substr(at, record.find(',', at) - at);
        };
        outcomes.push_back(field(1) + " " + field(2) + " " + field(5));
    }
    EXPECT_EQ(outcomes,
              (std::vector<std::string>{"ttyACM0 TWIN succeeded", "ttyACM1 1-2:1.0 succeeded",
                                        "ttyACM2 QUICK failed", "ttyACM2 QUICK succeeded",
                                        "ttyACM3 LATE succeeded"}))
        << result.out;
}

TEST_F(FlashProgram, AWatchOfOneAtATimeTakesImagersInTurnAndEndsAtItsCount) {
    sim::ImagerRack rack({{}, 3, (ports / "ttyACM0").string(), sysfs.root().string()});
    std::string error;
    for (unsigned slot = 0; slot < 3; ++slot) {
        ASSERT_TRUE(rack.plug(slot, error)) << error;
    }
    const ProgramResult result = flash(
        {"--watch", "--json", "--max-devices", "1", "--count", "2", writeImage(sampleImage(4096))});

    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> seen;
    for (const std::string& line : lines(result.out)) {
        const auto event = testing::readJson(line);
        ASSERT_TRUE(event) << line;
        seen.push_back((*event)["event"].text() +
                       (event->has("instance") ? " " + (*event)["instance"].text() : ""));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"started SIM0", "finished SIM0", "started SIM1",
                                              "finished SIM1", "summary"}));
    EXPECT_TRUE(rack.imager(2)->received().empty());
}

TEST_F(FlashProgram, CtrlCEndsAWatchWithTheImagerInFlightRecordedAsInterrupted) {
    sim::ImagerOptions slow;
    slow.block_delay_ms = 50;
    sim::ImagerRack rack({slow, 1, (ports / "ttyACM0").string(), sysfs.root().string()});
    std::string error;
    ASSERT_TRUE(rack.plug(0, error)) << error;
    const auto report = files / "station.csv";
    harness::ChildProcess child(
        QOR_FLASH_PROGRAM,
        {"--watch", "--report", report.string(), writeImage(sampleImage(64 * 1024))},
        environment());
    ASSERT_TRUE(rack.imager(0)->waitFor([](const auto& r) { return r.run.blocks >= 3; }, 30000));
    child.signal(SIGINT);
    const ProgramResult result = child.wait(kTimeout);

    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.out.find("ttyACM0 SIM0: interrupted, "), std::string::npos) << result.out;
    EXPECT_TRUE(result.out.ends_with("updated 0, failed 0, interrupted 1\n")) << result.out;
    std::ifstream in(report, std::ios::binary);
    const std::vector<std::string> records =
        lines(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[1].find(",interrupted,"), std::string::npos) << records[1];
    EXPECT_NE(records[1].find("firmware is incomplete"), std::string::npos) << records[1];
}

TEST_P(FlashProgramRunners, AWatchOfOneImagerUpdatesItAndEnds) {
    sim::ImagerSimulator imager;
    attach(imager, 0);
    const std::vector<uint8_t> image = sampleImage(4096);

    const ProgramResult result = flash({"--watch", "--count", "1", writeImage(image)});

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(usbPort(0) + " SN0: succeeded, 4096 bytes, "), std::string::npos)
        << result.out;
    EXPECT_TRUE(result.out.ends_with("updated 1, failed 0, interrupted 0\n")) << result.out;
    EXPECT_EQ(imager.received(), expectedWire(image));
}

// The platform's own discovery during a watch: an imager plugged in later,
// one unplugged mid-transfer and plugged in again, each plug-in updated once.
TEST_P(FlashProgramRunners, AWatchTakesImagersAsTheyComeAndAgainAfterAnUnplug) {
    sim::ImagerSimulator first;
    attach(first, 0);
    const std::vector<uint8_t> image = sampleImage(32 * 1024);
    const auto child = start({"--watch", "--json", "--count", "3", writeImage(image)});
    const auto finished = [&](int n, const char* result) {
        return child->waitForOutput(
            R"("instance":"SN)" + std::to_string(n) + R"(","result":")" + result, kTimeout);
    };
    ASSERT_TRUE(finished(0, "succeeded"));

    // Slow enough that the transfer is still going once wine's registry
    // has taken the unplug.
    sim::ImagerOptions slow;
    slow.block_delay_ms = 300;
    sim::ImagerSimulator second(slow);
    plugIn(second, 1);
    ASSERT_TRUE(second.waitFor([](const auto& r) { return r.run.blocks >= 2; }, 30000));
    unplug(second, 1);
    ASSERT_TRUE(finished(1, "failed"));
    sim::ImagerSimulator again;
    plugIn(again, 1);
    const ProgramResult result = finish(*child, kTimeout);

    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(first.received(), expectedWire(image));  // once, not again
    EXPECT_EQ(again.received(), expectedWire(image));
    EXPECT_NE(result.out.find(R"("updated":2,"failed":1,"interrupted":0)"), std::string::npos)
        << result.out;
}

TEST_F(FlashProgram, WrongUsageExitsTwoAndHelpListsTheExitStatuses) {
    const ProgramResult wrong = flash({"--port"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.err.find("Try 'qor-flash --help'"), std::string::npos);

    const ProgramResult help = flash({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Runner, FlashProgramRunners,
                         ::testing::Values(QOR_FLASH_ON_WINE ? kWine : kNative),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
