#include "tools/imager_sim/cli.h"

#include <array>
#include <charconv>
#include <optional>
#include <vector>

#include "tools/imager_sim/baud.h"

namespace qor::sim {

namespace {

// More ports than any run of the updater uses, few enough to stay a test aid.
constexpr unsigned kMaxCount = 64;

std::optional<uint32_t> parseNumber(std::string_view text) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// The step's own token is named by its text without the star, or "ok".
std::optional<Reply> parseReply(std::string_view text, std::string_view own) {
    if (text == own || text == "ok") {
        return Reply::kToken;
    }
    if (text == "nack") {
        return Reply::kNack;
    }
    if (text == "error") {
        return Reply::kError;
    }
    if (text == "silent") {
        return Reply::kSilent;
    }
    if (text == "hangup") {
        return Reply::kHangUp;
    }
    return std::nullopt;
}

using Setter = std::string (*)(CliConfig&, std::string_view);

struct Flag {
    std::string_view name;
    bool takes_value;
    Setter set;
};

std::string setMs(uint32_t& field, std::string_view value) {
    const auto ms = parseNumber(value);
    if (!ms) {
        return "expects milliseconds, got '" + std::string(value) + "'";
    }
    field = *ms;
    return {};
}

std::string setReply(Reply& field, std::string_view value, std::string_view own) {
    const auto reply = parseReply(value, own);
    if (!reply) {
        return "expects " + std::string(own) + ", nack, error, silent or hangup, got '" +
               std::string(value) + "'";
    }
    field = *reply;
    return {};
}

constexpr std::array<std::pair<std::string_view, SetupFault>, 5> kSetupFaults = {{
    {"none", SetupFault::kNone},
    {"wrong-byte", SetupFault::kWrongByte},
    {"stray-byte", SetupFault::kStrayByte},
    {"truncated", SetupFault::kTruncated},
    {"silent-after-reply", SetupFault::kSilentAfterReply},
}};

constexpr std::array<std::pair<std::string_view, BlockFault>, 5> kBlockFaults = {{
    {"none", BlockFault::kNone},
    {"nack", BlockFault::kNack},
    {"error", BlockFault::kError},
    {"silent", BlockFault::kSilent},
    {"hangup", BlockFault::kHangUp},
}};

template <typename T, std::size_t N>
std::string setChoice(T& field, std::string_view value,
                      const std::array<std::pair<std::string_view, T>, N>& choices) {
    std::string names;
    for (const auto& [name, choice] : choices) {
        if (value == name) {
            field = choice;
            return {};
        }
        names += names.empty() ? "" : ", ";
        names += name;
    }
    return "expects one of " + names + ", got '" + std::string(value) + "'";
}

std::string setNoise(std::string& field, std::string_view value) {
    return unescapeBytes(value, field) ? std::string() : "has a malformed escape";
}

constexpr std::array<Flag, 30> kFlags = {{
    {"--help", false,
     [](CliConfig& c, std::string_view) {
         c.help = true;
         return std::string();
     }},
    {"--self-check", false,
     [](CliConfig& c, std::string_view) {
         c.self_check = true;
         return std::string();
     }},
    {"--count", true,
     [](CliConfig& c, std::string_view v) {
         const auto n = parseNumber(v);
         if (!n || *n == 0 || *n > kMaxCount) {
             return "expects 1 to " + std::to_string(kMaxCount) + ", got '" + std::string(v) + "'";
         }
         c.count = *n;
         return std::string();
     }},
    {"--link", true,
     [](CliConfig& c, std::string_view v) {
         c.link = v;
         return v.empty() ? std::string("expects DIR/NAME") : std::string();
     }},
    {"--rs232-baud", true,
     [](CliConfig& c, std::string_view v) {
         const auto baud = parseNumber(v);
         if (!baud || !speedForBaud(*baud)) {
             return "expects a line rate such as 9600 or 230400, got '" + std::string(v) + "'";
         }
         c.options.rs232_baud = *baud;
         return std::string();
     }},
    {"--setup-fault", true,
     [](CliConfig& c, std::string_view v) {
         return setChoice(c.options.setup_fault, v, kSetupFaults);
     }},
    {"--probe", true,
     [](CliConfig& c, std::string_view v) { return setReply(c.options.probe_reply, v, "echo"); }},
    {"--probe-delay", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.probe_delay_ms, v); }},
    {"--probe-wait", true,
     [](CliConfig& c, std::string_view v) {
         const auto n = parseNumber(v);
         if (!n || *n == 0 || *n > 1000) {
             return "expects the number of the host's wait (1, 2, ...), got '" + std::string(v) +
                    "'";
         }
         c.options.probe_delay_ms = probeDelayForWait(*n);
         return std::string();
     }},
    {"--header", true,
     [](CliConfig& c, std::string_view v) { return setReply(c.options.header_reply, v, "echo"); }},
    {"--header-delay", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.header_delay_ms, v); }},
    {"--block-delay", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.block_delay_ms, v); }},
    {"--turnaround", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.block_delay_ms, v); }},
    {"--wire", false,
     [](CliConfig& c, std::string_view) {
         c.wire = true;
         return std::string();
     }},
    {"--wire-baud", true,
     [](CliConfig& c, std::string_view v) {
         if (v == "line") {
             c.options.wire_baud = kWireAtHostRate;
             return std::string();
         }
         const auto baud = parseNumber(v);
         if (!baud || *baud == 0 || *baud == kWireAtHostRate) {
             return "expects bits per second or 'line', got '" + std::string(v) + "'";
         }
         c.options.wire_baud = *baud;
         return std::string();
     }},
    {"--stats", true,
     [](CliConfig& c, std::string_view v) {
         c.stats = v;
         return v.empty() ? std::string("expects a file name") : std::string();
     }},
    {"--sysfs", true,
     [](CliConfig& c, std::string_view v) {
         c.sysfs = v;
         return v.empty() ? std::string("expects a folder") : std::string();
     }},
    {"--control", true,
     [](CliConfig& c, std::string_view v) {
         c.control = v;
         return v.empty() ? std::string("expects a file name or '-'") : std::string();
     }},
    {"--block-fault", true,
     [](CliConfig& c, std::string_view v) {
         return setChoice(c.options.block_fault, v, kBlockFaults);
     }},
    {"--fault-block", true,
     [](CliConfig& c, std::string_view v) {
         const auto k = parseNumber(v);
         if (!k) {
             return "expects a block number (0 is the first), got '" + std::string(v) + "'";
         }
         c.options.fault_block = *k;
         return std::string();
     }},
    {"--ack", true,
     [](CliConfig& c, std::string_view v) { return setReply(c.options.taken_reply, v, "ack"); }},
    {"--check-time", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.check_time_ms, v); }},
    {"--update", true,
     [](CliConfig& c, std::string_view v) {
         return setReply(c.options.update_reply, v, "update");
     }},
    {"--write-time", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.write_time_ms, v); }},
    {"--final", true,
     [](CliConfig& c, std::string_view v) { return setReply(c.options.final_reply, v, "ack"); }},
    {"--noise-before", true,
     [](CliConfig& c, std::string_view v) { return setNoise(c.options.noise_before, v); }},
    {"--noise-after", true,
     [](CliConfig& c, std::string_view v) { return setNoise(c.options.noise_after, v); }},
    {"--trickle", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.trickle_gap_ms, v); }},
    {"--flood", true,
     [](CliConfig& c, std::string_view v) { return setMs(c.options.flood_gap_ms, v); }},
    {"-h", false,
     [](CliConfig& c, std::string_view) {
         c.help = true;
         return std::string();
     }},
}};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

CliParse parseCommandLine(std::span<const std::string_view> args) {
    CliParse result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> value;
        if (const auto eq = name.find('=');
            name.starts_with("--") && eq != std::string_view::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const Flag* flag = nullptr;
        for (const Flag& f : kFlags) {
            if (f.name == name) {
                flag = &f;
            }
        }
        if (flag == nullptr) {
            result.error = "unknown option '" + std::string(args[i]) + "'";
            return result;
        }
        if (flag->takes_value && !value) {
            if (i + 1 == args.size()) {
                result.error = std::string(name) + " needs a value";
                return result;
            }
            value = args[++i];
        } else if (!flag->takes_value && value) {
            result.error = std::string(name) + " takes no value";
            return result;
        }
        if (std::string error = flag->set(result.config, value.value_or("")); !error.empty()) {
            result.error = std::string(name) + " " + error;
            return result;
        }
    }
    // Resolved once every flag is in: the RS-232 rate may come after --wire.
    CliConfig& config = result.config;
    if (config.wire && config.options.wire_baud == 0) {
        config.options.wire_baud = config.options.rs232_baud != 0 ? kWireAtHostRate : kUsbWireBaud;
    }
    result.ok = true;
    return result;
}

bool unescapeBytes(std::string_view text, std::string& bytes) {
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(text[i]);
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
            case 'r':
                bytes.push_back('\r');
                break;
            case 'n':
                bytes.push_back('\n');
                break;
            case 't':
                bytes.push_back('\t');
                break;
            case '0':
                bytes.push_back('\0');
                break;
            case '\\':
                bytes.push_back('\\');
                break;
            case 'x': {
                if (i + 2 >= text.size()) {
                    return false;
                }
                const int high = hexDigit(text[i + 1]);
                const int low = hexDigit(text[i + 2]);
                if (high < 0 || low < 0) {
                    return false;
                }
                bytes.push_back(static_cast<char>(high << 4 | low));
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

std::string linkPathFor(const std::string& link, unsigned count, unsigned index) {
    if (count <= 1) {
        return link;
    }
    const std::size_t slash = link.find_last_of('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t digits = link.size();
    while (digits > name_start && link[digits - 1] >= '0' && link[digits - 1] <= '9') {
        --digits;
    }
    if (digits == link.size()) {
        return link + std::to_string(index);
    }
    const auto first = parseNumber(std::string_view(link).substr(digits));
    if (!first) {
        return link + std::to_string(index);
    }
    return link.substr(0, digits) + std::to_string(*first + index);
}

std::vector<std::string_view> longOptionNames() {
    std::vector<std::string_view> names;
    for (const Flag& flag : kFlags) {
        if (flag.name.starts_with("--")) {
            names.push_back(flag.name.substr(2));
        }
    }
    return names;
}

std::string usageText() {
    return R"(Usage: qor-imager-sim [OPTIONS]

Serves simulated barcode imagers on pseudo-terminals, prints the port of
each (one a line) and plays them until interrupted (SIGINT or SIGTERM).

  --count N              imagers to serve (1 to 64, default 1)
  --link DIR/NAME        symlink NAME -> each port, removed at exit; with more
                         imagers a trailing number counts on (com7, com8, ...)
  --rs232-baud RATE      an RS-232 imager listening at RATE for the setup
                         exchange (default: a USB imager, any rate)
  --setup-fault F        none | wrong-byte | stray-byte | truncated |
                         silent-after-reply
  --probe R              answer to the probe: echo | nack | error | silent |
                         hangup (the line goes away; likewise below)
  --probe-delay MS       answer the probe after MS milliseconds
  --probe-wait N         answer the probe during the host's N-th wait
  --header R             answer to the header: echo | nack | error | silent
  --header-delay MS
  --block-delay MS       turnaround for every block
  --turnaround MS        the same
  --block-fault F        none | nack | error | silent | hangup, at block K
  --fault-block K        the faulty block, 0 is the first (default 0)
  --ack R                after the last block: ack | nack | error | silent
  --check-time MS        between that *ack and *update
  --update R             update | nack | error | silent
  --write-time MS        between *update and the final *ack
  --final R              the final reply: ack | nack | error | silent
  --noise-before TEXT    bytes before every token (escapes: \r \n \t \0 \\ \xHH)
  --noise-after TEXT     bytes after every token, e.g. '\r\n'
  --trickle MS           send tokens one byte at a time, MS apart
  --flood MS             from the first marker on, a line feed every MS
                         milliseconds besides the replies (a line never silent)
  --wire                 time the line like a serial wire: 10 bits a byte at
                         921600 baud for a USB imager, at the host's rate for
                         an RS-232 one (default: a pty's instant bytes)
  --wire-baud RATE       the same at RATE bits per second, or 'line' for the
                         rate the host has set
  --stats FILE           at exit, write each imager's figures to FILE: bytes
                         each way, blocks, the host's turnarounds (us), ...
  --sysfs DIR            list each imager in a sysfs tree at DIR, as a USB
                         imager with the serial number SIM<slot> on ttyACM<slot>
                         (for the updater's QOR_SYSFS_ROOT)
  --control FILE         read commands from FILE ('-': standard input), one a
                         line: 'unplug N' hangs up imager N's port and removes
                         its link and sysfs entry; 'plug N' brings a fresh
                         imager back there; 'record N' tells what imager N has
                         received and sent. Each is answered on standard output
                         once done: 'unplugged N', 'plugged N PORT', 'record N
                         JSON' or 'error: ...'. A FILE that is not there is
                         made as a FIFO
  --self-check           play one exchange in-process and report; exit 0 or 1
  --help                 this text
)";
}

}  // namespace qor::sim
