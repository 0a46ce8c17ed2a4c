#include "update/csv_report.h"

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
    RunRecord record{at(1700000000), "ttyACM1", "SN,1",
                     "fw 2.bin",     "ab12",    "failed",
                     2048,           1.23456,   "Transmit File Failed (-2)",
                     "block-refused"};
    long error = -1;
    auto report = CsvReport::open(path, error);
    ASSERT_TRUE(report);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(report->append(record));
    record.result = "succeeded";
    record.message = "";
    record.code = "ok";
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
              "time,port,instance,image,image_sha256,result,bytes,seconds,message,code\r\n"
              "2023-11-14T22:13:20Z,ttyACM1,\"SN,1\",fw 2.bin,ab12,failed,2048,1.235,"
              "Transmit File Failed (-2),block-refused\r\n"
              "2023-11-14T22:13:20Z,ttyACM1,\"SN,1\",fw 2.bin,ab12,succeeded,2048,1.235,,ok\r\n"
              "2023-11-14T22:13:20Z,ttyACM1,\"SN,1\",fw 2.bin,ab12,succeeded,2048,0.500,,ok\r\n");
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A report begun before the code column, by this station or another, keeps
// its columns: a file never mixes two layouts.
TEST(StationReport, AReportBegunWithoutCodesKeepsItsColumns) {
    const std::string oldHeader =
        "time,port,instance,image,image_sha256,result,bytes,seconds,message\r\n";
    const RunRecord record{at(1700000000), "ttyACM2", "SN2", "fw.bin",       "ab12",
                           "failed",       4096,      2.0,   "Upate Failed", "update-timeout"};
    for (const std::string& before :
         {oldHeader, oldHeader + "2023-11-14T22:13:20Z,ttyACM1,SN1,fw.bin,ab12,succeeded,4096,"
                                 "1.000,\r\n"}) {
        testing::TempDir dir;
        const auto path = dir.write("report.csv", before);
        long error = -1;
        auto report = CsvReport::open(path, error);
        ASSERT_TRUE(report);
        ASSERT_TRUE(report->append(record));
        EXPECT_EQ(fileText(path), before +
                                      "2023-11-14T22:13:20Z,ttyACM2,SN2,fw.bin,ab12,failed,4096,"
                                      "2.000,Upate Failed\r\n");
    }
    // Begun by another station after this one opened it empty.
    testing::TempDir dir;
    const auto path = dir / "report.csv";
    long error = -1;
    auto report = CsvReport::open(path, error);
    ASSERT_TRUE(report);
    dir.write("report.csv", oldHeader);
    ASSERT_TRUE(report->append(record));
    EXPECT_EQ(fileText(path), oldHeader + csvLine(record, RecordLayout::WithoutCode));
}

TEST(StationReport, ARecordCutOffIsEndedBeforeTheNextOne) {
    const std::string header = csvHeaderLine();
    const std::string cut = "2023-11-14T22:13:20Z,ttyACM1,SN1,fw.bin,ab12,failed,2048,1.235,";
    struct Case {
        const char* name;
        std::string before;
        std::string mended;  // what the file holds before the next record
    };
    const Case cases[] = {
        {"InsideAQuotedField", header + cut + "\"Transmit, File",
         header + cut + "\"Transmit, File\"\r\n"},
        {"AfterADoubledQuote", header + cut + "\"say \"\"hi", header + cut + "\"say \"\"hi\"\r\n"},
        {"InAPlainField", header + cut.substr(0, 30), header + cut.substr(0, 30) + "\r\n"},
        {"BetweenCrAndLf", header + cut + "\r", header + cut + "\r\n"},
        {"Whole", header + cut + "\r\n", header + cut + "\r\n"},
        {"HeaderOnly", header, header},
    };
    const RunRecord record{at(1700000000), "ttyACM2", "SN2", "fw.bin", "ab12",
                           "succeeded",    4096,      2.0,   "",       "ok"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir dir;
        const auto path = dir.write("report.csv", c.before);
        long error = -1;
        auto report = CsvReport::open(path, error);
        ASSERT_TRUE(report);
        ASSERT_TRUE(report->append(record));
        EXPECT_EQ(fileText(path), c.mended + csvLine(record));
    }
}

TEST(StationReport, TwoStationsOnOneNewFileWriteOneHeader) {
    testing::TempDir dir;
    const auto path = dir / "report.csv";
    long error = -1;
    // Both open the file before either has written to it, as two stations
    // started together do; on Windows the second must be let in.
    auto first = CsvReport::open(path, error);
    auto second = CsvReport::open(path, error);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    RunRecord record{at(1700000000), "ttyACM0", "SN0", "fw.bin", "ab12",
                     "succeeded",    4096,      1.0,   "",       "ok"};
    ASSERT_TRUE(first->append(record));
    record.port = "ttyACM1";
    ASSERT_TRUE(second->append(record));
    const std::string text = fileText(path);
    EXPECT_EQ(text.find("time,"), 0u);
    EXPECT_EQ(text.find("time,", 1), std::string::npos) << text;
    EXPECT_NE(text.find("ttyACM1"), std::string::npos) << text;
}

TEST(StationReport, AFolderThatIsNotThereIsAnOsError) {
    testing::TempDir dir;
    long error = 0;
    EXPECT_FALSE(CsvReport::open(dir / "missing" / "report.csv", error));
    EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace qor
