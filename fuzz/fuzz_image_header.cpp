// ReadImageHeader, LoadFirmwareImage and CheckHeaderWords over arbitrary
// files: any contents, and paths that lead to no file, a folder, a link, a
// link loop or a name with odd characters. The header is the file's first
// twelve bytes or nothing, an image is whole blocks and read as it is, and
// the file is closed again.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tests/support/temp_dir.h"
#include "tools/testkit/open_handles.h"
#include "update/image_header.h"

namespace {

namespace fs = std::filesystem;

enum class Shape { File, LinkToFile, Missing, Folder, LinkLoop, DanglingLink, kCount };

uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t word = 0;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t byte = offset + i < bytes.size() ? bytes[offset + i] : 0;
        word |= static_cast<uint32_t>(byte) << (8 * i);
    }
    return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qor::fuzz::require;
    FuzzedDataProvider input(data, size);
    const auto shape = static_cast<Shape>(
        input.ConsumeIntegralInRange<int>(0, static_cast<int>(Shape::kCount) - 1));
    // Any name the file system takes: no '/' and no NUL, not "." or "..".
    std::string name = input.ConsumeRandomLengthString(64);
    std::erase(name, '/');
    std::erase(name, '\0');
    if (name.empty() || name == "." || name == "..") {
        name = "image.bin";
    }
    const std::vector<uint8_t> contents = input.ConsumeRemainingBytes<uint8_t>();

    qor::testing::TempDir dir;
    const fs::path path = dir / name;
    const fs::path target = dir / "target.bin";
    switch (shape) {
        case Shape::File:
            dir.write(name, contents);
            break;
        case Shape::LinkToFile:
            dir.write("target.bin", contents);
            if (path != target) {
                fs::create_symlink("target.bin", path);
            }
            break;
        case Shape::Missing:
            break;
        case Shape::Folder:
            fs::create_directory(path);
            break;
        case Shape::LinkLoop:
            fs::create_symlink(name, path);
            break;
        case Shape::DanglingLink:
            fs::create_symlink("nowhere", path);
            break;
        case Shape::kCount:
            break;
    }
    const bool readable = shape == Shape::File || shape == Shape::LinkToFile;

    const size_t descriptors = qor::testing::openDescriptorCount();
    qor::FirmwareHeader header{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    const auto result = qor::ReadImageHeader(path.string(), header);
    require(qor::testing::openDescriptorCount() == descriptors, "the file is closed again");

    switch (result) {
        case qor::ImageHeaderResult::HeaderRead: {
            require(readable, "a header only from a file");
            require(!contents.empty() && contents.size() % qor::kBlockSize == 0,
                    "an image is whole blocks");
            qor::FirmwareImage image;
            require(qor::LoadFirmwareImage(path.string(), image) == result && image.bytes &&
                        *image.bytes == contents,
                    "the image read is the file's bytes");
            require(header.magic == wordAt(contents, 0) && header.word1 == wordAt(contents, 4) &&
                        header.word2 == wordAt(contents, 8),
                    "the header is the first twelve bytes, little-endian, zero-padded");
            require(qor::CheckHeaderWords(header) == (header.word1 != 0 && header.word2 != 0),
                    "the words check is both words non-zero");
            break;
        }
        case qor::ImageHeaderResult::NotFirmware:
            require(readable, "a magic number only from a file");
            require(header.magic == 0 && header.word1 == 0 && header.word2 == 0,
                    "a refused header is zeroed");
            break;
        case qor::ImageHeaderResult::CannotOpen:
            require(!readable, "a readable file can be opened");
            require(header.magic == 0 && header.word1 == 0 && header.word2 == 0,
                    "an unread header is zeroed");
            break;
    }
    // The same file gives the same answer.
    qor::FirmwareHeader again;
    require(qor::ReadImageHeader(path.string(), again) == result && again.magic == header.magic &&
                again.word1 == header.word1 && again.word2 == header.word2,
            "reading is repeatable");
    return 0;
}
