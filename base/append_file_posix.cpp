#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/append_file.h"
#include "base/unique_fd.h"

namespace qor {

namespace {

class PosixAppendFile final : public AppendFile {
  public:
    PosixAppendFile(UniqueFd fd, bool empty) : m_fd(std::move(fd)), m_empty(empty) {}

    bool startedEmpty() const override { return m_empty; }

    bool appendDurably(std::string_view text) override {
        while (!text.empty()) {
            const ssize_t n = ::write(m_fd.get(), text.data(), text.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                m_error = errno;
                return false;
            }
            text.remove_prefix(static_cast<std::size_t>(n));
        }
        if (::fsync(m_fd.get()) != 0) {
            m_error = errno;
            return false;
        }
        return true;
    }

    long lastOsError() const override { return m_error; }

  private:
    UniqueFd m_fd;
    const bool m_empty;
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
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
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
    return {std::make_unique<PosixAppendFile>(std::move(fd), status.st_size == 0), 0};
}

}  // namespace qor
