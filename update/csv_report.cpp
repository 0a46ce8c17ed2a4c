#include "update/csv_report.h"

namespace qor {

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

bool CsvReport::append(const RunRecord& record) {
    // The header and the layout are decided under the file's lock, as the
    // record goes out with the header in one write and flush: another
    // station may have begun the file since it was opened here, in either
    // layout.
    return m_file->appendDurably([&](std::string_view head) {
        if (head.empty()) {
            return csvHeaderLine() + csvLine(record);
        }
        return csvLine(record, layoutOfReport(head));
    });
}

}  // namespace qor
