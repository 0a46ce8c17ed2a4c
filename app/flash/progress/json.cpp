#include "app/flash/json.h"
#include "app/flash/progress/renderers.h"

namespace qor {

namespace {

std::string_view kindName(Note::Kind kind) {
    switch (kind) {
        case Note::Kind::Error:
            return "error";
        case Note::Kind::Info:
            return "info";
        case Note::Kind::Hint:
            return "hint";
    }
    return "error";
}

// A text member, null when the text is empty (an RS-232 imager's instance,
// the code of what has not ended yet).
JsonObject& addTextOrNull(JsonObject& object, std::string_view key, std::string_view text) {
    return text.empty() ? object.addNull(key) : object.add(key, text);
}

JsonObject deviceObject(std::string_view event, const DeviceReport& report) {
    JsonObject object;
    if (!event.empty()) {
        object.add("event", event);
    }
    object.addNumber("device", report.device).add("port", report.port);
    addTextOrNull(object, "instance", report.instance)
        .add(event.empty() ? "result" : "phase", phaseName(report.phase));
    addTextOrNull(object, "code", report.code)
        .addNumber("sent", report.sentBytes)
        .addNumber("total", report.totalBytes)
        .add("message", report.message);
    return object;
}

class JsonRenderer final : public ProgressSink {
  public:
    JsonRenderer(std::ostream& out, std::ostream& err, bool quiet)
        : m_out(out), m_err(err), m_quiet(quiet) {}

    void deviceChanged(const DeviceReport& report, bool) override {
        m_out << deviceObject("device", report).str() << "\n" << std::flush;
    }

    void note(const Note& note) override {
        if (!(m_quiet && note.kind == Note::Kind::Info)) {
            m_err << noteLine(note) << std::flush;
        }
        JsonObject object;
        object.add("event", "message").add("kind", kindName(note.kind));
        addTextOrNull(object, "code", note.code);
        if (note.device >= 0) {
            object.addNumber("device", note.device).add("port", note.port);
            addTextOrNull(object, "instance", note.instance);
        } else {
            object.addNull("device").addNull("port").addNull("instance");
        }
        object.add("message", note.text);
        m_out << object.str() << "\n" << std::flush;
    }

    void finished(const RunSummary& summary) override {
        std::vector<JsonObject> devices;
        for (const DeviceReport& report : summary.devices) {
            devices.push_back(deviceObject("", report));
        }
        JsonObject object;
        object.add("event", "summary").addNumber("exit", summary.exitCode);
        m_out << addTextOrNull(object, "code", summary.code)
                     .addNumber("succeeded", succeededCount(summary))
                     .addNumber("count", static_cast<int64_t>(summary.devices.size()))
                     .addArray("devices", devices)
                     .str()
              << "\n"
              << std::flush;
    }

  private:
    std::ostream& m_out;
    std::ostream& m_err;
    const bool m_quiet;
};

}  // namespace

std::unique_ptr<ProgressSink> makeJsonRenderer(std::ostream& out, std::ostream& err, bool quiet) {
    return std::make_unique<JsonRenderer>(out, err, quiet);
}

}  // namespace qor
