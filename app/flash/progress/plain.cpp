#include "app/flash/progress/renderers.h"
#include "app/flash/texts.h"
#include "update/token_protocol.h"

namespace qor {

namespace {

class PlainRenderer final : public ProgressSink {
  public:
    PlainRenderer(std::ostream& out, std::ostream& err, bool quiet, uint16_t uiLanguage)
        : m_out(out), m_err(err), m_quiet(quiet), m_language(uiLanguage) {}

    void deviceChanged(const DeviceReport& report, bool phaseChanged) override {
        if (m_quiet || !phaseChanged) {
            return;
        }
        m_out << report.port << ": " << phaseName(report.phase);
        if (report.phase == DevicePhase::Transferring) {
            m_out << " " << report.totalBytes / kBlockSize << " KB";
        }
        m_out << "\n" << std::flush;
    }

    bool showsProgress() const override { return false; }

    void note(const Note& note) override {
        if (m_quiet && note.kind == Note::Kind::Info) {
            return;
        }
        m_err << noteLine(note) << std::flush;
    }

    void finished(const RunSummary& summary) override {
        if (m_quiet || summary.devices.empty()) {
            return;
        }
        m_out << console_text::devicesUpdated(succeededCount(summary),
                                              static_cast<int>(summary.devices.size()), m_language)
              << "\n"
              << std::flush;
    }

  private:
    std::ostream& m_out;
    std::ostream& m_err;
    const bool m_quiet;
    const uint16_t m_language;
};

}  // namespace

std::unique_ptr<ProgressSink> makePlainRenderer(std::ostream& out, std::ostream& err, bool quiet,
                                                uint16_t uiLanguage) {
    return std::make_unique<PlainRenderer>(out, err, quiet, uiLanguage);
}

}  // namespace qor
