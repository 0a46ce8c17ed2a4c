#pragma once

#include <cstdint>
#include <ostream>

#include "app/flash/interrupt.h"
#include "app/flash/options.h"
#include "serial/registry_reader.h"

namespace qor {

// What a watch works with.
struct StationContext {
    Interrupt& interrupt;
    RegistryReader& registry;  // where the imagers are listed
    std::ostream& out;         // a line per imager, the summary
    std::ostream& err;         // errors
    uint16_t language;
};

// qor-flash --watch: checks the image once, then updates every imager that
// is attached or plugged in, each once per plug-in (told apart by its USB
// instance), each on a worker of its own, at most options.maxDevices at
// once and the others in the order they arrived. Looks for imagers every
// 250 ms, as the window does. Ends on Ctrl-C (the imagers in flight stopped
// as the update stops them), after options.count finished imagers, or when
// the report cannot be written. Returns the exit status: 0 when every imager
// was updated, 1 when one failed, 130 when one was interrupted; 2 for a
// report that cannot be opened and 3 for an image refused.
int runStationWatch(const FlashOptions& options, StationContext& context);

}  // namespace qor
