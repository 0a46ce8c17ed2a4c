// qor-flash's option parser over arbitrary argument lists (the input split
// at NUL bytes). A parse succeeds or says why in one line; what it returns
// comes from the arguments; "--name=value" means what "--name value" means.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/flash/options.h"
#include "fuzz/fuzz_check.h"
#include "text/ui_language.h"

namespace {

using qor::FlashOptions;
using qor::fuzz::require;

bool same(const qor::FlashOptionsParse& a, const qor::FlashOptionsParse& b) {
    return a.ok == b.ok && a.error == b.error && a.options.mode == b.options.mode &&
           a.options.portName == b.options.portName && a.options.image == b.options.image &&
           a.options.language == b.options.language && a.options.quiet == b.options.quiet &&
           a.options.json == b.options.json && a.options.maxDevices == b.options.maxDevices &&
           a.options.count == b.options.count && a.options.report == b.options.report &&
           a.options.instances == b.options.instances;
}

// The options that take a value.
constexpr std::array<std::string_view, 6> kValued = {"--port",  "--lang",   "--max-devices",
                                                     "--count", "--report", "--instance"};

// Every "--name=V" of a valued option written as two arguments.
std::vector<std::string_view> splitValues(const std::vector<std::string_view>& args,
                                          std::vector<std::string>& storage) {
    std::vector<std::string_view> out;
    storage.reserve(args.size() * 2);
    bool optionsEnded = false;
    bool valueNext = false;
    for (const std::string_view arg : args) {
        if (valueNext || optionsEnded) {
            valueNext = false;
            out.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            out.push_back(arg);
            continue;
        }
        bool split = false;
        for (const std::string_view name : kValued) {
            if (arg == name) {
                valueNext = true;
            } else if (arg.size() > name.size() && arg.starts_with(name) &&
                       arg[name.size()] == '=') {
                storage.emplace_back(name);
                out.push_back(storage.back());
                storage.emplace_back(arg.substr(name.size() + 1));
                out.push_back(storage.back());
                split = true;
            }
        }
        if (!split) {
            out.push_back(arg);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> args;
    for (size_t start = 0; start <= text.size() && args.size() < 32;) {
        const size_t end = std::min(text.find('\0', start), text.size());
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (text.empty()) {
        args.clear();
    }

    const qor::FlashOptionsParse parse = qor::parseFlashOptions(args);
    require(parse.ok == parse.error.empty(), "an error exactly when the parse fails");
    const bool newlineGiven = text.find('\n') != std::string_view::npos;
    require(newlineGiven || parse.error.find('\n') == std::string::npos, "the error is one line");

    if (parse.ok) {
        const FlashOptions& options = parse.options;
        const bool updates = options.mode == FlashOptions::Mode::Usb ||
                             options.mode == FlashOptions::Mode::Port ||
                             options.mode == FlashOptions::Mode::Watch;
        require(updates || options.image.empty(), "an image only for an update");
        require(!updates || std::find(args.begin(), args.end(), options.image) != args.end(),
                "the image is one of the arguments");
        require(options.mode != FlashOptions::Mode::Port || !options.portName.empty(),
                "a port update names its port");
        require(!options.language || *options.language == qor::kUiLanguageEnglish ||
                    *options.language == qor::kUiLanguageChinese,
                "the language is English or Chinese");
        require(options.maxDevices >= 1 && options.maxDevices <= qor::kMaxWatchDevices,
                "a watch runs 1 to 32 imagers at once");
        require(options.count >= 0, "a watch's count is never negative");
        require(options.mode != FlashOptions::Mode::Port || options.instances.empty(),
                "an RS-232 imager is named by its port alone");
        require(options.mode != FlashOptions::Mode::List || options.report.empty(),
                "a list has nothing to report");
        for (size_t i = 0; i < options.instances.size(); ++i) {
            const std::string& name = options.instances[i];
            require(!name.empty() && name.find(',') == std::string::npos,
                    "an instance is a name without commas");
            require(std::find(options.instances.begin(), options.instances.begin() + i, name) ==
                        options.instances.begin() + i,
                    "each instance is named once");
        }
    }

    std::vector<std::string> storage;
    const std::vector<std::string_view> split = splitValues(args, storage);
    require(same(parse, qor::parseFlashOptions(split)), "'--name=value' is '--name value'");
    require(same(parse, qor::parseFlashOptions(args)), "the parse is repeatable");
    return 0;
}
