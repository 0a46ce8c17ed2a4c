// qor-imager-sim: simulated imagers on pseudo-terminals for demos, benchmarks
// and trying the updater by hand.

#include <signal.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string_view>
#include <vector>

#include "tools/imager_sim/cli.h"
#include "tools/imager_sim/control.h"
#include "tools/imager_sim/rack.h"
#include "tools/imager_sim/self_check.h"
#include "tools/imager_sim/simulator.h"
#include "tools/imager_sim/stats.h"

namespace {

int serve(const qor::sim::CliConfig& config) {
    // Blocked before any imager thread exists, so that every thread inherits
    // the mask and the signals reach only the sigwait below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    qor::sim::ImagerRack rack({config.options, config.count, config.link, config.sysfs});
    for (unsigned i = 0; i < config.count; ++i) {
        std::string error;
        if (!rack.plug(i, error)) {
            std::cerr << "qor-imager-sim: " << error << "\n";
            return 1;
        }
    }
    for (unsigned i = 0; i < config.count; ++i) {
        std::cout << rack.imager(i)->portPath() << "\n";
    }
    std::cout.flush();

    if (config.control.empty()) {
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
    } else if (qor::sim::followControl(config.control, stop_signals, rack, std::cout, std::cerr) <
               0) {
        return 1;
    }
    // Figures of the imagers plugged in at the end; each is stopped first so
    // that its record is complete.
    for (unsigned i = 0; i < config.count; ++i) {
        if (auto* imager = rack.imager(i)) {
            imager->stop();
        }
    }
    if (!config.stats.empty()) {
        std::ofstream out(config.stats, std::ios::trunc);
        for (unsigned i = 0; i < config.count; ++i) {
            if (const auto* imager = rack.imager(i)) {
                out << qor::sim::formatStats(
                           qor::sim::statsOf(i, imager->portPath(), imager->record()))
                    << "\n";
            }
        }
        if (!out.flush()) {
            std::cerr << "qor-imager-sim: cannot write " << config.stats << "\n";
            return 1;
        }
    }
    return 0;  // the links and sysfs entries go as the rack unwinds
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const qor::sim::CliParse parsed = qor::sim::parseCommandLine(args);
    if (!parsed.ok) {
        std::cerr << "qor-imager-sim: " << parsed.error << "\nTry 'qor-imager-sim --help'.\n";
        return 2;
    }
    if (parsed.config.help) {
        std::cout << qor::sim::usageText();
        return 0;
    }
    if (parsed.config.self_check) {
        const qor::sim::SelfCheckResult result = qor::sim::runSelfCheck();
        std::cout << result.line << std::endl;
        return result.passed ? 0 : 1;
    }
    return serve(parsed.config);
}
