// qor-flash: the updater for scripts and production lines. The same checks,
// workers and wire bytes as the window, followed through their device events.

#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "app/flash/command.h"
#include "app/flash/device_board.h"
#include "app/flash/dialog.h"
#include "app/flash/interrupt.h"
#include "app/flash/options.h"
#include "app/flash/platform.h"
#include "app/flash/progress/renderers.h"
#include "app/flash/report_sink.h"
#include "app/flash/services.h"
#include "app/flash/station/watch.h"
#include "app/flash/stop_control.h"
#include "app/flash/texts.h"
#include "text/ui_language.h"
#include "update/image_path.h"

int main(int argc, char** argv) {
    using namespace qor;

    const std::vector<std::string> arguments = commandLineArguments(argc, argv);
    const std::vector<std::string_view> views(arguments.begin(), arguments.end());
    const FlashOptionsParse parsed = parseFlashOptions(views);
    if (!parsed.ok) {
        std::cerr << "qor-flash: " << parsed.error
                  << "\nTry 'qor-flash --help' for more information.\n";
        return flash_exit::kUsage;
    }
    const FlashOptions& options = parsed.options;
    if (options.mode == FlashOptions::Mode::Help) {
        std::cout << flashUsageText();
        return 0;
    }
    if (options.mode == FlashOptions::Mode::Version) {
        std::cout << flashVersionText();
        return 0;
    }

    prepareProcess();
    const uint16_t language = options.language.value_or(userDefaultUiLanguage());
    ConsoleInterrupt interrupt(console_text::secondInterrupt(language));
    if (options.mode == FlashOptions::Mode::Watch) {
        const std::unique_ptr<RegistryReader> registry = openSystemRegistry();
        StationContext station{interrupt, *registry, std::cout, std::cerr, language};
        return runStationWatch(options, station);
    }
    StopControl stop(interrupt);

    SteadyClock drawClock;
    std::unique_ptr<ProgressSink> sink;
    if (options.json) {
        sink = makeJsonRenderer(std::cout, std::cerr, options.quiet);
    } else if (!options.quiet && stdoutIsTerminal()) {
        sink = makeTerminalRenderer(std::cout, std::cerr, drawClock, language);
    } else {
        sink = makePlainRenderer(std::cout, std::cerr, options.quiet, language);
    }

    std::unique_ptr<ReportSink> report;
    if (!options.report.empty()) {
        report =
            std::make_unique<ReportSink>(*sink, imagePathFromUtf8(options.report), options.report);
    }

    DeviceBoard board(report ? *report : *sink, stop, language);
    ConsoleServices services(stop);
    RunState state;
    state.UiLanguage = language;
    ConsoleDialog dialog(board, state, services, interrupt,
                         options.mode != FlashOptions::Mode::Port, options.portName);

    FlashContext context{state,     dialog,    services,     board,
                         interrupt, std::cout, options.json, report.get()};
    return runFlashCommand(options, context);
}
