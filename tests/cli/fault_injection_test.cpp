// Faults a user can cause or suffer, end to end: simulated imagers on
// pseudo-terminals, driven once through the built qor-flash and once through
// the real dialog on the in-memory host. Every row checks the message, the
// exit status or the boxes, that nothing failed is reported as updated, that
// no port or image handle is left open, and that the run ends within
// seconds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/testkit/json_reader.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/memory_dialog_host.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/child_process.h"
#include "tools/testkit/open_handles.h"
#include "tools/testkit/sample_image.h"
#include "ui/resource_ids.h"
#include "update/services.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using harness::ProgramResult;
using testing::MemoryWindow;
using testing::openDescriptorsOn;
using testing::ScopedEnv;

// Generous: the slowest row (a trickling imager) takes about eight seconds.
constexpr auto kDeadline = std::chrono::seconds(40);
constexpr uint32_t kRecordWaitMs = 20000;

// What the test does to the run besides the imagers' own behaviour.
enum class Act {
    kNone,
    kHoldPort,        // another process holds the faulty imager's port
    kUnprivileged,    // qor-flash runs as a user who may not open the ports
    kDeleteImage,     // between the image check and the workers
    kTruncateImage,   // likewise, cut to its header
    kOverwriteImage,  // likewise, zeros copied over it
    kVanish,          // the faulty imager goes between the count and the collection
    kInterrupt,       // Ctrl-C once the faulty imager's record says so
};

struct Fault {
    const char* name;
    sim::ImagerOptions options = {};  // the faulty imager, ttyACM1; ttyACM0 is healthy
    Act act = Act::kNone;
    // qor-flash's exit status and a line of its standard error; none: the
    // row does not run through qor-flash.
    std::optional<int> exitCode = std::nullopt;
    const char* flashMessage = "";
    // A line of the dialog's boxes.
    const char* boxText = "";
    bool faultySucceeds = false;  // the fault is one the updater must ride out
    bool healthyTouched = true;   // the healthy imager is updated
    unsigned imagers = 2;         // above 6: all healthy, none may be touched
    // For kInterrupt: when to press Ctrl-C, and through qor-flash only once
    // it has also told the faulty imager in this phase (the imager may have
    // answered a step long before a busy machine lets the program read it).
    std::function<bool(const sim::ImagerRecord&)> when = {};
    const char* toldPhase = nullptr;
};

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}

sim::ImagerOptions with(const std::function<void(sim::ImagerOptions&)>& change) {
    sim::ImagerOptions options;
    change(options);
    return options;
}

std::vector<Fault> faults() {
    using sim::BlockFault;
    using sim::Reply;
    using Options = sim::ImagerOptions;
    const auto at = [](auto field, auto value) {
        return with([=](Options& o) { o.*field = value; });
    };
    const auto whenRecord = [](bool (*done)(const sim::ImagerRecord&)) {
        return std::function<bool(const sim::ImagerRecord&)>(done);
    };
    return {
        {.name = "HangUpAtTheProbe",
         .options = at(&Options::probe_reply, Reply::kHangUp),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Connect Failed",
         .boxText = "Connect Failed"},
        {.name = "HangUpAtTheHeader",
         .options = at(&Options::header_reply, Reply::kHangUp),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Transmit File Failed\n",
         .boxText = "Transmit File Failed"},
        {.name = "HangUpAtBlock3",
         .options = with([](Options& o) {
             o.block_fault = BlockFault::kHangUp;
             o.fault_block = 3;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Transmit File Failed (0)",
         .boxText = "Transmit File Failed (0)"},
        // The imager has acknowledged the image and hangs up instead of its
        // "*update" (the check), or of its final answer (the update).
        {.name = "HangUpAtTheCheck",
         .options = with([](Options& o) {
             o.check_time_ms = 300;
             o.update_reply = Reply::kHangUp;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: File Transmit Failed",
         .boxText = "File Transmit Failed"},
        {.name = "HangUpAtTheUpdate",
         .options = with([](Options& o) {
             o.write_time_ms = 300;
             o.final_reply = Reply::kHangUp;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Upate Failed",
         .boxText = "Upate Failed"},
        {.name = "VanishesBetweenTheCountAndTheCollection",
         .act = Act::kVanish,
         .boxText = "COM Port Error !",
         .healthyTouched = false},
        {.name = "PortHeldByAnotherProcess",
         .act = Act::kHoldPort,
         .exitCode = 1,
         .flashMessage = "ttyACM1: Connect To ttyACM1 Failed: port busy\n"
                         "qor-flash: ttyACM1: hint: another program holds the port",
         .boxText = "Connect To ttyACM1 Failed"},
        // Both ports are root's: the healthy imager is out of reach too.
        {.name = "PortTheUserMayNotOpen",
         .act = Act::kUnprivileged,
         .exitCode = 1,
         .flashMessage = "ttyACM1: Connect To ttyACM1 Failed: permission denied\n"
                         "qor-flash: ttyACM1: hint: add the user to the dialout group",
         .healthyTouched = false},
        // The image is read once, by the check: the workers send the bytes
        // it passed, whatever becomes of the file.
        {.name = "ImageDeletedBeforeTheWorkers", .act = Act::kDeleteImage, .faultySucceeds = true},
        {.name = "ImageTruncatedBeforeTheWorkers",
         .act = Act::kTruncateImage,
         .faultySucceeds = true},
        {.name = "ImageOverwrittenBeforeTheWorkers",
         .act = Act::kOverwriteImage,
         .faultySucceeds = true},
        {.name = "FloodOfDiscardedBytesAtEveryWait",
         .options = at(&Options::flood_gap_ms, 20u),
         .exitCode = 0,
         .faultySucceeds = true},
        {.name = "TrickleOfOneByteEvery200ms",
         .options = at(&Options::trickle_gap_ms, 200u),
         .exitCode = 0,
         .faultySucceeds = true},
        {.name = "SevenImagers",
         .exitCode = 4,
         .flashMessage = "Too Many COM Ports !",
         .boxText = "Too Many COM Ports !",
         .healthyTouched = false,
         .imagers = 7},
        {.name = "NineImagers",
         .exitCode = 4,
         .flashMessage = "Too Many COM Ports !",
         .boxText = "Too Many COM Ports !",
         .healthyTouched = false,
         .imagers = 9},
        {.name = "CtrlCWhileConnecting",
         .options = at(&Options::probe_reply, Reply::kSilent),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: interrupted before the image went out",
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.probe_seen; })},
        {.name = "CtrlCAfterTheHeader",
         .options = at(&Options::header_delay_ms, 900u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: interrupted before the image went out",
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.header.size() == 12; })},
        {.name = "CtrlCDuringTheTransfer",
         .options = at(&Options::block_delay_ms, 300u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: interrupted after ",
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.blocks >= 1; })},
        // With the whole image in, the imager is left to finish.
        {.name = "CtrlCDuringTheCheck",
         .options = at(&Options::check_time_ms, 500u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: the imager has the whole image",
         .faultySucceeds = true,
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.completed; }),
         .toldPhase = "checking"},
        {.name = "CtrlCDuringTheUpdate",
         .options = at(&Options::write_time_ms, 3000u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: the imager has the whole image",
         .faultySucceeds = true,
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.completed; }),
         .toldPhase = "updating"},
    };
}

std::vector<Fault> faultsWhere(const std::function<bool(const Fault&)>& keep) {
    std::vector<Fault> kept;
    for (Fault& fault : faults()) {
        if (keep(fault)) {
            kept.push_back(std::move(fault));
        }
    }
    return kept;
}

// Calls `beforeCollection` once, at the next look at the attached imagers:
// after a click on the main button that is the port check, between the
// image check and the workers.
class HookedServices final : public Services {
  public:
    Clock& clock(int deviceIndex) override { return m_real.clock(deviceIndex); }
    PortHandle openComPort(std::string_view name, uint32_t baud) override {
        return m_real.openComPort(name, baud);
    }
    RegistryReader& registry() override {
        if (auto hook = std::exchange(beforeCollection, nullptr)) {
            hook();
        }
        return m_real.registry();
    }
    std::function<void()> beforeCollection;

  private:
    SystemServices m_real;
};

class FaultTable : public ::testing::TestWithParam<Fault> {
  protected:
    FaultTable() {
        fs::create_directories(ports.path());
        const Fault& fault = GetParam();
        for (unsigned n = 0; n < fault.imagers; ++n) {
            imagers.push_back(std::make_unique<sim::ImagerSimulator>(
                n == 1 && fault.imagers == 2 ? fault.options : sim::ImagerOptions{}));
            EXPECT_TRUE(imagers.back()->start());
            sysfs.addImager("1-" + std::to_string(n + 1), port(n), "SN" + std::to_string(n));
            fs::create_symlink(imagers.back()->portPath(), ports / port(n));
        }
        imagePath = files.write("fw.bin", image).string();
    }

    static std::string port(unsigned n) { return "ttyACM" + std::to_string(n); }
    sim::ImagerSimulator& faulty() { return *imagers.at(1); }

    // What the row's act does between the image check and the workers.
    std::function<void()> actBeforeCollection() {
        switch (GetParam().act) {
            case Act::kDeleteImage:
                return [this] { fs::remove(imagePath); };
            case Act::kTruncateImage:
                return [this] { fs::resize_file(imagePath, 12); };
            case Act::kOverwriteImage:
                return [this] { files.write("fw.bin", std::vector<uint8_t>(image.size(), 0)); };
            case Act::kVanish:
                return [this] {
                    fs::remove(sysfs.root() / "class/tty" / port(1));
                    fs::remove(ports / port(1));
                };
            default:
                return nullptr;
        }
    }

    // The imagers' side after any run: a faulty imager that was never to be
    // reached got nothing, the healthy ones (and a faulty one that rides its
    // fault out) the exact image or, when the run never began, no whole image.
    void expectImagers() {
        const Fault& fault = GetParam();
        for (unsigned n = 0; n < imagers.size(); ++n) {
            const sim::ImagerRecord record = imagers[n]->record();
            const bool isFaulty = n == 1 && fault.imagers == 2;
            if (isFaulty && (fault.act == Act::kHoldPort || fault.act == Act::kVanish ||
                             fault.act == Act::kUnprivileged)) {
                EXPECT_TRUE(record.received.empty()) << port(n);
            } else if ((!isFaulty && fault.healthyTouched) || (isFaulty && fault.faultySucceeds)) {
                EXPECT_EQ(record.run.image, image) << port(n);
            } else if (!isFaulty) {
                EXPECT_FALSE(record.run.completed) << port(n);
            }
        }
    }

    std::vector<std::string> watchedPaths() const {
        std::vector<std::string> paths{imagePath};
        for (const auto& imager : imagers) {
            paths.push_back(imager->portPath());
        }
        return paths;
    }

    const std::vector<uint8_t> image = sim::sampleImage(4 * 1024);
    testing::TempDir ports;
    testing::TempDir files;
    testing::FakeSysfs sysfs;
    std::vector<std::unique_ptr<sim::ImagerSimulator>> imagers;
    std::string imagePath;
};

// --- through qor-flash ------------------------------------------------------

using ThroughQorFlash = FaultTable;

TEST_P(ThroughQorFlash, EndsWithTheMessageAndNoFalseSuccess) {
    const Fault& fault = GetParam();
    std::string program = QOR_FLASH_PROGRAM;
    std::vector<std::string> args{"--json", imagePath};
    std::optional<int> holder;
    if (fault.act == Act::kUnprivileged) {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "dropping to an unprivileged user needs root";
        }
        // The files are the user's to read; the ports stay root's.
        for (const fs::path& dir : {ports.path(), files.path(), sysfs.root()}) {
            fs::permissions(dir, fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add);
        }
        fs::permissions(imagePath, fs::perms::others_read, fs::perm_options::add);
        args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program});
        program = "/usr/bin/setpriv";
    }
    if (fault.act == Act::kHoldPort) {
        holder = ::open((ports / port(1)).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(*holder, 0);
        ASSERT_EQ(::flock(*holder, LOCK_EX | LOCK_NB), 0);
    }
    harness::ChildProcess child(program, args,
                                {{"QOR_SYSFS_ROOT", sysfs.root().string()},
                                 {"QOR_PORT_DIR", ports.path().string()},
                                 {"LANGUAGE", "en_US"},
                                 {"LC_ALL", ""},
                                 {"LANG", ""}});
    ASSERT_TRUE(child.started());
    if (fault.act == Act::kInterrupt) {
        ASSERT_TRUE(faulty().waitFor(fault.when, kRecordWaitMs));
        if (fault.toldPhase != nullptr) {
            ASSERT_TRUE(child.waitForOutput(
                std::string("\"port\":\"") + port(1) + "\",\"phase\":\"" + fault.toldPhase + "\"",
                std::chrono::milliseconds(kRecordWaitMs)));
        }
        child.signal(SIGINT);
    }
    const ProgramResult result = child.wait(kDeadline);
    if (holder) {
        ::close(*holder);
    }

    ASSERT_NE(result.exitCode, -1) << "still running after the deadline";
    EXPECT_EQ(result.exitCode, *fault.exitCode) << result.err;
    EXPECT_NE(result.err.find(std::string("qor-flash: ") + fault.flashMessage), std::string::npos)
        << result.err;
    if (fault.imagers > 2) {
        for (const auto& imager : imagers) {
            EXPECT_TRUE(imager->received().empty());
        }
        return;
    }
    // The summary names every device with its own result.
    std::string last = result.out.substr(result.out.rfind('\n', result.out.size() - 2) + 1);
    const auto summary = testing::readJson(last);
    ASSERT_TRUE(summary) << result.out;
    const auto& devices = (*summary)["devices"].array();
    ASSERT_EQ(devices.size(), 2u) << last;
    EXPECT_EQ(devices[1]["result"].text() == "succeeded", fault.faultySucceeds) << last;
    if (fault.healthyTouched && fault.act != Act::kInterrupt) {
        EXPECT_EQ(devices[0]["result"].text(), "succeeded") << last;
    }
    if (!fault.faultySucceeds) {
        EXPECT_EQ(result.err.find("successfully"), std::string::npos) << result.err;
    }
    if (fault.act != Act::kInterrupt) {
        expectImagers();
    }
}

// A command's run has no moment between its image check and its workers, or
// between its count and its collection, where a test could strike.
INSTANTIATE_TEST_SUITE_P(Faults, ThroughQorFlash,
                         ::testing::ValuesIn(faultsWhere([](const Fault& f) {
                             return f.exitCode.has_value();
                         })),
                         [](const auto& info) { return std::string(info.param.name); });

// --- through the dialog -----------------------------------------------------

using ThroughTheDialog = FaultTable;

TEST_P(ThroughTheDialog, EndsWithTheBoxAndEveryHandleClosed) {
    const Fault& fault = GetParam();
    ScopedEnv language{"LANGUAGE", "en_US"};
    ScopedEnv sysfsRoot{"QOR_SYSFS_ROOT", sysfs.root().string()};
    ScopedEnv portDir{"QOR_PORT_DIR", ports.path().string()};
    // The simulators' own ends of their lines are no leak.
    const std::vector<std::string> before = openDescriptorsOn(watchedPaths());
    std::optional<int> holder;
    if (fault.act == Act::kHoldPort) {
        holder = ::open((ports / port(1)).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(*holder, 0);
        ASSERT_EQ(::flock(*holder, LOCK_EX | LOCK_NB), 0);
    }
    AppState state;
    HookedServices services;
    testing::MemoryDialogHost host(state, services);
    host.open();
    MemoryWindow& window = host.window();
    host.click(IDC_RADIO_USB);
    host.tick();
    window.setOpenFileAnswer(imagePath);
    services.beforeCollection = actBeforeCollection();
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kDeadline)) << "the run is still open after the deadline";
    if (holder) {
        ::close(*holder);
    }

    std::string boxes;
    for (const auto& box : window.messageBoxes()) {
        boxes += box.text + "\n";
    }
    const bool success = boxes.find("successfully") != std::string::npos;
    EXPECT_EQ(success, fault.faultySucceeds) << boxes;
    if (!fault.faultySucceeds) {
        EXPECT_NE(boxes.find(fault.boxText), std::string::npos) << boxes;
    }
    expectImagers();
    // Every worker has let go of its port and of the image before the last
    // one closed the run.
    // (an imager that hung up has closed its own).
    for (const std::string& open : openDescriptorsOn(watchedPaths())) {
        EXPECT_NE(std::find(before.begin(), before.end(), open), before.end()) << open;
    }
}

// A window has no Ctrl-C, and a test process cannot drop its rights and
// take them back.
INSTANTIATE_TEST_SUITE_P(Faults, ThroughTheDialog,
                         ::testing::ValuesIn(faultsWhere([](const Fault& f) {
                             return f.act != Act::kInterrupt && f.act != Act::kUnprivileged;
                         })),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
