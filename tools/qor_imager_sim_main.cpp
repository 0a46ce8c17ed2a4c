// qor-imager-sim: simulated imagers on pseudo-terminals for demos, benchmarks
// and trying the updater by hand.

#include <signal.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "tools/imager_sim.h"
#include "tools/imager_sim_cli.h"
#include "tools/imager_sim_link.h"
#include "tools/imager_sim_self_check.h"
#include "tools/imager_sim_stats.h"

namespace {

int serve(const qor::sim::CliConfig& config) {
    // Blocked before any imager thread exists, so that every thread inherits
    // the mask and the signals reach only the sigwait below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::vector<std::unique_ptr<qor::sim::ImagerSimulator>> imagers;
    std::vector<std::unique_ptr<qor::sim::PortLink>> links;
    for (unsigned i = 0; i < config.count; ++i) {
        auto imager = std::make_unique<qor::sim::ImagerSimulator>(config.options);
        if (!imager->start()) {
            std::cerr << "qor-imager-sim: no pseudo-terminal: " << std::strerror(imager->error())
                      << "\n";
            return 1;
        }
        if (!config.link.empty()) {
            auto link = std::make_unique<qor::sim::PortLink>(
                qor::sim::linkPathFor(config.link, config.count, i), imager->portPath());
            if (!link->valid()) {
                std::cerr << "qor-imager-sim: cannot link " << link->path() << ": "
                          << std::strerror(link->error()) << "\n";
                return 1;
            }
            links.push_back(std::move(link));
        }
        imagers.push_back(std::move(imager));
    }
    for (const auto& imager : imagers) {
        std::cout << imager->portPath() << "\n";
    }
    std::cout.flush();

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    for (const auto& imager : imagers) {
        imager->stop();
    }
    if (!config.stats.empty()) {
        std::ofstream out(config.stats, std::ios::trunc);
        for (unsigned i = 0; i < imagers.size(); ++i) {
            out << qor::sim::formatStats(
                       qor::sim::statsOf(i, imagers[i]->portPath(), imagers[i]->record()))
                << "\n";
        }
        if (!out.flush()) {
            std::cerr << "qor-imager-sim: cannot write " << config.stats << "\n";
            return 1;
        }
    }
    return 0;  // the links go as the vectors unwind
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
