#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/clock.h"
#include "serial/registry_sysfs.h"
#include "serial/usb_discovery.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/imager_sim/sim_line.h"
#include "tools/imager_sim/rack.h"
#include "tools/imager_sim/self_check.h"

namespace qor::sim {
namespace {

using testing::kAnswerMs;
using testing::SimLine;

TEST(ImagerSimLifecycle, StopIsPromptWhileAReplyIsPending) {
    ImagerOptions options;
    options.probe_delay_ms = 60'000;
    SimLine line(options);
    ASSERT_TRUE(line.ok());
    line.host().write("%QOR%*probe");
    ASSERT_TRUE(
        line.imager().waitFor([](const ImagerRecord& r) { return r.run.probe_seen; }, kAnswerMs));
    const std::string path = line.imager().portPath();
    SteadyClock clock;
    const uint32_t start = clock.now_ms();
    line.imager().stop();
    // Far below the minute the reply waits for, however busy the machine.
    EXPECT_LT(clock.now_ms() - start, 10'000u);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(line.host().waitForHangUp(kAnswerMs));
    line.imager().stop();  // a second stop is harmless
}

// Imagers plugged in and out while a program watches: the entries come and
// go where the updater's discovery looks, and an unplugged imager's port
// hangs up. The same slot comes back as the same device.
TEST(ImagerSimLifecycle, RackPlugsAndUnplugsWhereTheUpdaterLooks) {
    const ::qor::testing::TempDir dir;
    std::filesystem::create_directories(dir / "ports");
    ImagerRack rack({{}, 2, (dir / "ports" / "ttyACM0").string(), (dir / "sys").string()});
    std::string error;
    ASSERT_TRUE(rack.plug(0, error)) << error;
    ASSERT_TRUE(rack.plug(1, error)) << error;
    const std::vector<UsbImager> both{{"SIM0", "ttyACM0"}, {"SIM1", "ttyACM1"}};
    auto registry = openSysfsRegistry(dir / "sys");
    EXPECT_EQ(ListUsbImagers(*registry), both);

    PlainHost host;
    ASSERT_TRUE(host.open((dir / "ports" / "ttyACM1").string(), 115200));
    ASSERT_TRUE(rack.unplug(1));
    EXPECT_TRUE(host.waitForHangUp(kAnswerMs));
    EXPECT_FALSE(std::filesystem::exists(dir / "ports" / "ttyACM1"));
    EXPECT_EQ(ListUsbImagers(*registry), (std::vector<UsbImager>{both[0]}));
    EXPECT_TRUE(rack.unplug(1));  // already out

    ASSERT_TRUE(rack.plug(1, error)) << error;
    EXPECT_EQ(ListUsbImagers(*registry), both);
    EXPECT_FALSE(rack.plug(2, error));
    EXPECT_FALSE(rack.unplug(2));
}

TEST(ImagerSimLifecycle, LineWaitsForAHostThatComesLate) {
    ImagerSimulator imager;
    ASSERT_TRUE(imager.start());
    ASSERT_TRUE(imager.start());  // starting again changes nothing
    EXPECT_TRUE(std::filesystem::exists(imager.portPath()));
    SteadyClock().sleep_ms(100);
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        PlainHost host;
        ASSERT_TRUE(host.open(imager.portPath(), 921600));
        host.write("%QOR%*probe");
        EXPECT_EQ(host.readUntil("*echo", kAnswerMs), "*echo");
    }
}

TEST(ImagerSimLifecycle, RecordCanBeReadWhileTheImagerWorks) {
    SimLine line;
    ASSERT_TRUE(line.ok());
    const auto image = sampleImage(64 * 1024);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        SteadyClock clock;
        while (!done.load()) {
            (void)line.imager().record();
            clock.sleep_ms(1);
        }
    });
    EXPECT_EQ(line.connect(), "*echo");
    EXPECT_EQ(line.ask(headerFor(image), "*echo"), "*echo");
    for (std::size_t k = 0; k < 64; ++k) {
        line.host().write(testing::blockOf(image, k));
        line.host().readUntil(k + 1 < 64 ? "*echo" : "*ack", kAnswerMs);
    }
    done = true;
    reader.join();
    EXPECT_EQ(line.imager().record().run.image, image);
}

TEST(ImagerSimLifecycle, SelfCheckPasses) {
    const SelfCheckResult result = runSelfCheck();
    EXPECT_TRUE(result.passed) << result.line;
}

}  // namespace
}  // namespace qor::sim
