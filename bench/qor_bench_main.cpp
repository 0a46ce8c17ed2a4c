// qor-bench: what an update costs against the wire. Runs whole updates of
// simulated imagers by the updater program and prints one table; see
// scripts/bench.sh.

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/stats_math.h"
#include "bench/update_run.h"
#include "bench/usb_count_bench.h"
#include "tools/testkit/child_process.h"

namespace {

using qor::bench::CountCost;
using qor::bench::percentile;
using qor::bench::RunConfig;
using qor::bench::RunResult;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

// The targets the updater is held to.
constexpr double kMaxWireRatio = 1.02;
constexpr double kMaxCpuPerDeviceS = 0.030;
constexpr double kMaxTurnaroundP99Us = 1000;
constexpr double kMaxCountUs = 100;
constexpr double kMaxCpuOverFloor = 1.1;
constexpr double kMaxScaleRatioGap = 0.01;

struct Options {
    std::string updater = QOR_BENCH_UPDATER;
    std::string simulator = QOR_BENCH_SIM;
    uint32_t baud = 921600;
    uint32_t turnaround_ms = 0;
    unsigned repeat = 1;
    bool busy_cpus = false;
    unsigned devices = 0;       // 0: every count of the parts run
    std::size_t image_kib = 0;  // 0: 256 and 1024
    // Which parts to run: "wire", "pty", "floor", "scale", "count".
    std::vector<std::string> only = {"wire", "pty", "floor", "count"};
    bool help = false;

    bool runs(std::string_view part) const {
        return std::find(only.begin(), only.end(), part) != only.end();
    }
};

const char* const kUsage = R"(Usage: qor-bench [OPTIONS]

Runs whole updates of 1 and 6 simulated USB imagers (256 KiB and 1 MiB
images) by the updater program over lines timed like a serial wire, then the
same over raw pseudo-terminals, then by a minimal host over the timed lines
(this machine's floor), times CountUsbDevices() on a sysfs tree of 8 imagers,
and prints one table with the targets met or missed (--only scale: 6 and 32
imagers at once through the updater's --watch and the floor host). Exits 0
when every target is met, 1 when one is missed, 2 when a run failed.

  --updater PATH     the updater program (default: the one built beside)
  --sim PATH         qor-imager-sim (default: the one built beside)
  --baud RATE        the wire's rate (default 921600)
  --turnaround MS    the imager's own time per block (default 0)
  --repeat N         run every update N times, the lines taking turns (one
                     run of each, then the next round); each figure is their
                     median
  --devices 1|6|32   only the runs with this many imagers
  --image 256|1024   only the runs with an image of this many KiB
  --busy-cpus        keep every CPU from idling with a spinner at the lowest
                     priority, which takes only time nobody else wants: on a
                     virtual machine whose idle CPUs halt, every wake-up then
                     costs what it would on a machine whose CPUs do not (a
                     diagnostic; the figures without it are the ones to keep)
  --only PARTS       a comma list of: wire (updates on the timed line), pty
                     (on raw ptys), floor (a minimal host on the timed line:
                     what this machine allows any updater), scale (6 and 32
                     imagers at once through the updater's --watch and the
                     floor host, 1 MiB on the timed line; not run unless
                     named), count
  --help             this text
)";

std::optional<uint32_t> number(std::string_view text) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--busy-cpus") {
            options.busy_cpus = true;
            continue;
        }
        if (i + 1 == argc) {
            std::cerr << "qor-bench: " << arg << " needs a value (or is unknown)\n";
            return false;
        }
        const std::string_view value = argv[++i];
        std::optional<uint32_t> n = number(value);
        if (arg == "--updater") {
            options.updater = value;
        } else if (arg == "--sim") {
            options.simulator = value;
        } else if (arg == "--baud" && n && *n > 0) {
            options.baud = *n;
        } else if (arg == "--turnaround" && n) {
            options.turnaround_ms = *n;
        } else if (arg == "--repeat" && n && *n > 0) {
            options.repeat = *n;
        } else if (arg == "--devices" && n && (*n == 1 || *n == 6 || *n == 32)) {
            options.devices = *n;
        } else if (arg == "--image" && n && (*n == 256 || *n == 1024)) {
            options.image_kib = *n;
        } else if (arg == "--only" && !value.empty()) {
            options.only.clear();
            for (std::string_view rest = value; !rest.empty();) {
                const std::size_t comma = rest.find(',');
                options.only.emplace_back(rest.substr(0, comma));
                rest =
                    comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        } else {
            std::cerr << "qor-bench: bad option " << arg << " " << value << "\n";
            return false;
        }
    }
    return true;
}

std::string readFirstLine(const char* path, std::string_view prefix = {}) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(prefix)) {
            return line;
        }
    }
    return {};
}

std::string cpuModel() {
    const std::string line = readFirstLine("/proc/cpuinfo", "model name");
    const auto colon = line.find(':');
    return colon == std::string::npos ? "unknown CPU" : line.substr(colon + 2);
}

std::string loadAverage() {
    const std::string line = readFirstLine("/proc/loadavg");
    // "0.52 0.58 0.59 1/123 4567": the three averages.
    std::size_t end = 0;
    for (int field = 0; field < 3 && end != std::string::npos; ++field) {
        end = line.find(' ', end + 1);
    }
    return line.substr(0, end);
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

std::string sizeText(std::size_t bytes) {
    return bytes >= kMiB ? std::to_string(bytes / kMiB) + " MiB"
                         : std::to_string(bytes / kKiB) + " KiB";
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// One run's figures.
struct Measured {
    RunConfig config;
    RunResult result;

    double wallS() const { return result.wall_s; }
    double boundS() const { return result.wire_bound_s; }
    double ratio() const {
        return result.wire_bound_s > 0 ? result.wall_s / result.wire_bound_s : 0;
    }
    double cpuS() const { return result.user_s + result.system_s; }
    double cpuPerDeviceS() const { return cpuS() / config.devices; }
    double simLateS() const { return result.sim_late_s; }
    std::vector<uint32_t> turnarounds() const {
        std::vector<uint32_t> all;
        for (const auto& imager : result.imagers) {
            all.insert(all.end(), imager.turnaround_us.begin(), imager.turnaround_us.end());
        }
        return all;
    }
    double turnaroundP50() const { return percentile(turnarounds(), 50); }
    double turnaroundP99() const { return percentile(turnarounds(), 99); }
    double blocksPerSecond() const {
        double sum = 0;
        for (const auto& imager : result.imagers) {
            sum += imager.image_us > 0
                       ? imager.blocks / (static_cast<double>(imager.image_us) / 1e6)
                       : 0;
        }
        return result.imagers.empty() ? 0 : sum / result.imagers.size();
    }
};

// The runs of one line of the table; each figure shown is the median of its
// runs' figures, so one run disturbed by the machine does not make the line.
struct Row {
    RunConfig config;
    std::vector<Measured> runs;

    double median(double (Measured::*figure)() const) const {
        std::vector<double> values;
        for (const Measured& run : runs) {
            values.push_back((run.*figure)());
        }
        return percentile(values, 50);
    }
};

const char* hostName(const RunConfig& config) {
    return config.host == RunConfig::Host::kReference ? "floor"
           : config.watch                             ? "watch"
                                                      : "updater";
}

// Every line's runs, the lines taking turns, so that a stretch of load on
// the machine falls on all of them alike. False when a run failed.
bool measure(std::vector<Row>& rows, unsigned repeat) {
    for (unsigned round = 0; round < repeat; ++round) {
        for (Row& row : rows) {
            const RunConfig& config = row.config;
            std::fprintf(stderr, "qor-bench: round %u, %s, %u x %s %s...\n", round + 1,
                         hostName(config), config.devices, sizeText(config.image_bytes).c_str(),
                         config.wire_baud ? "on the timed line" : "on raw ptys");
            Measured run{config, qor::bench::runUpdate(config)};
            if (!run.result.ok) {
                std::cerr << "qor-bench: " << config.devices << " x "
                          << sizeText(config.image_bytes)
                          << (config.wire_baud ? " on the timed line" : " on raw ptys") << ": "
                          << run.result.error << "\n";
                return false;
            }
            row.runs.push_back(std::move(run));
        }
    }
    return true;
}

constexpr const char* kRowFormat = "%-8s %-8s %4s %8s %8s %8s %6s %7s %9s %8s %8s %9s %9s\n";

void printRow(const Row& row) {
    const bool wire = row.config.wire_baud != 0;
    const auto figure = [&](double (Measured::*f)() const, int decimals) {
        return fixed(row.median(f), decimals);
    };
    std::printf(
        kRowFormat, hostName(row.config),
        wire ? std::to_string(row.config.wire_baud).c_str() : "raw pty",
        std::to_string(row.config.devices).c_str(), sizeText(row.config.image_bytes).c_str(),
        figure(&Measured::wallS, 3).c_str(), wire ? figure(&Measured::boundS, 3).c_str() : "-",
        wire ? figure(&Measured::ratio, 4).c_str() : "-", figure(&Measured::cpuS, 3).c_str(),
        figure(&Measured::cpuPerDeviceS, 4).c_str(), figure(&Measured::turnaroundP50, 0).c_str(),
        figure(&Measured::turnaroundP99, 0).c_str(),
        wire ? figure(&Measured::simLateS, 3).c_str() : "-",
        wire ? "-" : figure(&Measured::blocksPerSecond, 0).c_str());
}

// A target's verdict on the updater's row, and when it is missed, the same
// figure of the floor host on the same line: a target that even the floor
// misses is out of this machine's reach, whatever the updater does.
struct Verdicts {
    bool all_met = true;

    void report(const std::string& what, double figure, double limit, std::optional<double> floor,
                int decimals, const char* unit) {
        const bool met = figure <= limit;
        all_met = all_met && met;
        std::printf("  %-7s %s: %s%s", met ? "met" : "MISSED", what.c_str(),
                    fixed(figure, decimals).c_str(), unit);
        if (!met && floor) {
            std::printf(*floor <= limit ? "; the floor host meets it (%s%s)"
                                        : "; the floor host misses it too (%s%s): out of this "
                                          "machine's reach",
                        fixed(*floor, decimals).c_str(), unit);
        }
        std::printf("\n");
    }
};

// The floor host's row for the same imagers, image and line.
const Row* floorFor(const std::vector<Row>& rows, const Row& row) {
    for (const Row& candidate : rows) {
        if (candidate.config.host == RunConfig::Host::kReference &&
            candidate.config.devices == row.config.devices &&
            candidate.config.image_bytes == row.config.image_bytes &&
            candidate.config.wire_baud == row.config.wire_baud) {
            return &candidate;
        }
    }
    return nullptr;
}

// The station's row (--watch) for `devices` imagers of 1 MiB on the timed line.
const Row* watchRow(const std::vector<Row>& rows, unsigned devices) {
    for (const Row& row : rows) {
        if (row.config.watch && row.config.devices == devices && row.config.wire_baud != 0 &&
            row.config.image_bytes == kMiB) {
            return &row;
        }
    }
    return nullptr;
}

// One process per CPU that spins at the idle scheduling class, which runs
// only when nothing else wants the CPU.
std::vector<std::unique_ptr<qor::harness::ChildProcess>> startSpinners() {
    std::vector<std::unique_ptr<qor::harness::ChildProcess>> spinners;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
        auto spinner = std::make_unique<qor::harness::ChildProcess>([] {
            // Never outlive the benchmark, however it ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const sched_param idle{};
            if (sched_setscheduler(0, SCHED_IDLE, &idle) != 0) {
                setpriority(PRIO_PROCESS, 0, 19);
            }
            volatile uint64_t turns = 0;
            for (;;) {
                turns = turns + 1;
            }
            return 0;
        });
        if (spinner->started()) {
            spinners.push_back(std::move(spinner));
        }
    }
    return spinners;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        return 2;
    }
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }

    const std::string load_before = loadAverage();
    std::vector<std::unique_ptr<qor::harness::ChildProcess>> spinners;
    if (options.busy_cpus) {
        spinners = startSpinners();
    }
    using Host = RunConfig::Host;
    struct Plan {
        const char* part;
        Host host;
        unsigned devices;
        std::size_t bytes;
        bool watch = false;
    };
    const Plan plans[] = {
        {"wire", Host::kUpdater, 1, 256 * kKiB},  {"wire", Host::kUpdater, 1, kMiB},
        {"wire", Host::kUpdater, 6, 256 * kKiB},  {"wire", Host::kUpdater, 6, kMiB},
        {"pty", Host::kUpdater, 1, kMiB},         {"pty", Host::kUpdater, 6, kMiB},
        {"floor", Host::kReference, 1, kMiB},     {"floor", Host::kReference, 6, kMiB},
        {"scale", Host::kUpdater, 6, kMiB, true}, {"scale", Host::kUpdater, 32, kMiB, true},
        {"scale", Host::kReference, 6, kMiB},     {"scale", Host::kReference, 32, kMiB},
    };
    std::vector<Row> rows;
    for (const Plan& plan : plans) {
        if (!options.runs(plan.part) || (options.devices && plan.devices != options.devices) ||
            (options.image_kib && plan.bytes != options.image_kib * kKiB)) {
            continue;
        }
        RunConfig config;
        config.host = plan.host;
        config.watch = plan.watch;
        config.updater = options.updater;
        config.simulator = options.simulator;
        config.devices = plan.devices;
        config.image_bytes = plan.bytes;
        config.wire_baud = std::string_view(plan.part) == "pty" ? 0 : options.baud;
        config.turnaround_ms = options.turnaround_ms;
        if (config.host == Host::kUpdater && config.updater.empty()) {
            std::cerr
                << "qor-bench: no updater program: build qor-flash or name one with --updater\n";
            return 2;
        }
        const bool planned = std::any_of(rows.begin(), rows.end(), [&](const Row& row) {
            return row.config.host == config.host && row.config.watch == config.watch &&
                   row.config.devices == config.devices &&
                   row.config.image_bytes == config.image_bytes &&
                   row.config.wire_baud == config.wire_baud;
        });
        if (!planned) {
            rows.push_back(Row{config, {}});
        }
    }
    if (!measure(rows, options.repeat)) {
        return 2;
    }
    std::vector<CountCost> counts;
    if (options.runs("count")) {
        counts.push_back(qor::bench::measureCountUsbDevices(8, 0, 2000));
        counts.push_back(qor::bench::measureCountUsbDevices(8, 60, 2000));
    }
    for (const CountCost& c : counts) {
        if (!c.ok) {
            std::cerr << "qor-bench: " << c.error << "\n";
            return 2;
        }
    }
    const std::string load_after = loadAverage();
    spinners.clear();

    std::printf("Qor updater benchmark, %s\n", today().c_str());
    std::printf("machine: %s, %u cores; load average %s before, %s after\n", cpuModel().c_str(),
                std::thread::hardware_concurrency(), load_before.c_str(), load_after.c_str());
    std::printf(
        "imager turnaround %u ms per block; %u run(s) per line, each figure their median\n\n",
        options.turnaround_ms, options.repeat);
    std::printf(kRowFormat, "host", "line", "devs", "image", "wall s", "bound s", "ratio", "cpu s",
                "cpu/dev s", "turn p50", "turn p99", "sim late", "blocks/s");
    std::printf(kRowFormat, "", "", "", "", "", "", "", "", "", "us", "us", "s", "per dev");
    for (const Row& row : rows) {
        printRow(row);
    }
    std::printf(
        "\nbound: every byte both ways at 10 bits at the line rate, the 250 ms after the marker\n"
        "       and the imager's own time: its turnaround and the simulator's own delays in\n"
        "       answering (sim late, for the slowest imager), which a real line does not have\n"
        "turn:  the host's turnaround, from the last byte of an answer to the first byte the\n"
        "       host sends next, as the simulator sees it (its own wake-up included)\n"
        "floor: a minimal host (a thread per imager, one poll, read and write per block):\n"
        "       the least any updater can take and cost on this machine\n");
    for (const CountCost& c : counts) {
        std::printf(
            "\nCountUsbDevices(), %u imagers%s: median %s us, mean %s us, p99 %s us (%u calls)",
            c.imagers, c.others ? (" + " + std::to_string(c.others) + " consoles").c_str() : "",
            fixed(c.median_us, 1).c_str(), fixed(c.mean_us, 1).c_str(), fixed(c.p99_us, 1).c_str(),
            c.calls);
    }
    std::printf("\n\nTargets (the updater's rows):\n");

    Verdicts verdicts;
    for (const Row& row : rows) {
        if (row.config.host != Host::kUpdater || row.config.wire_baud == 0 ||
            row.config.image_bytes != kMiB) {
            continue;
        }
        const Row* floor = floorFor(rows, row);
        const auto floorFigure = [&](double (Measured::*f)() const) -> std::optional<double> {
            return floor ? std::optional<double>(floor->median(f)) : std::nullopt;
        };
        const std::string devices = std::to_string(row.config.devices) + " device(s)";
        verdicts.report("wall / wire bound <= " + fixed(kMaxWireRatio, 2) + ", " + devices +
                            ", 1 MiB at " + std::to_string(row.config.wire_baud),
                        row.median(&Measured::ratio), kMaxWireRatio, floorFigure(&Measured::ratio),
                        4, "");
        verdicts.report(
            "CPU <= " + fixed(kMaxCpuPerDeviceS, 3) + " s per device, " + devices + ", 1 MiB",
            row.median(&Measured::cpuPerDeviceS), kMaxCpuPerDeviceS,
            floorFigure(&Measured::cpuPerDeviceS), 4, " s");
        if (row.config.devices == 6) {
            verdicts.report("turnaround p99 <= 1 ms, 6 devices",
                            row.median(&Measured::turnaroundP99), kMaxTurnaroundP99Us,
                            floorFigure(&Measured::turnaroundP99), 0, " us");
        }
        if (floor) {
            verdicts.report(std::string("CPU <= ") + fixed(kMaxCpuOverFloor, 1) +
                                " x the floor host's, " + hostName(row.config) + ", " + devices,
                            row.median(&Measured::cpuS) / floor->median(&Measured::cpuS),
                            kMaxCpuOverFloor, std::nullopt, 3, " x");
        }
    }
    // The station at 32 imagers against itself at 6: as close to the wire,
    // and no dearer per imager.
    const Row* six = watchRow(rows, 6);
    const Row* many = watchRow(rows, 32);
    if (six && many) {
        const double sixRatio = six->median(&Measured::ratio);
        verdicts.report("wall / wire bound, 32 devices, within " + fixed(kMaxScaleRatioGap, 2) +
                            " of 6 devices' " + fixed(sixRatio, 4),
                        many->median(&Measured::ratio), sixRatio + kMaxScaleRatioGap, std::nullopt,
                        4, "");
        verdicts.report("CPU per device, 32 devices, no higher than 6 devices' " +
                            fixed(six->median(&Measured::cpuPerDeviceS), 4) + " s",
                        many->median(&Measured::cpuPerDeviceS),
                        six->median(&Measured::cpuPerDeviceS), std::nullopt, 4, " s");
    }
    if (!counts.empty()) {
        verdicts.report("CountUsbDevices() <= 100 us, 8 imagers (median)", counts.front().median_us,
                        kMaxCountUs, std::nullopt, 1, " us");
    }
    return verdicts.all_met ? 0 : 1;
}
