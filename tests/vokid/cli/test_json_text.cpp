// JSON as vokid prints it: the exact layout (objects one member per line,
// arrays of plain values on one line), and that it reads back as the same
// value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vokid/cli/json_text.h"

namespace {

using Json = nlohmann::ordered_json;

TEST(JsonText, Layout)
{
    const std::vector<std::pair<Json, std::string>> rows = {
        {Json(3), "3\n"},
        {Json("a\"b"), "\"a\\\"b\"\n"},
        {Json(nullptr), "null\n"},
        {Json::object(), "{}\n"},
        {Json::array(), "[]\n"},
        {Json::array({1, 2, 3}), "[1,2,3]\n"},
        {Json{{"a", 1}, {"b", "x"}}, "{\n  \"a\": 1,\n  \"b\": \"x\"\n}\n"},
        {Json{{"values", {1.5, -2}}, {"empty", Json::object()}},
         "{\n  \"values\": [1.5,-2],\n  \"empty\": {}\n}\n"},
        {Json::array({Json{{"n", 1}}, 2}), "[\n  {\n    \"n\": 1\n  },\n  2\n]\n"},
        {Json{{"outer", {{"inner", {{"deep", true}}}}}},
         "{\n  \"outer\": {\n    \"inner\": {\n      \"deep\": true\n    }\n  }\n}\n"},
    };
    for (const auto &[value, text] : rows) {
        EXPECT_EQ(text, vokid::readableJson(value)) << value.dump();
        EXPECT_EQ(value, Json::parse(text)) << text;
    }
}

// Text from outside, as text output shows it and as JSON carries it: each
// control character or byte that is not UTF-8 spelled out, the rest kept.
TEST(JsonText, ControlCharactersAndBytesThatAreNotUtf8)
{
    const struct {
        std::string text, shown, json;
    } rows[] = {
        {"plain é ✓ 𝄞", "plain é ✓ 𝄞", "\"plain é ✓ 𝄞\""},
        {"red\x1b[31m", "red\\x1b[31m", "\"red\\u001b[31m\""},
        {std::string("nul\0tab\tcr\rlf\n", 14), "nul\\x00tab\\x09cr\\x0dlf\\x0a",
         "\"nul\\u0000tab\\tcr\\rlf\\n\""},
        {"del\x7f bell\x07", "del\\x7f bell\\x07", "\"del\x7f bell\\u0007\""},
        {"csi\xc2\x9b nbsp\xc2\xa0", "csi\\xc2\\x9b nbsp\xc2\xa0", "\"csi\xc2\x9b nbsp\xc2\xa0\""},
        {"latin1 \xe9t\xe9", "latin1 \\xe9t\\xe9", "\"latin1 \xef\xbf\xbdt\xef\xbf\xbd\""},
        {"cut \xe2\x9c", "cut \\xe2\\x9c", "\"cut \xef\xbf\xbd\""},
        {"overlong \xc0\xaf surrogate \xed\xa0\x80", "overlong \\xc0\\xaf surrogate \\xed\\xa0\\x80",
         "\"overlong \xef\xbf\xbd\xef\xbf\xbd surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        {"beyond \xf4\x90\x80\x80", "beyond \\xf4\\x90\\x80\\x80",
         "\"beyond \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.shown, vokid::shownText(row.text)) << row.shown;
        EXPECT_EQ(row.json, vokid::compactJson(Json(row.text))) << row.shown;
        EXPECT_EQ(row.json + "\n", vokid::readableJson(Json(row.text))) << row.shown;
    }
}

TEST(JsonText, SecondsToTheMillisecond)
{
    const std::vector<std::pair<double, double>> rows = {
        {3.3435374, 3.344}, {0.0004, 0.0},      {0.0005, 0.001}, {-1.2345, -1.235},
        {59.9996, 60.0},    {123.456, 123.456}, {0, 0},
    };
    for (const auto &[seconds, rounded] : rows)
        EXPECT_DOUBLE_EQ(rounded, vokid::roundedSeconds(seconds)) << seconds;
}

} // namespace
