#include "update/image_header.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tools/testkit/open_handles.h"

namespace qor {
namespace {

using Bytes = std::vector<uint8_t>;

std::string utf8Path(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const auto& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

// The accepted magic numbers as they stand at the start of a file.
const std::vector<Bytes> kMagicInFile = {
    {0x45, 0x01, 0x69, 0x53}, {0x6E, 0x15, 0x81, 0x47}, {0x6B, 0x12, 0x7C, 0xA8},
    {0x18, 0x15, 0x9A, 0xCF}, {0x27, 0xA9, 0x04, 0xD5}, {0x4C, 0x50, 0x53, 0x2A},
    {0x43, 0x42, 0x57, 0x54}, {0x98, 0x2B, 0x35, 0x37}, {0x37, 0x35, 0x2B, 0x98},
};

const Bytes kLps = {0x4C, 0x50, 0x53, 0x2A};  // 0x2A53504C little-endian
const Bytes kOne = {0x01, 0x00, 0x00, 0x00};

struct HeaderCase {
    const char* name;
    Bytes file;
    ImageHeaderResult result;
    FirmwareHeader header;  // expected; all zero unless HeaderRead
    bool wordsOk;
};

void PrintTo(const HeaderCase& row, std::ostream* out) {
    *out << row.name;
}

class ReadImageHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ReadImageHeaderTest, ReadsTheHeader) {
    const auto& c = GetParam();
    testing::TempDir dir;
    const auto file = dir.write("image.bin", c.file);
    FirmwareHeader header{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(ReadImageHeader(utf8Path(file), header), c.result);
    EXPECT_EQ(testing::openHandlesOn(file), 0);
    EXPECT_EQ(header.magic, c.header.magic);
    EXPECT_EQ(header.word1, c.header.word1);
    EXPECT_EQ(header.word2, c.header.word2);
    EXPECT_EQ(CheckHeaderWords(header), c.wordsOk);
}

constexpr auto kRead = ImageHeaderResult::HeaderRead;
constexpr auto kRefused = ImageHeaderResult::NotFirmware;
constexpr uint32_t kLpsWord = 0x2A53504C;

// `start` followed by zeros to a whole block, as an image is.
Bytes block(const Bytes& start) {
    Bytes bytes = start;
    bytes.resize(1024, 0);
    return bytes;
}

const HeaderCase kHeaderCases[] = {
    {"Empty", {}, kRefused, {}, false},
    {"ThreeBytes", {0x4C, 0x50, 0x53}, kRefused, {}, false},
    // Only whole blocks can be sent: a tail would leave the imager with an
    // unfinished update, so such a file is refused like a bad magic number.
    {"TwelveBytes", cat({kLps, kOne, kOne}), kRefused, {}, false},
    {"FourBlocksAndATail", cat({kLps, kOne, kOne, Bytes(5000 - 12, 0xEE)}), kRefused, {}, false},
    {"OneBlockShort", cat({kLps, kOne, kOne, Bytes(1011, 0xEE)}), kRefused, {}, false},
    {"OneBlockOver", cat({kLps, kOne, kOne, Bytes(1013, 0xEE)}), kRefused, {}, false},
    {"OneBlockWordsOfOne", block(cat({kLps, kOne, kOne})), kRead, {kLpsWord, 1, 1}, true},
    {"TwoBlocks", cat({kLps, kOne, kOne, Bytes(2036, 0xEE)}), kRead, {kLpsWord, 1, 1}, true},
    {"WordsLittleEndian",
     block(cat({kLps, {1, 2, 3, 4, 0xF1, 0xF2, 0xF3, 0xF4}})),
     kRead,
     {kLpsWord, 0x04030201, 0xF4F3F2F1},
     true},
    {"Word1Zero", block(cat({kLps, {0, 0, 0, 0}, kOne})), kRead, {kLpsWord, 0, 1}, false},
    {"Word2Zero", block(cat({kLps, kOne, {0, 0, 0, 0}})), kRead, {kLpsWord, 1, 0}, false},
    {"SwappedMagicRefused",
     block(cat({{0x2A, 0x53, 0x50, 0x4C}, kOne, kOne})),
     kRefused,
     {},
     false},
    {"SymmetricMagicForward",
     block(cat({{0x98, 0x2B, 0x35, 0x37}, kOne, kOne})),
     kRead,
     {0x37352B98, 1, 1},
     true},
    {"SymmetricMagicBackward",
     block(cat({{0x37, 0x35, 0x2B, 0x98}, kOne, kOne})),
     kRead,
     {0x982B3537, 1, 1},
     true},
};

INSTANTIATE_TEST_SUITE_P(ImageHeader, ReadImageHeaderTest, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageHeaderTest, EveryMagicAcceptedInItsOwnByteOrderOnly) {
    testing::TempDir dir;
    for (const auto& magic : kMagicInFile) {
        Bytes swapped(magic.rbegin(), magic.rend());
        const bool swappedIsListed =
            std::find(kMagicInFile.begin(), kMagicInFile.end(), swapped) != kMagicInFile.end();
        FirmwareHeader header;
        EXPECT_EQ(
            ReadImageHeader(utf8Path(dir.write("a.bin", block(cat({magic, Bytes(8, 1)})))), header),
            ImageHeaderResult::HeaderRead);
        EXPECT_EQ(ReadImageHeader(utf8Path(dir.write("b.bin", block(cat({swapped, Bytes(8, 1)})))),
                                  header),
                  swappedIsListed ? ImageHeaderResult::HeaderRead : ImageHeaderResult::NotFirmware)
            << int(magic[0]);
    }
}

TEST(ImageHeaderTest, NonAsciiPath) {
    testing::TempDir dir;
    const auto file = dir.write(reinterpret_cast<const char*>(u8"\u56fa\u4ef6.bin"),
                                block(cat({kLps, kOne, kOne})));
    FirmwareHeader header;
    EXPECT_EQ(ReadImageHeader(utf8Path(file), header), ImageHeaderResult::HeaderRead);
}

struct UnreadableCase {
    const char* name;
    std::string path;  // below the temporary directory unless absolute
};

void PrintTo(const UnreadableCase& row, std::ostream* out) {
    *out << row.name;
}

class UnreadableImageTest : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(UnreadableImageTest, CannotOpen) {
    testing::TempDir dir;
    dir.write("folder/inner.bin", block(cat({kLps, kOne, kOne})));
    const std::filesystem::path path(GetParam().path);
    if (path.is_absolute() && !std::filesystem::exists(path)) {
        GTEST_SKIP() << path << " does not exist here";
    }
    const auto target = path.is_absolute() ? path : dir.path() / path;
    FirmwareHeader header{1, 2, 3};
    EXPECT_EQ(ReadImageHeader(utf8Path(target), header), ImageHeaderResult::CannotOpen);
    EXPECT_EQ(testing::openHandlesOn(target), 0);
    EXPECT_EQ(header.magic, 0u);
    EXPECT_EQ(header.word1, 0u);
    EXPECT_EQ(header.word2, 0u);
}

const UnreadableCase kUnreadableCases[] = {
    {"Missing", "missing.bin"},
    {"Directory", "folder"},
    // Opens, but reading offset 0 of the process's own memory fails (EIO):
    // a read error, not a short file.
    {"ReadError", "/proc/self/mem"},
};

INSTANTIATE_TEST_SUITE_P(ImageHeader, UnreadableImageTest, ::testing::ValuesIn(kUnreadableCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Files the header cannot describe: refused as no image, without blocking.
struct UnsuitedCase {
    const char* name;
    // Makes the file at `path`.
    std::function<void(const std::filesystem::path& path)> make;
    ImageHeaderResult result;
};

void PrintTo(const UnsuitedCase& row, std::ostream* out) {
    *out << row.name;
}

#ifndef __EMSCRIPTEN__  // node's files under emscripten end before 4 GiB
// A valid header followed by a hole up to `length` bytes: no disk is used.
void sparseImage(const std::filesystem::path& path, uint64_t length) {
    const Bytes header = cat({kLps, kOne, kOne});
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(header.data()),
                  static_cast<std::streamsize>(header.size()));
        ASSERT_TRUE(out.flush());
    }
    std::filesystem::resize_file(path, length);
}

constexpr uint64_t kFourGiB = uint64_t{1} << 32;
#endif

class UnsuitedImageTest : public ::testing::TestWithParam<UnsuitedCase> {};

TEST_P(UnsuitedImageTest, RefusedWithoutBlocking) {
    testing::TempDir dir;
    const auto path = dir.path() / "image.bin";
    GetParam().make(path);
    auto reading = std::async(std::launch::async, [&] {
        FirmwareHeader header{1, 2, 3};
        return ReadImageHeader(utf8Path(path), header);
    });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
#ifndef _WIN32
        // Give a FIFO's reader its writer, so that the test can end.
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            ::close(writer);
        }
#endif
        ADD_FAILURE() << "the read blocked";
    }
    EXPECT_EQ(reading.get(), GetParam().result);
    EXPECT_EQ(testing::openHandlesOn(path), 0);
}

const UnsuitedCase kUnsuitedCases[] = {
#ifndef __EMSCRIPTEN__
    // The header's 32-bit length would announce only the last 256 KiB.
    {"FourGiBAndMore", [](const auto& p) { sparseImage(p, kFourGiB + 256 * 1024); },
     ImageHeaderResult::NotFirmware},
    {"FourGiBExactly", [](const auto& p) { sparseImage(p, kFourGiB); },
     ImageHeaderResult::NotFirmware},
    // Not whole blocks: refused by its length, before it is read.
    {"OneByteLessThanFourGiB", [](const auto& p) { sparseImage(p, kFourGiB - 1); },
     ImageHeaderResult::NotFirmware},
#endif
#ifndef _WIN32
    {"Fifo", [](const auto& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
     ImageHeaderResult::NotFirmware},
    {"DeviceNode", [](const auto& p) { std::filesystem::create_symlink("/dev/zero", p); },
     ImageHeaderResult::NotFirmware},
#endif
};

INSTANTIATE_TEST_SUITE_P(ImageHeader, UnsuitedImageTest, ::testing::ValuesIn(kUnsuitedCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qor
