#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "base/append_file.h"

namespace qor {

// What became of one imager of a watch, as its record keeps it.
struct StationRecord {
    std::chrono::system_clock::time_point finished;
    std::string port;
    std::string instance;
    std::string image;        // the image's file name as given
    std::string imageSha256;  // lower-case hexadecimal
    std::string result;       // "succeeded", "failed" or "interrupted"
    uint64_t bytes = 0;       // of the image, sent to the imager
    double seconds = 0;       // from the start of its update to its end
    std::string message;
};

// RFC 4180: a field with a comma, a quote, a CR or an LF is quoted, its
// quotes doubled; any other goes as it is. A text that begins with = + - @,
// a tab or a CR gets a leading apostrophe, so a spreadsheet shows it rather
// than running it as a formula.
std::string csvField(std::string_view text);

// ISO 8601 in UTC to the second: "2026-12-07T20:45:03Z".
std::string utcTimestamp(std::chrono::system_clock::time_point time);

// The record as one CSV line, CRLF included.
std::string csvLine(const StationRecord& record);
// The names of the columns, as the first line of a new report.
std::string csvHeaderLine();

// What ends a last record that a write cut off part-way (closing its quoted
// field when it stopped inside one), so that the next record starts on a
// line of its own; empty when the file ends where a record ends.
std::string endOfTornRecord(std::string_view contents);

// A report file that records are appended to, one at a time, each on the
// disk before the next is written: a power cut loses at most the record in
// flight, and a record cut off is ended when the file is next opened. Other
// stations may append to the same file; an empty file gets the header line
// first, whoever writes to it first.
class CsvReport {
  public:
    // Null with the OS error when the file cannot be opened.
    static std::unique_ptr<CsvReport> open(const std::filesystem::path& path, long& osError);

    bool append(const StationRecord& record);
    long lastOsError() const { return m_file->lastOsError(); }

  private:
    explicit CsvReport(std::unique_ptr<AppendFile> file) : m_file(std::move(file)) {}

    std::unique_ptr<AppendFile> m_file;
};

}  // namespace qor
