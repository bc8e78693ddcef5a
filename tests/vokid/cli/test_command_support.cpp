// How the index commands write seconds, clock times and a track's tags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vokid/cli/command_support.h"

namespace {

TEST(CommandSupport, SecondsWithThreeDecimals)
{
    const std::vector<std::pair<double, std::string>> rows = {
        {63.42, "63.420"}, {0, "0.000"},     {0.0004, "0.000"},
        {0.0006, "0.001"}, {-1.5, "-1.500"}, {3600.25, "3600.250"},
    };
    for (const auto &[seconds, text] : rows)
        EXPECT_EQ(text, vokid::seconds3(seconds)) << seconds;
}

TEST(CommandSupport, ClockTimes)
{
    const std::vector<std::pair<double, std::string>> rows = {
        {0, "0:00.0"},          {-5, "0:00.0"},        {0.04, "0:00.0"},      {0.05, "0:00.1"},
        {9.95, "0:10.0"},       {59.96, "1:00.0"},     {205.4, "3:25.4"},     {3599.94, "59:59.9"},
        {3599.96, "1:00:00.0"}, {3723.0, "1:02:03.0"}, {36000, "10:00:00.0"},
    };
    for (const auto &[seconds, text] : rows)
        EXPECT_EQ(text, vokid::clockTime(seconds)) << seconds;
}

TEST(CommandSupport, TagsOfATrack)
{
    struct Row {
        std::string title, artist, tags;
    };
    const std::vector<Row> rows = {
        {"Title", "Artist", "Artist - Title"},
        {"Title", "", "Title"},
        {"", "Artist", "Artist"},
        {"", "", ""},
    };
    for (const Row &row : rows) {
        vokid::TrackInfo track;
        track.path = "/music/a.flac";
        track.title = row.title;
        track.artist = row.artist;
        EXPECT_EQ(row.tags, vokid::tagsOf(track)) << row.title << "/" << row.artist;
    }
}

} // namespace
