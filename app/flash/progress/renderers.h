#pragma once

#include <cstdint>
#include <memory>
#include <ostream>

#include "app/flash/report.h"
#include "base/clock.h"

namespace qor {

// Progress on a terminal: one line per device with a bar, the KB counter and
// the phase, redrawn in place; notes on `err` above it.
std::unique_ptr<ProgressSink> makeTerminalRenderer(std::ostream& out, std::ostream& err,
                                                   Clock& clock, uint16_t uiLanguage);

// Progress for a log or a pipe: a plain line whenever a device enters a new
// phase; no control characters. `quiet` leaves only the errors.
std::unique_ptr<ProgressSink> makePlainRenderer(std::ostream& out, std::ostream& err, bool quiet,
                                                uint16_t uiLanguage);

// One JSON object a line on `out` for every event and a summary at the end;
// the notes also go to `err` as text. `quiet` keeps only errors on `err`.
std::unique_ptr<ProgressSink> makeJsonRenderer(std::ostream& out, std::ostream& err, bool quiet);

}  // namespace qor
