#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// What the command line asks of qor-flash.
struct FlashOptions {
    enum class Mode {
        Usb,    // every attached USB imager
        Port,   // one RS-232 imager on a named port, after the connect handshake
        List,   // print the attached imagers
        Watch,  // update every imager as it is plugged in, until stopped
        Help,
        Version,
    };
    Mode mode = Mode::Usb;
    std::string portName;  // --port NAME
    std::string image;     // the firmware image, UTF-8
    // --lang: the language id that replaces the environment's; none when not given.
    std::optional<uint16_t> language;
    // --instance: the USB imagers to take (--usb, --list, --watch), by their
    // instance, each once; empty: every one.
    std::vector<std::string> instances;
    bool quiet = false;
    bool json = false;
    // --watch only: imagers updated at once, and imagers to finish before the
    // watch ends (0: no end but Ctrl-C).
    int maxDevices = 6;
    int count = 0;
    // The CSV report to append a record of each device to; none when empty.
    std::string report;
};

// The most imagers a watch updates at once.
inline constexpr int kMaxWatchDevices = 32;

struct FlashOptionsParse {
    bool ok = false;
    FlashOptions options;
    std::string error;  // why not, when not ok: one line for standard error
};

// `args` without the program's name. GNU conventions: long options take
// their value as the next argument or after '=' ("--port COM3",
// "--port=COM3"); "--" ends the options; "-h", "-q" and "-V" are the short
// forms of --help, --quiet and --version.
FlashOptionsParse parseFlashOptions(std::span<const std::string_view> args);

// The long options the parser takes, without their dashes.
std::vector<std::string_view> flashLongOptionNames();

std::string flashUsageText();
std::string flashVersionText();

}  // namespace qor
