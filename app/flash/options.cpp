#include "app/flash/options.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "text/ui_language.h"

#ifndef QOR_VERSION
#define QOR_VERSION "0"
#endif

namespace qor {

namespace {

struct LongOption {
    std::string_view name;
    bool takesValue;
};

// Every long option the parser takes; the manual page and --help must name
// each (a test holds them to it).
constexpr LongOption kLongOptions[] = {
    {"usb", false},     {"port", true},        {"list", false}, {"watch", false},
    {"instance", true}, {"max-devices", true}, {"count", true}, {"report", true},
    {"lang", true},     {"quiet", false},      {"json", false}, {"help", false},
    {"version", false},
};

const LongOption* findLongOption(std::string_view name) {
    for (const LongOption& option : kLongOptions) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

struct Parser {
    FlashOptionsParse result;
    std::vector<std::string_view> operands;
    bool usbGiven = false;
    bool portGiven = false;
    bool instanceGiven = false;
    bool listGiven = false;
    bool watchGiven = false;
    bool watchValueGiven = false;  // --max-devices or --count
    bool reportGiven = false;
    bool helpGiven = false;
    bool versionGiven = false;

    bool fail(std::string error) {
        if (result.error.empty()) {
            result.error = std::move(error);
        }
        return false;
    }

    // A long option that takes no value, known to be one of kLongOptions.
    void flag(std::string_view name) {
        FlashOptions& options = result.options;
        if (name == "usb") {
            usbGiven = true;
        } else if (name == "list") {
            listGiven = true;
        } else if (name == "watch") {
            watchGiven = true;
        } else if (name == "quiet") {
            options.quiet = true;
        } else if (name == "json") {
            options.json = true;
        } else if (name == "help") {
            helpGiven = true;
        } else if (name == "version") {
            versionGiven = true;
        }
    }

    bool valued(std::string_view name, std::string_view value) {
        FlashOptions& options = result.options;
        if (name == "port") {
            if (value.empty()) {
                return fail("option '--port' needs a port name");
            }
            portGiven = true;
            options.portName = std::string(value);
            return true;
        }
        if (name == "instance") {
            return instances(value);
        }
        if (name == "max-devices" || name == "count") {
            int number = 0;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), number);
            const int most = name == "count" ? 1000000 : kMaxWatchDevices;
            if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                number < 1 || number > most) {
                return fail("invalid argument '" + std::string(value) + "' for '--" +
                            std::string(name) + "' (1 to " + std::to_string(most) + ")");
            }
            (name == "count" ? options.count : options.maxDevices) = number;
            watchValueGiven = true;
            return true;
        }
        if (name == "report") {
            if (value.empty()) {
                return fail("option '--report' needs a file name");
            }
            options.report = std::string(value);
            reportGiven = true;
            return true;
        }
        // name == "lang"
        if (value == "en") {
            options.language = kUiLanguageEnglish;
        } else if (value == "zh") {
            options.language = kUiLanguageChinese;
        } else {
            return fail("invalid argument '" + std::string(value) +
                        "' for '--lang' (valid: en, zh)");
        }
        return true;
    }

    // One --instance: a name, or names separated by commas.
    bool instances(std::string_view value) {
        std::vector<std::string>& named = result.options.instances;
        for (size_t start = 0;;) {
            const size_t comma = value.find(',', start);
            const std::string_view name = value.substr(start, comma - start);
            if (name.empty()) {
                return fail("option '--instance' needs an instance for each name in '" +
                            std::string(value) + "'");
            }
            if (std::find(named.begin(), named.end(), name) == named.end()) {
                named.emplace_back(name);
            }
            if (comma == std::string_view::npos) {
                break;
            }
            start = comma + 1;
        }
        instanceGiven = true;
        return true;
    }

    // "--name", "--name=value" or "--name value"; `index` moves past a value
    // taken from the next argument.
    bool longOption(std::span<const std::string_view> args, size_t& index) {
        const std::string_view arg = args[index].substr(2);
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const LongOption* option = findLongOption(name);
        if (option == nullptr) {
            return fail("unrecognized option '--" + std::string(name) + "'");
        }
        if (option->takesValue) {
            if (equals != std::string_view::npos) {
                return valued(name, arg.substr(equals + 1));
            }
            if (index + 1 >= args.size()) {
                return fail("option '--" + std::string(name) + "' requires an argument");
            }
            return valued(name, args[++index]);
        }
        flag(name);
        if (equals != std::string_view::npos) {
            return fail("option '--" + std::string(name) + "' doesn't allow an argument");
        }
        return true;
    }

    // A cluster of short flags, "-q" or "-qV".
    bool shortOptions(std::string_view arg) {
        for (const char c : arg.substr(1)) {
            const std::string_view name = c == 'h'   ? "help"
                                          : c == 'q' ? "quiet"
                                          : c == 'V' ? "version"
                                                     : "";
            if (name.empty()) {
                return fail(std::string("invalid option -- '") + c + "'");
            }
            flag(name);
        }
        return true;
    }

    bool modeAndOperands() {
        FlashOptions& options = result.options;
        if (helpGiven) {
            options.mode = FlashOptions::Mode::Help;
            return true;
        }
        if (versionGiven) {
            options.mode = FlashOptions::Mode::Version;
            return true;
        }
        if (usbGiven && portGiven) {
            return fail("'--usb' and '--port' exclude each other");
        }
        if (instanceGiven && portGiven) {
            return fail("'--port' and '--instance' exclude each other");
        }
        if (watchValueGiven && !watchGiven) {
            return fail("'--max-devices' and '--count' go with '--watch'");
        }
        if (watchGiven && (usbGiven || portGiven || listGiven)) {
            return fail("'--watch' takes neither '--usb', '--port' nor '--list'");
        }
        if (listGiven) {
            if (usbGiven || portGiven) {
                return fail("'--list' takes neither '--usb' nor '--port'");
            }
            if (reportGiven) {
                return fail("'--list' updates nothing to report: it takes no '--report'");
            }
            if (!operands.empty()) {
                return fail("extra operand '" + std::string(operands.front()) + "'");
            }
            options.mode = FlashOptions::Mode::List;
            return true;
        }
        if (operands.empty()) {
            return fail("missing IMAGE operand");
        }
        if (operands.size() > 1) {
            return fail("extra operand '" + std::string(operands[1]) + "'");
        }
        options.image = std::string(operands.front());
        options.mode = watchGiven  ? FlashOptions::Mode::Watch
                       : portGiven ? FlashOptions::Mode::Port
                                   : FlashOptions::Mode::Usb;
        return true;
    }
};

}  // namespace

FlashOptionsParse parseFlashOptions(std::span<const std::string_view> args) {
    Parser parser;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parser.operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg[1] == '-') {
            parser.longOption(args, i);
        } else {
            parser.shortOptions(arg);
        }
    }
    if (parser.result.error.empty() && parser.modeAndOperands()) {
        parser.result.ok = true;
    }
    return parser.result;
}

std::vector<std::string_view> flashLongOptionNames() {
    std::vector<std::string_view> names;
    for (const LongOption& option : kLongOptions) {
        names.push_back(option.name);
    }
    return names;
}

std::string flashUsageText() {
    return "Usage: qor-flash [--usb] [OPTION]... IMAGE\n"
           "  or:  qor-flash --port NAME [OPTION]... IMAGE\n"
           "  or:  qor-flash --list [OPTION]...\n"
           "  or:  qor-flash --watch [OPTION]... IMAGE\n"
           "Update the firmware of barcode imagers with the firmware image IMAGE.\n"
           "\n"
           "      --usb          update every attached USB imager at once, up to six\n"
           "                       (the default)\n"
           "      --port NAME    find the RS-232 imager on port NAME (COM3, ttyUSB0, or a\n"
           "                       full device path such as /dev/ttyS0), switch it into\n"
           "                       update mode and update it\n"
           "      --list         print the port of every attached USB imager and, after a\n"
           "                       tab, its instance (serial number, or USB path without\n"
           "                       one), one imager a line\n"
           "      --watch        update every USB imager attached now or plugged in later,\n"
           "                       each once per plug-in, until Ctrl-C; one line per\n"
           "                       finished imager and a summary at the end\n"
           "      --instance ID  only the USB imager whose instance is ID (as --list\n"
           "                       prints it); repeat it, or separate IDs by commas, for\n"
           "                       more; with --usb an ID not attached ends the run before\n"
           "                       any imager is touched (not with --port)\n"
           "      --max-devices N  with --watch: update at most N at once (1 to 32,\n"
           "                       default 6); the others wait their turn\n"
           "      --count N      with --watch: end after N imagers have finished\n"
           "      --report FILE  append one CSV record per device that finished to FILE,\n"
           "                       each on the disk before the next (--usb, --port and\n"
           "                       --watch)\n"
           "      --lang en|zh   messages in English or Chinese, whatever the locale says\n"
           "  -q, --quiet        print errors only\n"
           "      --json         print one JSON object a line for every event, and a\n"
           "                       summary with each device's result at the end; each\n"
           "                       outcome has a code that is the same in every language\n"
           "  -h, --help         display this help and exit\n"
           "  -V, --version      output version information and exit\n"
           "\n"
           "Progress goes to standard output: on a terminal one line per device, redrawn\n"
           "in place; otherwise a line whenever a device enters a new phase. Errors go to\n"
           "standard error. Ctrl-C lets each device finish the block in hand, stops it with\n"
           "a message saying what state it is left in, and exits; an imager that already\n"
           "has the whole image is left to finish writing it. Ctrl-C again leaves at once.\n"
           "SIGTERM and SIGHUP (on Windows Ctrl-Break and closing the console) count as\n"
           "Ctrl-C.\n"
           "\n"
           "Exit status:\n"
           "  0    every device was updated\n"
           "  1    at least one device failed\n"
           "  2    wrong usage\n"
           "  3    the image was refused or cannot be opened\n"
           "  4    no imager found, too many imagers, an imager named by --instance not\n"
           "         attached, the ports of the imagers were not found, or the RS-232\n"
           "         imager did not answer or its port cannot be opened\n"
           "  130  interrupted (Ctrl-C)\n"
           "  143  stopped by SIGTERM, as by Ctrl-C\n"
           "  129  stopped by SIGHUP (its terminal or console was closed), as by Ctrl-C\n"
           "\n"
           "Environment: LANGUAGE, LC_ALL, LC_MESSAGES and LANG choose the language;\n"
           "QOR_PORT_DIR=DIR opens a short port name NAME as DIR/NAME.\n";
}

std::string flashVersionText() {
    return "qor-flash (Qor imager updater) " QOR_VERSION "\n";
}

}  // namespace qor
