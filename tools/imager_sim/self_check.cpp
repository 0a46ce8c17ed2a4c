#include "tools/imager_sim/self_check.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "tools/imager_sim/host.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/sample_image.h"

namespace qor::sim {

namespace {

constexpr uint32_t kReplyWaitMs = 1000;
constexpr uint32_t kImageSize = 2048;

SelfCheckResult failed(std::string_view what) {
    return {false, "qor-imager-sim self-check FAILED: " + std::string(what)};
}

}  // namespace

SelfCheckResult runSelfCheck() {
    ImagerOptions options;
    options.check_time_ms = 20;
    options.write_time_ms = 20;
    ImagerSimulator imager(options);
    if (!imager.start()) {
        return failed("no pseudo-terminal could be opened");
    }
    PlainHost host;
    if (!host.open(imager.portPath(), 921600)) {
        return failed("the simulated port " + imager.portPath() + " could not be opened");
    }

    const std::vector<uint8_t> image = sampleImage(kImageSize);
    const std::vector<uint8_t> header = headerFor(image);
    const std::span<const uint8_t> first(image.data(), 1024);
    const std::span<const uint8_t> second(image.data() + 1024, 1024);

    host.write("%QOR%");
    host.write("*probe");
    if (host.readUntil("*echo", kReplyWaitMs) != "*echo") {
        return failed("the probe was not answered with *echo");
    }
    host.write(header);
    if (host.readUntil("*echo", kReplyWaitMs) != "*echo") {
        return failed("the header was not answered with *echo");
    }
    host.write(first);
    if (host.readUntil("*echo", kReplyWaitMs) != "*echo") {
        return failed("block 1 was not answered with *echo");
    }
    host.write(second);
    if (host.readUntil("*update*ack", kReplyWaitMs) != "*echo*ack*update*ack") {
        return failed("the last block was not followed by *echo, *ack, *update, *ack");
    }

    std::vector<uint8_t> wire_bytes = {'%', 'Q', 'O', 'R', '%', '*', 'p', 'r', 'o', 'b', 'e'};
    wire_bytes.insert(wire_bytes.end(), header.begin(), header.end());
    wire_bytes.insert(wire_bytes.end(), image.begin(), image.end());
    const ImagerRecord record = imager.record();
    if (record.received != wire_bytes || !record.run.probe_seen || record.run.header != header ||
        record.run.image_length != kImageSize || record.run.image != image ||
        !record.run.completed) {
        return failed("the imager's record differs from what was sent");
    }
    return {true,
            "qor-imager-sim self-check passed: marker, probe, header and 2 blocks answered, "
            "then *ack, *update, *ack"};
}

}  // namespace qor::sim
