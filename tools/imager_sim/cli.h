#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/imager_sim/options.h"

namespace qor::sim {

// What the command line asks of qor-imager-sim.
struct CliConfig {
    ImagerOptions options;  // the same behaviour for every imager
    unsigned count = 1;
    std::string link;     // DIR/NAME for a symlink to each port; empty for none
    std::string stats;    // file for each imager's figures at exit; empty for none
    std::string sysfs;    // a sysfs tree to list the imagers in; empty for none
    std::string control;  // where plug/unplug commands come from ("-": stdin); empty for none
    bool help = false;
    bool self_check = false;
    bool wire = false;  // --wire: the wire's rate follows from the kind of imager
};

struct CliParse {
    bool ok = false;
    CliConfig config;
    std::string error;  // why not, when not ok
};

// `args` without the program's name. Options take their value as the next
// argument or after '=' ("--count 3", "--count=3").
CliParse parseCommandLine(std::span<const std::string_view> args);

// The long options the parser takes, without their dashes.
std::vector<std::string_view> longOptionNames();

std::string usageText();

// The link for imager `index` (from 0). With one imager the name as given;
// with more, a name ending in a number counts on from it (com7, com8, ...)
// and any other name gets the index appended (sim0, sim1, ...).
std::string linkPathFor(const std::string& link, unsigned count, unsigned index);

// Turns C-style escapes (\r \n \t \0 \\ \xHH) into bytes, so that line noise
// can be written on a command line. False on a malformed escape.
bool unescapeBytes(std::string_view text, std::string& bytes);

}  // namespace qor::sim
