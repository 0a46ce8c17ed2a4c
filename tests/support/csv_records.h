#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qor::testing {

// The records of a CSV file (RFC 4180, CRLF line ends, quoted fields
// unquoted), its header first; none when the file cannot be read. Fails the
// test when the file does not end with a whole record.
std::vector<std::vector<std::string>> readCsvRecords(const std::filesystem::path& path);

}  // namespace qor::testing
