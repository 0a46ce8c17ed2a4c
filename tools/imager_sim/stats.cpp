#include "tools/imager_sim/stats.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <iterator>
#include <sstream>

namespace qor::sim {

namespace {

template <typename T>
bool parseNumber(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool parseList(std::string_view text, std::vector<uint32_t>& values) {
    values.clear();
    if (text.empty()) {
        return true;
    }
    for (;;) {
        const std::size_t comma = text.find(',');
        uint32_t value = 0;
        if (!parseNumber(text.substr(0, comma), value)) {
            return false;
        }
        values.push_back(value);
        if (comma == std::string_view::npos) {
            return true;
        }
        text = text.substr(comma + 1);
    }
}

template <typename Bytes>
std::string hexOf(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const uint8_t byte : bytes) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}

void appendList(std::ostringstream& line, const char* key, const std::vector<uint32_t>& values) {
    line << ' ' << key << '=';
    for (std::size_t i = 0; i < values.size(); ++i) {
        line << (i == 0 ? "" : ",") << values[i];
    }
}

}  // namespace

ImagerStats statsOf(unsigned index, const std::string& port, const ImagerRecord& record) {
    ImagerStats stats;
    stats.index = index;
    stats.port = port;
    stats.received = record.received.size();
    stats.sent = record.sent.size();
    stats.blocks = record.run.blocks;
    stats.completed = record.run.completed;
    stats.pause_us = record.timing.pause_us;
    stats.image_us = record.timing.image_last_us - record.timing.image_first_us;
    stats.late_us = record.timing.late_us;
    stats.turnaround_us = record.timing.turnaround_us;
    return stats;
}

std::string formatStats(const ImagerStats& stats) {
    std::ostringstream line;
    line << "imager=" << stats.index << " port=" << stats.port << " received=" << stats.received
         << " sent=" << stats.sent << " blocks=" << stats.blocks
         << " completed=" << (stats.completed ? 1 : 0) << " pause_us=" << stats.pause_us
         << " image_us=" << stats.image_us;
    appendList(line, "late_us", stats.late_us);
    appendList(line, "turnaround_us", stats.turnaround_us);
    return line.str();
}

std::optional<ImagerStats> parseStats(std::string_view line) {
    ImagerStats stats;
    constexpr std::string_view kKeys[] = {"imager",  "port",         "received", "sent",
                                          "blocks",  "completed",    "pause_us", "image_us",
                                          "late_us", "turnaround_us"};
    unsigned seen = 0;
    while (!line.empty()) {
        const std::size_t space = line.find(' ');
        const std::string_view field = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = field.substr(0, eq);
        const std::string_view value = field.substr(eq + 1);
        bool ok = false;
        if (key == "imager") {
            ok = parseNumber(value, stats.index);
        } else if (key == "port") {
            stats.port = value;
            ok = true;
        } else if (key == "received") {
            ok = parseNumber(value, stats.received);
        } else if (key == "sent") {
            ok = parseNumber(value, stats.sent);
        } else if (key == "blocks") {
            ok = parseNumber(value, stats.blocks);
        } else if (key == "completed") {
            ok = value == "0" || value == "1";
            stats.completed = value == "1";
        } else if (key == "pause_us") {
            ok = parseNumber(value, stats.pause_us);
        } else if (key == "image_us") {
            ok = parseNumber(value, stats.image_us);
        } else if (key == "late_us") {
            ok = parseList(value, stats.late_us);
        } else if (key == "turnaround_us") {
            ok = parseList(value, stats.turnaround_us);
        }
        if (!ok) {
            return std::nullopt;
        }
        for (std::size_t k = 0; k < std::size(kKeys); ++k) {
            if (key == kKeys[k] && (seen & 1u << k) != 0) {
                return std::nullopt;  // two lines run together
            }
            seen |= key == kKeys[k] ? 1u << k : 0u;
        }
    }
    // Every field that formatStats writes: a cut-off line is no line.
    if (seen != (1u << std::size(kKeys)) - 1) {
        return std::nullopt;
    }
    return stats;
}

std::string formatRecordJson(unsigned index, const std::string& port, const ImagerRecord& record) {
    nlohmann::ordered_json packets = nlohmann::ordered_json::array();
    for (const SetupPacket& packet : record.setup_packets) {
        packets.push_back({{"bytes", hexOf(packet.bytes)}, {"baud", packet.baud}});
    }
    const TokenRun& run = record.run;
    const nlohmann::ordered_json json = {
        {"imager", index},
        {"port", port},
        {"received", hexOf(record.received)},
        {"sent", hexOf(record.sent)},
        {"handled", record.handled},
        {"replies_pending", record.replies_pending},
        {"setup_packets", std::move(packets)},
        {"setup_answers", record.setup_answers},
        {"update_mode", record.update_mode},
        {"runs", record.runs},
        {"run",
         {{"marker_seen", run.marker_seen},
          {"probe_seen", run.probe_seen},
          {"header", hexOf(run.header)},
          {"image_length", run.image_length},
          {"image", hexOf(run.image)},
          {"blocks", run.blocks},
          {"completed", run.completed}}},
        {"hung_up", record.hung_up},
    };
    return json.dump();
}

}  // namespace qor::sim
