#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

namespace qor {

// A file that is only ever appended to, each piece on the disk before the
// call returns: a record written is a record kept, whatever happens to the
// machine after it. Created when missing. Closed when the object goes.
class AppendFile {
  public:
    virtual ~AppendFile() = default;

    // True when the file held nothing when it was opened (new or empty).
    virtual bool startedEmpty() const = 0;
    // Writes all of `text` at the end and flushes it to the disk (fsync,
    // FlushFileBuffers). False when either failed; the OS error is kept.
    virtual bool appendDurably(std::string_view text) = 0;
    virtual long lastOsError() const = 0;
};

struct AppendFileOpen {
    std::unique_ptr<AppendFile> file;  // null when it could not be opened
    long osError = 0;
};

AppendFileOpen openAppendFile(const std::filesystem::path& path);

}  // namespace qor
