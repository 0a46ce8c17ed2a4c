#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qor {

// A file that is only ever appended to, each piece on the disk before the
// call returns: a record written is a record kept, whatever happens to the
// machine after it. Created when missing. Other programs may read it and
// append to it at the same time: every append and every mend holds an
// exclusive lock of the file (flock, LockFileEx) that the others take too,
// so what one decides from the file's state is still true when it writes.
// Closed when the object goes.
class AppendFile {
  public:
    // How much of the file's start an append is shown.
    static constexpr std::size_t kHeadBytes = 1024;

    virtual ~AppendFile() = default;

    // Under the lock, writes at the end what `compose` makes of the file's
    // first kHeadBytes bytes as they are now (all of a shorter file; empty
    // for an empty one), and flushes it to the disk (fsync,
    // FlushFileBuffers). False when the lock, the read, the write or the
    // flush failed; the OS error is kept.
    virtual bool appendDurably(
        const std::function<std::string(std::string_view head)>& compose) = 0;
    // Under the lock, reads the whole file and writes at its end what
    // `mend` makes of it (nothing when it returns ""), durably.
    virtual bool mendDurably(const std::function<std::string(std::string_view contents)>& mend) = 0;
    virtual long lastOsError() const = 0;
};

struct AppendFileOpen {
    std::unique_ptr<AppendFile> file;  // null when it could not be opened
    long osError = 0;
};

AppendFileOpen openAppendFile(const std::filesystem::path& path);

}  // namespace qor
