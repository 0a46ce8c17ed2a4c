#include "app/station_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace qor {
namespace {

using std::chrono::system_clock;

system_clock::time_point at(int64_t secondsSinceEpoch, int milliseconds = 0) {
    return system_clock::time_point(std::chrono::seconds(secondsSinceEpoch) +
                                    std::chrono::milliseconds(milliseconds));
}

TEST(StationReport, FieldsQuotedOnlyWhereRfc4180NeedsIt) {
    EXPECT_EQ(csvField(""), "");
    EXPECT_EQ(csvField("ttyACM0"), "ttyACM0");
    EXPECT_EQ(csvField("a b;c"), "a b;c");
    EXPECT_EQ(csvField("12,34"), "\"12,34\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\nlines\r"), "\"two\nlines\r\"");
    EXPECT_EQ(csvField("\xe7\xa6\xbb\xe7\xba\xbf"), "\xe7\xa6\xbb\xe7\xba\xbf");
    // Texts a spreadsheet would run as formulas stay texts.
    EXPECT_EQ(csvField("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
    EXPECT_EQ(csvField("+1"), "'+1");
    EXPECT_EQ(csvField("-fw.bin"), "'-fw.bin");
    EXPECT_EQ(csvField("@SUM"), "'@SUM");
    EXPECT_EQ(csvField("a=b"), "a=b");
}

TEST(StationReport, TimesInUtcToTheSecond) {
    EXPECT_EQ(utcTimestamp(at(0)), "1970-01-01T00:00:00Z");
    EXPECT_EQ(utcTimestamp(at(1700000000, 999)), "2023-11-14T22:13:20Z");
    EXPECT_EQ(utcTimestamp(at(1709208000)), "2024-02-29T12:00:00Z");
}

TEST(StationReport, AppendsRecordsAfterOneHeaderAcrossOpens) {
    testing::TempDir dir;
    const auto path = dir / "report.csv";
    StationRecord record{at(1700000000), "ttyACM1", "SN,1",
                         "fw 2.bin",     "ab12",    "failed",
                         2048,           1.23456,   "Transmit File Failed (-2)"};
    long error = -1;
    auto report = CsvReport::open(path, error);
    ASSERT_TRUE(report);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(report->append(record));
    record.result = "succeeded";
    record.message = "";
    EXPECT_TRUE(report->append(record));
    report.reset();
    // Opened again, as by the next watch: records only.
    report = CsvReport::open(path, error);
    ASSERT_TRUE(report);
    record.seconds = 0.5;
    EXPECT_TRUE(report->append(record));

    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "time,port,instance,image,image_sha256,result,bytes,seconds,message\r\n"
              "2023-11-14T22:13:20Z,ttyACM1,\"SN,1\",fw 2.bin,ab12,failed,2048,1.235,"
              "Transmit File Failed (-2)\r\n"
              "2023-11-14T22:13:20Z,ttyACM1,\"SN,1\",fw 2.bin,ab12,succeeded,2048,1.235,\r\n"
              "2023-11-14T22:13:20Z,ttyACM1,\"SN,1\",fw 2.bin,ab12,succeeded,2048,0.500,\r\n");
}

TEST(StationReport, AFolderThatIsNotThereIsAnOsError) {
    testing::TempDir dir;
    long error = 0;
    EXPECT_FALSE(CsvReport::open(dir / "missing" / "report.csv", error));
    EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace qor
