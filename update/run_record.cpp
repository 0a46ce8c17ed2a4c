#include "update/run_record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "base/sha256.h"
#include "update/image_path.h"

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

namespace {

constexpr std::string_view kColumnsWithoutCode =
    "time,port,instance,image,image_sha256,result,bytes,seconds,message";

}  // namespace

std::string csvHeaderLine(RecordLayout layout) {
    return std::string(kColumnsWithoutCode) + (layout == RecordLayout::WithCode ? ",code" : "") +
           "\r\n";
}

RecordLayout layoutOfReport(std::string_view head) {
    const std::string_view firstLine = head.substr(0, head.find_first_of("\r\n"));
    return firstLine == kColumnsWithoutCode ? RecordLayout::WithoutCode : RecordLayout::WithCode;
}

std::string csvLine(const RunRecord& record, RecordLayout layout) {
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
    if (layout == RecordLayout::WithCode) {
        line += ',' + csvField(record.code);
    }
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

RecordedImage recordedImage(std::string_view utf8Path, const std::vector<uint8_t>& bytes) {
    const std::u8string name = imagePathFromUtf8(utf8Path).filename().u8string();
    Sha256 digest;
    digest.update(bytes);
    return {std::string(name.begin(), name.end()), hexDigest(digest.finish())};
}

}  // namespace qor
