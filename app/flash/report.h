#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// Where one device stands, as the command reports it.
enum class DevicePhase {
    Waiting,       // its worker has started; the port is not open yet
    Connecting,    // the port is open; waiting for the imager to answer
    Transferring,  // the image goes out block by block
    Checking,      // the whole image is in; the imager checks it
    Updating,      // the imager writes the image into its flash
    Succeeded,
    Failed,
    Interrupted,  // stopped by Ctrl-C
};

// The name scripts see ("transferring"), in every language.
std::string_view phaseName(DevicePhase phase);
bool isFinal(DevicePhase phase);

// A device of a run as the command names it.
struct RunDevice {
    std::string port;
    std::string instance = {};  // its USB instance; empty for an RS-232 imager
};

struct DeviceReport {
    int device = 0;  // 0 to 5, the worker's device index
    std::string port;
    std::string instance;  // as RunDevice::instance
    DevicePhase phase = DevicePhase::Waiting;
    uint32_t sentBytes = 0;
    uint32_t totalBytes = 0;
    int unansweredWaits = 0;  // connecting: waits for the answer that went by, 0 to 5
    int updateWaits = 0;      // updating: silent waits so far, 0 to 30
    std::string message;      // why it failed or was stopped; empty otherwise
    // Once final: how it ended as a word that is the same in every language
    // ("ok", "block-refused"; see text/result_codes.h). Empty before.
    std::string_view code;
};

// A text for standard error: what the window would show in a message box,
// or one of the command's own.
struct Note {
    enum class Kind { Error, Info, Hint };
    Kind kind = Kind::Error;
    int device = -1;   // -1: the run as a whole
    std::string port;  // empty for the run as a whole
    std::string text;
    // The outcome the note tells, as DeviceReport::code: every error has
    // one; empty for a note that tells none.
    std::string_view code = {};
    std::string instance = {};  // of the device, as DeviceReport::instance
};

struct RunSummary {
    int exitCode = 0;
    std::vector<DeviceReport> devices;
    // What ended a run that never got as far as its devices (or was
    // interrupted before them); empty when it did.
    std::string_view code = {};
};

// Where the command's output goes: the terminal, plain lines, JSON lines.
// Calls come from the workers' threads and the main thread, one at a time.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    // `phaseChanged` is false when only the counters moved.
    virtual void deviceChanged(const DeviceReport& report, bool phaseChanged) = 0;
    // False for a sink that shows nothing when only the counters moved: it
    // is then told of a block only with the next change of phase.
    virtual bool showsProgress() const { return true; }
    virtual void note(const Note& note) = 0;
    virtual void finished(const RunSummary& summary) = 0;
};

}  // namespace qor

namespace qor {

// How many devices of the run succeeded.
int succeededCount(const RunSummary& summary);

// A note as one line of standard error: "qor-flash: ttyACM0: text".
std::string noteLine(const Note& note);

}  // namespace qor
