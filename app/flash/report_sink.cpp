#include "app/flash/report_sink.h"

#include <system_error>

#include "text/result_codes.h"

namespace qor {

ReportSink::ReportSink(ProgressSink& shown, std::filesystem::path path, std::string name)
    : m_shown(shown), m_path(std::move(path)), m_name(std::move(name)) {}

bool ReportSink::open(long& osError) {
    m_report = CsvReport::open(m_path, osError);
    return m_report != nullptr;
}

void ReportSink::deviceChanged(const DeviceReport& report, bool phaseChanged) {
    if (phaseChanged && report.phase == DevicePhase::Waiting) {
        const auto index = static_cast<std::size_t>(report.device);
        if (index >= m_started.size()) {
            m_started.resize(index + 1);
        }
        m_started[index] = std::chrono::steady_clock::now();
    }
    m_shown.deviceChanged(report, phaseChanged);
    if (phaseChanged && isFinal(report.phase)) {
        record(report);
    }
}

void ReportSink::record(const DeviceReport& report) {
    if (!m_report) {
        return;
    }
    const auto index = static_cast<std::size_t>(report.device);
    const double seconds =
        index < m_started.size()
            ? std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started[index])
                  .count()
            : 0.0;
    // An RS-232 imager has no instance: its record names its port there, as
    // the window's log does, so that the column always tells imagers apart.
    const RunRecord line{std::chrono::system_clock::now(),
                         report.port,
                         report.instance.empty() ? report.port : report.instance,
                         m_image.name,
                         m_image.sha256,
                         std::string(phaseName(report.phase)),
                         report.sentBytes,
                         seconds,
                         report.message,
                         std::string(report.code)};
    if (!m_report->append(line)) {
        m_broken = true;
        m_shown.note({Note::Kind::Error, report.device, report.port,
                      reportProblem("write", m_name, m_report->lastOsError()),
                      result_code::kReportUnwritable, report.instance});
    }
}

std::string reportProblem(std::string_view verb, std::string_view name, long osError) {
    return "cannot " + std::string(verb) + " the report " + std::string(name) + ": " +
           std::system_category().message(static_cast<int>(osError));
}

}  // namespace qor
