#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// What became of one imager of a run, as its record keeps it: a line of a
// station's report, of a run's report, or of the window's log of runs.
struct RunRecord {
    std::chrono::system_clock::time_point finished;
    std::string port;
    std::string instance;     // its USB instance; an RS-232 imager's port
    std::string image;        // the image's file name
    std::string imageSha256;  // lower-case hexadecimal
    std::string result;       // "succeeded", "failed" or "interrupted"
    uint64_t bytes = 0;       // of the image, sent to the imager
    double seconds = 0;       // from the start of its update to its end
    std::string message;
    std::string code;  // how it ended, the same in every language
};

// The columns of a report. A report begun before the code column was added
// keeps its columns: every record appended to it is written in its layout,
// so that no file mixes two.
enum class RecordLayout {
    WithoutCode,  // time to message
    WithCode,     // the same and the code last: every new report
};

// RFC 4180: a field with a comma, a quote, a CR or an LF is quoted, its
// quotes doubled; any other goes as it is. A text that begins with = + - @,
// a tab or a CR gets a leading apostrophe, so a spreadsheet shows it rather
// than running it as a formula.
std::string csvField(std::string_view text);

// ISO 8601 in UTC to the second: "2026-12-07T20:45:03Z".
std::string utcTimestamp(std::chrono::system_clock::time_point time);

// The record as one CSV line, CRLF included.
std::string csvLine(const RunRecord& record, RecordLayout layout = RecordLayout::WithCode);
// The names of the columns, as the first line of a new report.
std::string csvHeaderLine(RecordLayout layout = RecordLayout::WithCode);
// The layout of a report that begins with `head`: the old one when its first
// line is the old header, the current one for anything else.
RecordLayout layoutOfReport(std::string_view head);

// What ends a last record that a write cut off part-way (closing its quoted
// field when it stopped inside one), so that the next record starts on a
// line of its own; empty when the file ends where a record ends.
std::string endOfTornRecord(std::string_view contents);

// How a record names the image: its file name, and the digest of the bytes
// sent.
struct RecordedImage {
    std::string name;
    std::string sha256;
};
// `utf8Path` as given; `bytes` as read and checked.
RecordedImage recordedImage(std::string_view utf8Path, const std::vector<uint8_t>& bytes);

}  // namespace qor
