#include "bench/update_run.h"

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "base/clock.h"
#include "bench/reference_host.h"
#include "bench/work_dir.h"
#include "tools/testkit/child_process.h"
#include "tools/testkit/sample_image.h"

namespace qor::bench {

namespace fs = std::filesystem;
using harness::ChildProcess;
using harness::ProgramResult;

namespace {

// The updater waits this long between the marker and the probe; no line
// can take it back.
constexpr double kMarkerPauseS = 0.250;
// Starting the simulators and reading their ports takes milliseconds; this
// only ends a run whose simulator hangs.
constexpr std::chrono::milliseconds kSimStartTimeout{10000};

RunResult failed(std::string error) {
    RunResult result;
    result.error = std::move(error);
    return result;
}

bool writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The last lines of a log, for a failure message.
std::string tailOf(const std::string& text) {
    constexpr std::size_t kTail = 600;
    return text.size() <= kTail ? text : "..." + text.substr(text.size() - kTail);
}

std::vector<std::string> updaterArgs(const RunConfig& config, const std::string& image) {
    if (!config.watch) {
        return {"--usb", "--quiet", image};
    }
    const std::string devices = std::to_string(config.devices);
    return {"--watch", "--max-devices", devices, "--count", devices, "--quiet", image};
}

}  // namespace

double lateSeconds(const sim::ImagerStats& imager) {
    uint64_t late_us = 0;
    for (const uint32_t late : imager.late_us) {
        late_us += late;
    }
    return static_cast<double>(late_us) / 1e6;
}

double wireBoundSeconds(const sim::ImagerStats& imager, uint32_t baud) {
    const double bytes = static_cast<double>(imager.received + imager.sent);
    return bytes * 10.0 / baud + kMarkerPauseS + static_cast<double>(imager.pause_us) / 1e6 +
           lateSeconds(imager);
}

RunResult runUpdate(const RunConfig& config) {
    WorkDir work("qor-bench-");
    if (work.path().empty()) {
        return failed("cannot make a work folder");
    }
    const fs::path image = work.path() / "image.bin";
    const fs::path ports = work.path() / "ports";
    const fs::path sysfs = work.path() / "sysfs";
    const fs::path stats = work.path() / "stats.txt";
    const fs::path log = work.path() / "updater.log";
    std::error_code error;
    fs::create_directories(ports, error);
    if (error || !writeFile(image, sim::sampleImage(config.image_bytes)) ||
        !addSysfsImagers(sysfs, config.devices)) {
        return failed("cannot lay out the work folder " + work.path().string());
    }

    std::vector<std::string> sim_args = {config.simulator,
                                         "--count",
                                         std::to_string(config.devices),
                                         "--link",
                                         (ports / "ttyACM0").string(),
                                         "--stats",
                                         stats.string()};
    if (config.wire_baud != 0) {
        sim_args.insert(sim_args.end(), {"--wire-baud", std::to_string(config.wire_baud)});
    }
    if (config.turnaround_ms != 0) {
        sim_args.insert(sim_args.end(), {"--turnaround", std::to_string(config.turnaround_ms)});
    }
    ChildProcess sim(sim_args.front(), {sim_args.begin() + 1, sim_args.end()}, {});
    if (!sim.started()) {
        return failed(sim.startError());
    }
    std::vector<std::string> port_paths;
    for (unsigned i = 0; i < config.devices; ++i) {
        auto port = sim.readLine(kSimStartTimeout);
        if (!port) {
            sim.signal(SIGTERM);
            return failed("the simulator did not report its ports: " + tailOf(sim.wait().err));
        }
        port_paths.push_back(std::move(*port));
    }

    SteadyClock clock;
    const uint64_t start = clock.now_us();
    const std::vector<uint8_t> bytes = config.host == RunConfig::Host::kReference
                                           ? sim::sampleImage(config.image_bytes)
                                           : std::vector<uint8_t>();
    const auto updater =
        config.host == RunConfig::Host::kReference
            ? std::make_unique<ChildProcess>([&] { return runReferenceHost(port_paths, bytes); })
            : std::make_unique<ChildProcess>(
                  config.updater, updaterArgs(config, image.string()),
                  ChildProcess::Environment{{"QOR_SYSFS_ROOT", sysfs.string()},
                                            {"QOR_PORT_DIR", ports.string()}},
                  log.string());
    if (!updater->started()) {
        return failed(updater->startError());
    }
    const ProgramResult done = updater->wait();
    const uint64_t end = clock.now_us();

    sim.signal(SIGTERM);
    const ProgramResult sim_done = sim.wait();

    if (done.exitCode != 0) {
        return failed("the updater " +
                      (done.signal != 0 ? "died of signal " + std::to_string(done.signal)
                                        : "exited with " + std::to_string(done.exitCode)) +
                      ": " + tailOf(readText(log)));
    }
    if (sim_done.exitCode != 0) {
        return failed("the simulator did not end cleanly: " + tailOf(sim_done.err));
    }
    RunResult result;
    std::istringstream lines(readText(stats));
    for (std::string line; std::getline(lines, line);) {
        auto imager = sim::parseStats(line);
        if (!imager) {
            return failed("unreadable simulator figures: " + line);
        }
        if (!imager->completed || imager->blocks != config.image_bytes / 1024) {
            return failed("imager " + std::to_string(imager->index) + " took " +
                          std::to_string(imager->blocks) + " blocks");
        }
        if (config.wire_baud != 0) {
            const double bound = wireBoundSeconds(*imager, config.wire_baud);
            if (bound > result.wire_bound_s) {
                result.wire_bound_s = bound;
                result.sim_late_s = lateSeconds(*imager);
            }
        }
        result.imagers.push_back(std::move(*imager));
    }
    if (result.imagers.size() != config.devices) {
        return failed("the simulator reported " + std::to_string(result.imagers.size()) +
                      " imagers");
    }
    result.ok = true;
    result.wall_s = static_cast<double>(end - start) / 1e6;
    result.user_s = done.userSeconds;
    result.system_s = done.systemSeconds;
    return result;
}

}  // namespace qor::bench
