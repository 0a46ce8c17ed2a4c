#include "update/image_file.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <vector>

#include "tests/support/temp_dir.h"

namespace qor {
namespace {

using testing::TempDir;

std::vector<uint8_t> pattern(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i ^ (i >> 8));
    }
    return bytes;
}

TEST(ImageFile, ReadsWholeBlocksThenAShortOneAndStartsOverAfterIt) {
    TempDir dir;
    const auto bytes = pattern(2 * 1024 + 10);
    ImageFile file;
    ASSERT_TRUE(file.open(dir.write("a.bin", bytes).string()));
    EXPECT_EQ(file.length(), bytes.size());

    std::array<uint8_t, 1024> block{};
    EXPECT_EQ(file.read(block), 1024u);
    EXPECT_EQ(file.read(block), 1024u);
    EXPECT_EQ(file.length(), bytes.size()) << "asking the length keeps the read position";
    EXPECT_EQ(file.read(block), 10u);
    EXPECT_EQ(file.read(block), 0u);

    // After running into the end, the file can still be measured and read again.
    EXPECT_EQ(file.length(), bytes.size());
    ASSERT_TRUE(file.seekToStart());
    EXPECT_EQ(file.read(block), 1024u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin()));
}

TEST(ImageFile, NextGivesTheBytesReadWouldAcrossTheReadAheadsEdges) {
    TempDir dir;
    const auto bytes = pattern(200 * 1000 + 7);
    ImageFile file;
    ASSERT_TRUE(file.open(dir.write("a.bin", bytes).string()));
    std::vector<uint8_t> seen;
    std::array<uint8_t, 1000> scratch{};
    for (auto part = file.next(scratch); !part.empty(); part = file.next(scratch)) {
        seen.insert(seen.end(), part.begin(), part.end());
    }
    EXPECT_EQ(seen, bytes);
}

TEST(ImageFile, EveryWorkerHoldsItsOwnHandleWhileOthersMayWrite) {
    TempDir dir;
    const auto path = dir.write("a.bin", pattern(4096)).string();
    std::ofstream writer(path, std::ios::binary | std::ios::app);
    ASSERT_TRUE(writer.is_open());
    ImageFile first;
    ImageFile second;
    ASSERT_TRUE(first.open(path));
    ASSERT_TRUE(second.open(path));
    std::array<uint8_t, 1024> block{};
    EXPECT_EQ(first.read(block), 1024u);
    EXPECT_EQ(second.read(block), 1024u);
}

TEST(ImageFile, MissingFileAndFolderDoNotOpen) {
    TempDir dir;
    ImageFile file;
    EXPECT_FALSE(file.open((dir / "missing.bin").string()));
    EXPECT_FALSE(file.open(dir.path().string()));
    EXPECT_FALSE(file.open(""));
    EXPECT_EQ(file.length(), 0u);
}

TEST(ImageFile, ReadErrorCountsAsAShortRead) {
    // Reading a process's own memory at address 0 fails with an I/O error.
    ImageFile file;
    if (!file.open("/proc/self/mem")) {
        GTEST_SKIP() << "no /proc here";
    }
    std::array<uint8_t, 1024> block{};
    EXPECT_LT(file.read(block), block.size());
}

}  // namespace
}  // namespace qor
