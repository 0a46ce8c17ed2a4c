#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/append_file.h"
#include "base/unique_fd.h"

namespace qor {

namespace {

class PosixAppendFile final : public AppendFile {
  public:
    explicit PosixAppendFile(UniqueFd fd) : m_fd(std::move(fd)) {}

    bool appendDurably(const std::function<std::string(std::string_view head)>& compose) override {
        Lock lock(*this);
        if (!lock.held) {
            return false;
        }
        std::string head;
        if (!read(head, kHeadBytes)) {
            return false;
        }
        return writeDurably(compose(head));
    }

    bool mendDurably(const std::function<std::string(std::string_view contents)>& mend) override {
        Lock lock(*this);
        if (!lock.held) {
            return false;
        }
        std::string contents;
        if (!read(contents, std::string::npos)) {
            return false;
        }
        return writeDurably(mend(contents));
    }

    long lastOsError() const override { return m_error; }

  private:
    // The lock every appender of the file takes; released on every path.
    struct Lock {
        explicit Lock(PosixAppendFile& file) : file(file) {
            while (!(held = ::flock(file.m_fd.get(), LOCK_EX) == 0) && errno == EINTR) {
            }
            if (!held) {
                file.failed();
            }
        }
        ~Lock() {
            if (held) {
                ::flock(file.m_fd.get(), LOCK_UN);
            }
        }
        PosixAppendFile& file;
        bool held = false;
    };

    bool failed() {
        m_error = errno;
        return false;
    }

    // The file from its start, up to `most` bytes.
    bool read(std::string& contents, std::size_t most) {
        char buffer[64 * 1024];
        for (off_t at = 0; contents.size() < most;) {
            const std::size_t wanted = std::min(sizeof buffer, most - contents.size());
            const ssize_t n = ::pread(m_fd.get(), buffer, wanted, at);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return failed();
            }
            if (n == 0) {
                break;
            }
            contents.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
        return true;
    }

    bool writeDurably(std::string_view text) {
        if (text.empty()) {
            return true;
        }
        while (!text.empty()) {
            const ssize_t n = ::write(m_fd.get(), text.data(), text.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return failed();
            }
            text.remove_prefix(static_cast<std::size_t>(n));
        }
        return ::fsync(m_fd.get()) == 0 || failed();
    }

    UniqueFd m_fd;
    long m_error = 0;
};

// A new file is only kept across a power cut once its folder's entry is on
// the disk too.
void syncFolderOf(const std::filesystem::path& path) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) {
        ::fsync(dir.get());
    }
}

}  // namespace

AppendFileOpen openAppendFile(const std::filesystem::path& path) {
    // Read too: a mend looks at what the file holds.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        return {nullptr, errno};
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return {nullptr, errno};
    }
    if (status.st_size == 0) {
        syncFolderOf(path);
    }
    return {std::make_unique<PosixAppendFile>(std::move(fd)), 0};
}

}  // namespace qor
