#include "app/station_report.h"

#include <algorithm>

#include <cmath>
#include <cstdio>

namespace qor {

std::string csvField(std::string_view text) {
    // A spreadsheet takes a cell that begins with one of these for a formula,
    // and a serial number or a file name comes from outside: such a text is
    // kept as text by a leading apostrophe, as spreadsheets write it.
    const bool formulaLike =
        !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    const std::string kept = formulaLike ? "'" + std::string(text) : std::string(text);
    if (kept.find_first_of(",\"\r\n") == std::string::npos) {
        return kept;
    }
    std::string field = "\"";
    for (const char c : kept) {
        field += c;
        if (c == '"') {
            field += '"';
        }
    }
    return field + "\"";
}

std::string utcTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const auto day = floor<days>(seconds);
    const year_month_day date(day);
    const hh_mm_ss clock(seconds - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()));
    return text;
}

std::string csvHeaderLine() {
    return "time,port,instance,image,image_sha256,result,bytes,seconds,message\r\n";
}

std::string csvLine(const StationRecord& record) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f",
                  std::isfinite(record.seconds) && record.seconds > 0 ? record.seconds : 0.0);
    std::string line = utcTimestamp(record.finished);
    for (const std::string_view field :
         {std::string_view(record.port), std::string_view(record.instance),
          std::string_view(record.image), std::string_view(record.imageSha256),
          std::string_view(record.result)}) {
        line += ',';
        line += csvField(field);
    }
    line += ',' + std::to_string(record.bytes) + ',' + seconds + ',' + csvField(record.message);
    return line + "\r\n";
}

std::string endOfTornRecord(std::string_view contents) {
    if (contents.empty()) {
        return {};
    }
    // Quotes only open and close a field or stand doubled inside one, so
    // an odd number of them leaves the file's end inside a quoted field.
    const bool inQuotes = std::count(contents.begin(), contents.end(), '"') % 2 != 0;
    if (inQuotes) {
        return "\"\r\n";
    }
    if (contents.back() == '\r') {
        return "\n";
    }
    return contents.back() == '\n' ? std::string() : std::string("\r\n");
}

std::unique_ptr<CsvReport> CsvReport::open(const std::filesystem::path& path, long& osError) {
    AppendFileOpen opened = openAppendFile(path);
    osError = opened.osError;
    if (!opened.file) {
        return nullptr;
    }
    // A write cut off part-way (a full disk, a share gone, a power cut)
    // left the last record without its end; the next would run on into it,
    // or into its open field, and so would every record after it.
    if (!opened.file->mendDurably(endOfTornRecord)) {
        osError = opened.file->lastOsError();
        return nullptr;
    }
    return std::unique_ptr<CsvReport>(new CsvReport(std::move(opened.file)));
}

bool CsvReport::append(const StationRecord& record) {
    // Whether the header is due is decided under the file's lock, as the
    // record goes out with it in one write and flush: another station may
    // have begun the file since it was opened here.
    const std::string line = csvLine(record);
    return m_file->appendDurably([&](bool empty) { return empty ? csvHeaderLine() + line : line; });
}

}  // namespace qor
