#pragma once

#include <signal.h>

#include <ostream>
#include <string>
#include <string_view>

namespace qor::sim {

// One line of the simulator's control input: "plug N", "unplug N" or
// "record N", N a slot from 0. Blank lines and lines from '#' on are nothing
// to do.
struct ControlCommand {
    enum class Kind { None, Plug, Unplug, Record, Invalid };
    Kind kind = Kind::None;
    unsigned slot = 0;
    std::string error;  // why, when Invalid
};

ControlCommand parseControlLine(std::string_view line);

class ImagerRack;

// Carries out the commands read from `source` ("-" for standard input; a
// name that is not there is made a FIFO, and removed again at the end) on
// `rack`, answering each on `out`, until one of `stopSignals` (blocked in
// every thread) arrives. Returns that signal's number, or -1 after a
// message on `err` when the source cannot be opened.
//
// Commands rather than signals: a command says which imager, and its answer
// comes once the pty has hung up or the entry is in place, so that a test
// acts on that event instead of waiting a while.
int followControl(const std::string& source, const sigset_t& stopSignals, ImagerRack& rack,
                  std::ostream& out, std::ostream& err);

}  // namespace qor::sim
