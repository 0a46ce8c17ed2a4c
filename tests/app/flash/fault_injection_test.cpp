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

#include "tests/support/csv_records.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_services.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/memory_dialog_host.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/child_process.h"
#include "tools/testkit/json_reader.h"
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
    // The faulty imager's code, or the run's when it never got as far as its
    // imagers: the same whatever the language.
    const char* code = "";
    // The user's language: the messages and boxes above are in it.
    const char* language = "en";
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
         .boxText = "Connect Failed",
         .code = "connect-failed"},
        {.name = "HangUpAtTheHeader",
         .options = at(&Options::header_reply, Reply::kHangUp),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Transmit File Failed\n",
         .boxText = "Transmit File Failed",
         .code = "header-unanswered"},
        {.name = "HangUpAtBlock3",
         .options = with([](Options& o) {
             o.block_fault = BlockFault::kHangUp;
             o.fault_block = 3;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Transmit File Failed (0)",
         .boxText = "Transmit File Failed (0)",
         .code = "block-refused"},
        // A refused header and a refused block, in either language. In
        // Chinese a refused block reads as a header left unanswered does: the
        // codes tell them apart, the same in both languages.
        {.name = "HeaderRefused",
         .options = at(&Options::header_reply, Reply::kNack),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Invalid Firmware !",
         .boxText = "Invalid Firmware !",
         .code = "firmware-refused"},
        {.name = "HeaderRefusedInChinese",
         .options = at(&Options::header_reply, Reply::kNack),
         .exitCode = 1,
         .flashMessage = "ttyACM1: \u4e0d\u652f\u6301\u6b64\u56fa\u4ef6\u7248\u672c !!",
         .boxText = "\u4e0d\u652f\u6301\u6b64\u56fa\u4ef6\u7248\u672c !!",
         .code = "firmware-refused",
         .language = "zh"},
        {.name = "BlockRefused",
         .options = with([](Options& o) {
             o.block_fault = BlockFault::kNack;
             o.fault_block = 2;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Transmit File Failed (-2)",
         .boxText = "Transmit File Failed (-2)",
         .code = "block-refused"},
        {.name = "BlockRefusedInChinese",
         .options = with([](Options& o) {
             o.block_fault = BlockFault::kNack;
             o.fault_block = 2;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: \u6863\u6848\u4f20\u9001\u5931\u8d25\n",
         .boxText = "\u6863\u6848\u4f20\u9001\u5931\u8d25",
         .code = "block-refused",
         .language = "zh"},
        // The imager has acknowledged the image and hangs up instead of its
        // "*update" (the check), or of its final answer (the update).
        {.name = "HangUpAtTheCheck",
         .options = with([](Options& o) {
             o.check_time_ms = 300;
             o.update_reply = Reply::kHangUp;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: File Transmit Failed",
         .boxText = "File Transmit Failed",
         .code = "transfer-unconfirmed"},
        {.name = "HangUpAtTheUpdate",
         .options = with([](Options& o) {
             o.write_time_ms = 300;
             o.final_reply = Reply::kHangUp;
         }),
         .exitCode = 1,
         .flashMessage = "ttyACM1: Upate Failed",
         .boxText = "Upate Failed",
         .code = "update-timeout"},
        {.name = "VanishesBetweenTheCountAndTheCollection",
         .act = Act::kVanish,
         .boxText = "COM Port Error !",
         .code = "port-error",
         .healthyTouched = false},
        {.name = "PortHeldByAnotherProcess",
         .act = Act::kHoldPort,
         .exitCode = 1,
         .flashMessage = "ttyACM1: Connect To ttyACM1 Failed: port busy\n"
                         "qor-flash: ttyACM1: hint: another program holds the port",
         .boxText = "Connect To ttyACM1 Failed",
         .code = "port-open-failed"},
        // Both ports are root's: the healthy imager is out of reach too.
        {.name = "PortTheUserMayNotOpen",
         .act = Act::kUnprivileged,
         .exitCode = 1,
         .flashMessage = "ttyACM1: Connect To ttyACM1 Failed: permission denied\n"
                         "qor-flash: ttyACM1: hint: add the user to the dialout group",
         .code = "port-open-failed",
         .healthyTouched = false},
        // The image is read once, by the check: the workers send the bytes
        // it passed, whatever becomes of the file.
        {.name = "ImageDeletedBeforeTheWorkers",
         .act = Act::kDeleteImage,
         .code = "ok",
         .faultySucceeds = true},
        {.name = "ImageTruncatedBeforeTheWorkers",
         .act = Act::kTruncateImage,
         .code = "ok",
         .faultySucceeds = true},
        {.name = "ImageOverwrittenBeforeTheWorkers",
         .act = Act::kOverwriteImage,
         .code = "ok",
         .faultySucceeds = true},
        {.name = "FloodOfDiscardedBytesAtEveryWait",
         .options = at(&Options::flood_gap_ms, 20u),
         .exitCode = 0,
         .code = "ok",
         .faultySucceeds = true},
        {.name = "TrickleOfOneByteEvery200ms",
         .options = at(&Options::trickle_gap_ms, 200u),
         .exitCode = 0,
         .code = "ok",
         .faultySucceeds = true},
        {.name = "SevenImagers",
         .exitCode = 4,
         .flashMessage = "Too Many COM Ports !",
         .boxText = "Too Many COM Ports !",
         .code = "too-many-imagers",
         .healthyTouched = false,
         .imagers = 7},
        {.name = "NineImagers",
         .exitCode = 4,
         .flashMessage = "Too Many COM Ports !",
         .boxText = "Too Many COM Ports !",
         .code = "too-many-imagers",
         .healthyTouched = false,
         .imagers = 9},
        {.name = "CtrlCWhileConnecting",
         .options = at(&Options::probe_reply, Reply::kSilent),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: interrupted before the image went out",
         .code = "interrupted",
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.probe_seen; })},
        {.name = "CtrlCAfterTheHeader",
         .options = at(&Options::header_delay_ms, 900u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: interrupted before the image went out",
         .code = "interrupted",
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.header.size() == 12; })},
        {.name = "CtrlCDuringTheTransfer",
         .options = at(&Options::block_delay_ms, 300u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: interrupted after ",
         .code = "interrupted",
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.blocks >= 1; })},
        // With the whole image in, the imager is left to finish.
        {.name = "CtrlCDuringTheCheck",
         .options = at(&Options::check_time_ms, 500u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: the imager has the whole image",
         .code = "ok",
         .faultySucceeds = true,
         .when = whenRecord([](const sim::ImagerRecord& r) { return r.run.completed; }),
         .toldPhase = "checking"},
        {.name = "CtrlCDuringTheUpdate",
         .options = at(&Options::write_time_ms, 3000u),
         .act = Act::kInterrupt,
         .exitCode = 130,
         .flashMessage = "ttyACM1: the imager has the whole image",
         .code = "ok",
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
    std::vector<std::string> args{"--json", "--lang", fault.language, imagePath};
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
            ASSERT_TRUE(child.waitForOutput(std::string("\"port\":\"") + port(1) +
                                                "\",\"instance\":\"SN1\",\"phase\":\"" +
                                                fault.toldPhase + "\"",
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
    // Every error says what it is about in a word of its own.
    std::string last = result.out.substr(result.out.rfind('\n', result.out.size() - 2) + 1);
    for (size_t at = 0, end; (end = result.out.find('\n', at)) != std::string::npos; at = end + 1) {
        const auto event = testing::readJson(result.out.substr(at, end - at));
        ASSERT_TRUE(event) << result.out.substr(at, end - at);
        if ((*event)["event"].text() == "message" && (*event)["kind"].text() == "error") {
            EXPECT_FALSE((*event)["code"].isNull()) << result.out.substr(at, end - at);
        }
    }
    const auto summary = testing::readJson(last);
    ASSERT_TRUE(summary) << result.out;
    if (fault.imagers > 2) {
        EXPECT_EQ((*summary)["code"].text(), fault.code) << last;
        for (const auto& imager : imagers) {
            EXPECT_TRUE(imager->received().empty());
        }
        return;
    }
    // The summary names every device with its own result and code.
    const auto& devices = (*summary)["devices"].array();
    ASSERT_EQ(devices.size(), 2u) << last;
    EXPECT_EQ(devices[1]["result"].text() == "succeeded", fault.faultySucceeds) << last;
    EXPECT_EQ(devices[1]["code"].text(), fault.code) << last;
    EXPECT_EQ(devices[1]["instance"].text(), "SN1") << last;
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
    ScopedEnv language{"LANGUAGE", fault.language == std::string("zh") ? "zh_CN" : "en_US"};
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
    // The system's clock, ports and registry (the fake sysfs tree).
    testing::ScriptedServices services;
    services.useSystemRegistry();
    const fs::path runLog = files / "state" / "runs.csv";
    testing::MemoryDialogHost host(state, services, runLog);
    host.open();
    MemoryWindow& window = host.window();
    host.click(IDC_RADIO_USB);
    host.tick();
    window.setOpenFileAnswer(imagePath);
    // At the next look at the attached imagers: after the click on the main
    // button that is the port check, between the image check and the workers.
    services.beforeRegistry = actBeforeCollection();
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
    // The window's log has a record of each imager of a run, the faulty
    // one's with the row's code whatever the language; a run that never
    // began has none.
    const auto records = testing::readCsvRecords(runLog);
    if (fault.imagers > 2 || fault.act == Act::kVanish) {
        EXPECT_TRUE(records.empty());
    } else {
        ASSERT_EQ(records.size(), 3u);
        const auto faultyRecord = std::find_if(records.begin(), records.end(),
                                               [&](const auto& r) { return r.at(1) == port(1); });
        ASSERT_NE(faultyRecord, records.end());
        EXPECT_EQ(faultyRecord->at(2), "SN1");
        EXPECT_EQ(faultyRecord->at(5), fault.faultySucceeds ? "succeeded" : "failed");
        EXPECT_EQ(faultyRecord->back(), fault.code);
    }
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
