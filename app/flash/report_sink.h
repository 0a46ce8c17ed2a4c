#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/flash/report.h"
#include "update/csv_report.h"
#include "update/run_record.h"

namespace qor {

// The report of a run of --usb or --port: a record for each device as it
// ends, appended to the report file and on the disk before the next, while
// everything goes on to the sink that shows the run. Calls come one at a
// time, as to any sink.
class ReportSink final : public ProgressSink {
  public:
    // `name` as given on the command line, for the messages.
    ReportSink(ProgressSink& shown, std::filesystem::path path, std::string name);

    // Opens the report before any imager is touched; false with the OS error
    // when it cannot be.
    bool open(long& osError);
    // The image the run sends, as its records name it.
    void setImage(RecordedImage image) { m_image = std::move(image); }
    // A device's record could not be written (each such failure has been
    // told as an error).
    bool broken() const { return m_broken; }

    void deviceChanged(const DeviceReport& report, bool phaseChanged) override;
    bool showsProgress() const override { return m_shown.showsProgress(); }
    void note(const Note& note) override { m_shown.note(note); }
    void finished(const RunSummary& summary) override { m_shown.finished(summary); }

  private:
    void record(const DeviceReport& report);

    ProgressSink& m_shown;
    const std::filesystem::path m_path;
    const std::string m_name;
    std::unique_ptr<CsvReport> m_report;
    RecordedImage m_image;
    // When each device's update began, by device index.
    std::vector<std::chrono::steady_clock::time_point> m_started;
    bool m_broken = false;
};

// "cannot open the report NAME: reason", as the command says it.
std::string reportProblem(std::string_view verb, std::string_view name, long osError);

}  // namespace qor
