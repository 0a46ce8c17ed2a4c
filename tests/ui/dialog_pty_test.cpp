// The whole program against simulated imagers over real pseudo-terminals:
// the real dialog on the in-memory host, the system's services in real time,
// imagers found through a fake sysfs tree and reached through a folder of
// port links.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_sysfs.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/memory_dialog_host.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/sample_image.h"
#include "ui/resource_ids.h"
#include "update/services.h"

namespace qor {
namespace {

using testing::MemoryWindow;
using testing::ScopedEnv;

constexpr auto kTimeout = std::chrono::seconds(60);

using sim::expectedWire;
using sim::sampleImage;

class DialogOverPtys : public ::testing::Test {
  protected:
    DialogOverPtys() { std::filesystem::create_directories(ports.path()); }

    void link(const std::string& name, const sim::ImagerSimulator& imager) {
        std::filesystem::create_symlink(imager.portPath(), ports / name);
    }
    // Services are made once the environment points at the fakes.
    void openDialog() {
        services = std::make_unique<SystemServices>();
        host = std::make_unique<testing::MemoryDialogHost>(state, *services);
        host->open();
    }

    testing::TempDir ports;
    testing::TempDir files;
    testing::FakeSysfs sysfs;
    ScopedEnv language{"LANGUAGE", "en_US"};
    ScopedEnv sysfsRoot{"QOR_SYSFS_ROOT", sysfs.root().string()};
    ScopedEnv portDir{"QOR_PORT_DIR", ports.path().string()};
    AppState state;
    std::unique_ptr<SystemServices> services;
    std::unique_ptr<testing::MemoryDialogHost> host;
};

TEST_F(DialogOverPtys, TwoUsbImagersAreUpdatedTogether) {
    sim::ImagerSimulator first;
    sim::ImagerSimulator second;
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    sysfs.addImager("1-1", "ttyACM0", "A100");
    sysfs.addImager("1-2", "ttyACM1", "A101");
    link("ttyACM0", first);
    link("ttyACM1", second);
    const std::vector<uint8_t> image = sampleImage(8 * 1024);
    const std::string path = files.write("fw.bin", image).string();

    openDialog();
    MemoryWindow& window = host->window();
    host->click(IDC_RADIO_USB);
    host->tick();
    ASSERT_EQ(window.text(IDC_INFO), "  2 Devices Connected");
    window.setOpenFileAnswer(path);
    host->click(IDC_UPDATE);
    EXPECT_EQ(window.rect().height(), MemoryWindow::kTemplateRect.height() + 120);
    ASSERT_TRUE(host->waitForRunClosed(kTimeout));

    const auto boxes = window.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The updates were successfully installed");
    EXPECT_EQ(boxes[0].type, 0x40040u);
    EXPECT_EQ(window.rect(), MemoryWindow::kTemplateRect);
    for (int id : {1, 2, 10, 11}) {
        EXPECT_FALSE(window.isVisible(id)) << id;
    }
    EXPECT_EQ(window.runningTimers().count(0), 1u) << "the poll runs again";
    EXPECT_EQ(state.PortNameTable[0], "ttyACM0");
    EXPECT_EQ(state.PortNameTable[1], "ttyACM1");
    EXPECT_EQ(first.received(), expectedWire(image));
    EXPECT_EQ(second.received(), expectedWire(image));
}

class Rs232OverPty : public DialogOverPtys, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(Rs232OverPty, HandshakeFindsTheRateAndTheWorkerUpdatesAtItsOwn) {
    sim::ImagerOptions options;
    options.rs232_baud = GetParam();
    sim::ImagerSimulator imager(options);
    ASSERT_TRUE(imager.start());
    link("COM1", imager);
    const std::vector<uint8_t> image = sampleImage(4 * 1024);
    const std::string path = files.write("fw.bin", image).string();

    openDialog();
    MemoryWindow& window = host->window();
    // A pty carries no line rate: the imager judges bytes by the rate the
    // line has when it reads them. The user chooses the file only once the
    // imager has read the last setup command, so that it reads it at the
    // rate it was sent at, as a wire would have delivered it, before the
    // worker opens the line at its own rate.
    window.setWhileFileDialogOpen([&] {
        EXPECT_TRUE(
            imager.waitFor([](const sim::ImagerRecord& r) { return r.update_mode; }, 60'000));
    });
    window.setOpenFileAnswer(path);
    host->click(IDC_UPDATE);
    ASSERT_TRUE(host->waitForRunClosed(kTimeout));

    const auto boxes = window.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The updates were successfully installed");
    EXPECT_EQ(window.rect(), MemoryWindow::kTemplateRect);
    EXPECT_EQ(window.text(IDC_UPDATE), "Connect");

    const sim::ImagerRecord record = imager.record();
    EXPECT_TRUE(record.update_mode);
    EXPECT_TRUE(record.run.completed);
    EXPECT_EQ(record.run.image, image);
    // The probe went out at every rate up to the imager's, and the three
    // setup commands at its rate.
    const std::vector<uint32_t> scan{9600, 115200, 57600, 38400, 230400};
    std::vector<uint32_t> probes;
    std::vector<uint32_t> commands;
    for (const auto& packet : record.setup_packets) {
        (packet.bytes[2] == 0x0E ? probes : commands).push_back(packet.baud);
    }
    const auto found = std::find(scan.begin(), scan.end(), GetParam());
    EXPECT_EQ(probes, std::vector<uint32_t>(scan.begin(), found + 1));
    EXPECT_EQ(commands, std::vector<uint32_t>(3, GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Rates, Rs232OverPty,
                         ::testing::Values(9600u, 115200u, 57600u, 38400u, 230400u),
                         [](const auto& info) { return std::to_string(info.param); });

}  // namespace
}  // namespace qor
