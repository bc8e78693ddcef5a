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
