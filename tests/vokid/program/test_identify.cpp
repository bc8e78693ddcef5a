// identify through the program on a small library made here: a track
// anywhere in a clip (after talk, one after another with --all), at other
// tempos and speeds (made by sox), and why a clip has no match.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::shell;
using vokid_test::vokid;

constexpr uint32_t kRate = 22050;

bool have(const char *program)
{
    return shell(std::string("command -v ") + program + " > /dev/null 2>&1").exit_code == 0;
}

std::vector<int16_t> slice(const std::vector<int16_t> &samples, double from, double seconds)
{
    const auto begin = samples.begin() + static_cast<long>(from * kRate);
    return std::vector<int16_t>(begin, begin + static_cast<long>(seconds * kRate));
}

std::vector<int16_t> joined(std::vector<int16_t> a, const std::vector<int16_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class VokidIdentify : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (uint32_t t = 0; t < 4; ++t) {
            music.push_back(vok_test::recording(401 + t, 30, kRate, 1));
            files.push_back(write("t" + std::to_string(t + 1) + ".wav", music.back()));
        }
        db = dir.file("index");
        std::vector<std::string> args = {"add", db};
        args.insert(args.end(), files.begin(), files.end());
        const vok_test::RunResult added = vokid(args);
        ASSERT_EQ(0, added.exit_code) << added.err;
    }

    std::string write(const std::string &name, const std::vector<int16_t> &samples)
    {
        const std::string path = dir.file(name);
        vok_test::write_wav(path, 1, 1, kRate, 16, vok_test::pcm16(samples));
        return path;
    }

    // One clip's JSON object, with these options before the index.
    nlohmann::json identify(const std::string &clip, std::vector<std::string> options = {})
    {
        options.insert(options.begin(), {"identify", "--json"});
        options.insert(options.end(), {db, clip});
        const vok_test::RunResult run = vokid(options);
        EXPECT_EQ(0, run.exit_code) << run.err;
        return run.exit_code == 0 ? nlohmann::json::parse(run.out) : nlohmann::json();
    }

    vok_test::TempDir dir;
    std::vector<std::vector<int16_t>> music;
    std::vector<std::string> files;
    std::string db;
};

// sox's tempo keeps the pitch, its speed does not: the match names the
// hypothesis (1% apart) nearest the change, and the other one as 1.
TEST_F(VokidIdentify, FindsTracksAtOtherTemposAndSpeeds)
{
    if (!have("sox"))
        GTEST_SKIP() << "sox is not installed";
    const std::string source = write("source.wav", slice(music[2], 8, 9));
    const struct {
        const char *effect;
        double tempo, speed;
    } cases[] = {
        {"tempo 1.03", 1.03, 1}, {"tempo 0.97", 0.97, 1}, {"tempo 1.05", 1.05, 1},
        {"tempo 0.95", 0.95, 1}, {"speed 1.05", 1, 1.05}, {"speed 0.95", 1, 0.95},
    };
    for (const auto &c : cases) {
        const std::string clip = dir.file("changed.wav");
        ASSERT_EQ(0, shell("sox '" + source + "' '" + clip + "' " + c.effect).exit_code);
        const nlohmann::json result = identify(clip);
        const nlohmann::json &match = result["match"];
        ASSERT_TRUE(match.is_object()) << c.effect << ": " << result.dump();
        EXPECT_EQ(3, match["track"]) << c.effect;
        EXPECT_NEAR(c.tempo, match["tempo"].get<double>(), 0.011) << c.effect;
        EXPECT_NEAR(c.speed, match["speed"].get<double>(), 0.011) << c.effect;
        EXPECT_TRUE(match["speed"] == 1.0 || match["tempo"] == 1.0) << c.effect;
        EXPECT_NEAR(8, match["offset_seconds"].get<double>(), 0.1) << c.effect;
    }
}

// Speech first, then the track: found, heard from where the speech ends.
TEST_F(VokidIdentify, FindsATrackAfterTalk)
{
    if (!have("sox") || !have("espeak-ng"))
        GTEST_SKIP() << "sox or espeak-ng is not installed";
    const std::string speech = dir.file("speech.wav"), talk = dir.file("talk.wav");
    ASSERT_EQ(0, shell("espeak-ng -w '" + dir.file("raw.wav") +
                       "' 'Good evening, and welcome back. Here is a song that many of you "
                       "asked for during the last week, so listen closely' && sox '" +
                       dir.file("raw.wav") + "' -r 22050 -c 1 '" + speech + "'")
                     .exit_code);
    const double talkSeconds = std::stod(shell("soxi -D '" + speech + "'").out);
    const std::string track = write("music.wav", slice(music[1], 5, 7));
    ASSERT_EQ(0, shell("sox '" + speech + "' '" + track + "' '" + talk + "'").exit_code);
    const nlohmann::json result = identify(talk);
    const nlohmann::json &match = result["match"];
    ASSERT_TRUE(match.is_object()) << result.dump();
    EXPECT_EQ(2, match["track"]);
    EXPECT_NEAR(talkSeconds, match["clip_start"].get<double>(), 1.1) << result.dump();
    // Where a track is heard is told to a block of 1 s.
    EXPECT_NEAR(result["seconds"].get<double>(), match["clip_end"].get<double>(), 1.0);
    // The track's second heard at clip_start.
    EXPECT_NEAR(5 + match["clip_start"].get<double>() - talkSeconds,
                match["offset_seconds"].get<double>(), 0.05);
    // The speech alone is no track.
    EXPECT_TRUE(identify(speech)["match"].is_null());
}

// Two tracks one after another: --all names both in clip order; a longer
// search names every track a shorter one does.
TEST_F(VokidIdentify, AllNamesEveryTrackHeard)
{
    const std::string clip =
        write("two.wav", joined(slice(music[0], 3, 10), slice(music[3], 12, 10)));
    const nlohmann::json result = identify(clip, {"--all"});
    const nlohmann::json &matches = result["matches"];
    ASSERT_EQ(2u, matches.size()) << result.dump();
    EXPECT_EQ(1, matches[0]["track"]);
    EXPECT_EQ(4, matches[1]["track"]);
    EXPECT_NEAR(0, matches[0]["clip_start"].get<double>(), 1.0);
    EXPECT_NEAR(10, matches[0]["clip_end"].get<double>(), 1.1);
    EXPECT_NEAR(10, matches[1]["clip_start"].get<double>(), 1.1);
    EXPECT_NEAR(20, matches[1]["clip_end"].get<double>(), 1.0);
    EXPECT_NEAR(3, matches[0]["offset_seconds"].get<double>(), 0.05);
    EXPECT_NEAR(12 + matches[1]["clip_start"].get<double>() - 10,
                matches[1]["offset_seconds"].get<double>(), 0.05);
    // "match" is the one heard longest, and is one of them.
    EXPECT_TRUE(result["match"] == matches[0] || result["match"] == matches[1]);
    // Without --all there is no "matches".
    EXPECT_FALSE(identify(clip).contains("matches"));
    const auto tracks = [](const nlohmann::json &found) {
        std::vector<int> ids;
        for (const nlohmann::json &match : found["matches"])
            ids.push_back(match["track"]);
        return ids;
    };
    const std::vector<int> shorter = tracks(identify(clip, {"--all", "--length", "17"}));
    const std::vector<int> longer = tracks(result);
    EXPECT_EQ(std::vector<int>({1, 4}), shorter);
    for (int id : shorter)
        EXPECT_NE(longer.end(), std::find(longer.begin(), longer.end(), id)) << id;
}

// Each reason a clip has no match, in JSON and for people with --explain.
TEST_F(VokidIdentify, SaysWhyAClipHasNoMatch)
{
    // White noise: its words are random, and 4 tracks hold none of them.
    std::vector<int16_t> noise(6 * kRate);
    uint32_t state = 2024;
    for (int16_t &sample : noise) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<int16_t>(static_cast<int32_t>(state >> 16) - 32768) / 4;
    }
    const struct {
        const char *name;
        std::string clip;
        const char *reason;
        bool nearest;
    } cases[] = {
        {"silence", write("silence.wav", std::vector<int16_t>(8 * kRate, 0)), "too_quiet", false},
        {"white noise", write("noise.wav", noise), "no_candidate", false},
        {"another recording", write("other.wav", vok_test::recording(499, 12, kRate, 1)),
         "ber_too_high", true},
    };
    for (const auto &c : cases) {
        const nlohmann::json result = identify(c.clip);
        EXPECT_TRUE(result["match"].is_null()) << c.name;
        EXPECT_EQ(c.reason, result["reason"]) << c.name << ": " << result.dump();
        ASSERT_EQ(c.nearest, result["nearest"].is_object()) << c.name << ": " << result.dump();
        if (c.nearest) {
            const nlohmann::json &nearest = result["nearest"];
            EXPECT_GT(nearest["ber"].get<double>(), 0.25) << c.name;
            EXPECT_GT(nearest["matched_seconds"].get<double>(), 2.9) << c.name;
            EXPECT_TRUE(nearest["track"].is_number() && nearest["margin"].is_number());
        }
    }
    // A match has no reason.
    EXPECT_FALSE(identify(write("clip.wav", slice(music[0], 4, 6))).contains("reason"));
    // --explain: the reason and the nearest under the clip's line; nothing
    // without it.
    const vok_test::RunResult text =
        vokid({"identify", "--explain", db, cases[0].clip, cases[2].clip});
    EXPECT_EQ(0, text.exit_code) << text.err;
    std::istringstream lines(text.out);
    std::string line;
    std::vector<std::string> seen;
    while (std::getline(lines, line))
        seen.push_back(line);
    ASSERT_EQ(5u, seen.size()) << text.out;
    EXPECT_EQ(cases[0].clip + ": no match", seen[0]);
    EXPECT_EQ("  why: too quiet: fewer than 256 sub-fingerprints that are not silence", seen[1]);
    EXPECT_EQ(cases[2].clip + ": no match", seen[2]);
    EXPECT_EQ("  why: BER too high: the nearest track differs in too many bits", seen[3]);
    EXPECT_EQ("  nearest: track ", seen[4].substr(0, 17));
    EXPECT_NE(std::string::npos, seen[4].find(" s matched, margin "));
    EXPECT_EQ(cases[0].clip + ": no match\n", vokid({"identify", db, cases[0].clip}).out);
}

} // namespace
