#pragma once

#include <filesystem>
#include <memory>

#include "base/append_file.h"
#include "update/run_record.h"

namespace qor {

// A report file that records are appended to, one at a time, each on the
// disk before the next is written: a power cut loses at most the record in
// flight, and a record cut off is ended when the file is next opened. Other
// stations may append to the same file; an empty file gets the header line
// first, whoever writes to it first, and a report begun before the code
// column keeps its layout.
class CsvReport {
  public:
    // Null with the OS error when the file cannot be opened.
    static std::unique_ptr<CsvReport> open(const std::filesystem::path& path, long& osError);

    bool append(const RunRecord& record);
    long lastOsError() const { return m_file->lastOsError(); }

  private:
    explicit CsvReport(std::unique_ptr<AppendFile> file) : m_file(std::move(file)) {}

    std::unique_ptr<AppendFile> m_file;
};

}  // namespace qor
