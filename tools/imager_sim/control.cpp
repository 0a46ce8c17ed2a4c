#include "tools/imager_sim/control.h"

#include <charconv>

namespace qor::sim {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

ControlCommand parseControlLine(std::string_view line) {
    ControlCommand command;
    line = trimmed(line.substr(0, line.find('#')));
    if (line.empty()) {
        return command;
    }
    const auto space = line.find_first_of(" \t");
    const std::string_view verb = line.substr(0, space);
    const std::string_view number =
        space == std::string_view::npos ? std::string_view() : trimmed(line.substr(space));
    command.kind = verb == "plug"     ? ControlCommand::Kind::Plug
                   : verb == "unplug" ? ControlCommand::Kind::Unplug
                   : verb == "record" ? ControlCommand::Kind::Record
                                      : ControlCommand::Kind::Invalid;
    if (command.kind == ControlCommand::Kind::Invalid) {
        command.error = "unknown command '" + std::string(verb) + "' (plug N, unplug N, record N)";
        return command;
    }
    const auto [end, ec] =
        std::from_chars(number.data(), number.data() + number.size(), command.slot);
    if (number.empty() || ec != std::errc() || end != number.data() + number.size()) {
        command.kind = ControlCommand::Kind::Invalid;
        command.slot = 0;
        command.error =
            std::string(verb) + " expects a slot number, got '" + std::string(number) + "'";
    }
    return command;
}

}  // namespace qor::sim
