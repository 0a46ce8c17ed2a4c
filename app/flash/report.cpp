#include "app/flash/report.h"

namespace qor {

std::string_view phaseName(DevicePhase phase) {
    switch (phase) {
        case DevicePhase::Waiting:
            return "waiting";
        case DevicePhase::Connecting:
            return "connecting";
        case DevicePhase::Transferring:
            return "transferring";
        case DevicePhase::Checking:
            return "checking";
        case DevicePhase::Updating:
            return "updating";
        case DevicePhase::Succeeded:
            return "succeeded";
        case DevicePhase::Failed:
            return "failed";
        case DevicePhase::Interrupted:
            return "interrupted";
    }
    return "unknown";
}

bool isFinal(DevicePhase phase) {
    return phase == DevicePhase::Succeeded || phase == DevicePhase::Failed ||
           phase == DevicePhase::Interrupted;
}

}  // namespace qor

namespace qor {

int succeededCount(const RunSummary& summary) {
    int succeeded = 0;
    for (const DeviceReport& report : summary.devices) {
        succeeded += report.phase == DevicePhase::Succeeded ? 1 : 0;
    }
    return succeeded;
}

std::string noteLine(const Note& note) {
    std::string line = "qor-flash: ";
    if (!note.port.empty()) {
        line += note.port + ": ";
    }
    return line + note.text + "\n";
}

}  // namespace qor
