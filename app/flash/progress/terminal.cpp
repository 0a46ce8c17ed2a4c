#include <string>
#include <vector>

#include "app/flash/progress/renderers.h"
#include "app/flash/texts.h"
#include "update/token_protocol.h"

namespace qor {

namespace {

constexpr int kBarWidth = 24;
// Redraws for the counters alone come at most this often: a fast line
// answers a block in well under a millisecond.
constexpr uint32_t kRedrawPeriodMs = 100;

// ECMA-48: cursor to the start of the line n lines up; erase to the end of
// the screen.
std::string cursorUp(size_t lines) {
    return "\x1b[" + std::to_string(lines) + "F";
}
constexpr const char* kEraseBelow = "\x1b[J";

std::string bar(const DeviceReport& report) {
    int filled = 0;
    switch (report.phase) {
        case DevicePhase::Waiting:
        case DevicePhase::Connecting:
            break;
        case DevicePhase::Checking:
        case DevicePhase::Updating:
        case DevicePhase::Succeeded:
            filled = kBarWidth;
            break;
        default:
            if (report.totalBytes > 0) {
                filled = static_cast<int>(static_cast<uint64_t>(report.sentBytes) * kBarWidth /
                                          report.totalBytes);
            }
    }
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), '-') + "]";
}

std::string phaseText(const DeviceReport& report) {
    std::string text(phaseName(report.phase));
    if (report.phase == DevicePhase::Connecting && report.unansweredWaits > 0) {
        text += " (" + std::to_string(report.unansweredWaits) + " unanswered)";
    } else if (report.phase == DevicePhase::Updating && report.updateWaits > 0) {
        text +=
            " (" + std::to_string(report.updateWaits) + "/" + std::to_string(kUpdateWaits) + ")";
    }
    return text;
}

std::string padded(std::string text, size_t width) {
    if (text.size() < width) {
        text.insert(0, width - text.size(), ' ');
    }
    return text;
}

std::string line(const DeviceReport& report) {
    std::string port = report.port;
    port.resize(std::max<size_t>(port.size(), 10), ' ');
    const std::string counter = std::to_string(report.sentBytes / kBlockSize) + " KB / " +
                                std::to_string(report.totalBytes / kBlockSize) + " KB";
    return port + " " + bar(report) + " " + padded(counter, 17) + "  " + phaseText(report);
}

class TerminalRenderer final : public ProgressSink {
  public:
    TerminalRenderer(std::ostream& out, std::ostream& err, Clock& clock, uint16_t uiLanguage)
        : m_out(out), m_err(err), m_clock(clock), m_language(uiLanguage) {}

    void deviceChanged(const DeviceReport& report, bool phaseChanged) override {
        const size_t index = static_cast<size_t>(report.device);
        if (m_rows.size() <= index) {
            m_rows.resize(index + 1);
        }
        m_rows[index] = report;
        const uint32_t now = m_clock.now_ms();
        if (phaseChanged || m_drawn == 0 || now - m_lastDraw >= kRedrawPeriodMs) {
            redraw();
        }
    }

    void note(const Note& note) override {
        erase();
        m_err << noteLine(note) << std::flush;
        redraw();
    }

    void finished(const RunSummary& summary) override {
        if (summary.devices.empty()) {
            return;
        }
        m_rows = summary.devices;
        redraw();
        m_out << console_text::devicesUpdated(succeededCount(summary),
                                              static_cast<int>(summary.devices.size()), m_language)
              << "\n"
              << std::flush;
        m_drawn = 0;
    }

  private:
    void erase() {
        if (m_drawn > 0) {
            m_out << cursorUp(m_drawn) << kEraseBelow << std::flush;
            m_drawn = 0;
        }
    }

    void redraw() {
        if (m_rows.empty()) {
            return;
        }
        std::string block;
        if (m_drawn > 0) {
            block = cursorUp(m_drawn) + kEraseBelow;
        }
        for (const DeviceReport& report : m_rows) {
            block += line(report) + "\n";
        }
        m_out << block << std::flush;
        m_drawn = m_rows.size();
        m_lastDraw = m_clock.now_ms();
    }

    std::ostream& m_out;
    std::ostream& m_err;
    Clock& m_clock;
    const uint16_t m_language;
    std::vector<DeviceReport> m_rows;
    size_t m_drawn = 0;
    uint32_t m_lastDraw = 0;
};

}  // namespace

std::unique_ptr<ProgressSink> makeTerminalRenderer(std::ostream& out, std::ostream& err,
                                                   Clock& clock, uint16_t uiLanguage) {
    return std::make_unique<TerminalRenderer>(out, err, clock, uiLanguage);
}

}  // namespace qor
