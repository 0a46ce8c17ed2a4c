#include <gtest/gtest.h>

#include "app/flash/json.h"

namespace qor {
namespace {

struct Escape {
    const char* name;
    std::string text;
    std::string json;
};

class JsonStrings : public ::testing::TestWithParam<Escape> {};

TEST_P(JsonStrings, AreValidLiterals) {
    EXPECT_EQ(jsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JsonStrings,
    ::testing::Values(Escape{"Plain", "COM3", "\"COM3\""},
                      Escape{"QuoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                      Escape{"LineEnds", "a\r\nb\t", "\"a\\r\\nb\\t\""},
                      Escape{"OtherControls", std::string("\x01\x1b", 2), "\"\\u0001\\u001b\""},
                      Escape{"ChineseStaysUtf8", "软件更新成功", "\"软件更新成功\""},
                      Escape{"MalformedUtf8Repaired", "a\xff", "\"a\xef\xbf\xbd\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonObject, KeepsTheOrderOfItsMembers) {
    const std::string json = JsonObject()
                                 .add("event", "device")
                                 .addNumber("sent", 4096)
                                 .addBool("ok", false)
                                 .addNull("port")
                                 .addDecimal("seconds", 0.41249, 3)
                                 .addArray("devices", {})
                                 .str();
    EXPECT_EQ(json, R"({"event":"device","sent":4096,"ok":false,"port":null,"seconds":0.412,)"
                    R"("devices":[]})");
}

}  // namespace
}  // namespace qor
