#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace qor::testing {

// A fresh directory below the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

    // Writes a file below the directory (creating folders on the way) and
    // returns its path.
    std::filesystem::path write(std::string_view name, const std::vector<uint8_t>& bytes) const;
    std::filesystem::path write(std::string_view name, std::string_view text) const;

  private:
    std::filesystem::path m_path;
};

}  // namespace qor::testing
