// `vokid duplicates` and `vokid compare` on copies at another tempo or
// speed (made by sox, an independent time stretch and resampler) and on
// tracks that share only a stretch: what is grouped, the coverage of each
// track against the known lengths, the tempo and speed reported.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::jsonLines;
using vokid_test::vokid;

constexpr uint32_t kRate = 22050;

bool haveSox()
{
    static const bool found = vokid_test::shell("sox --version > /dev/null 2>&1").exit_code == 0;
    return found;
}

std::vector<int16_t> music(uint32_t seed, double seconds)
{
    return vok_test::recording(seed, seconds, kRate, 1);
}

// Pieces of generated music one after another: {seed, seconds}.
std::vector<int16_t> joined(const std::vector<std::pair<uint32_t, double>> &pieces)
{
    std::vector<int16_t> all;
    for (const auto &[seed, seconds] : pieces) {
        const std::vector<int16_t> piece = music(seed, seconds);
        all.insert(all.end(), piece.begin(), piece.end());
    }
    return all;
}

std::string written(const vok_test::TempDir &dir, const std::string &name,
                    const std::vector<int16_t> &samples)
{
    const std::string path = dir.file(name);
    vok_test::write_wav(path, 1, 1, kRate, 16, vok_test::pcm16(samples));
    return path;
}

// `input` through a sox effect ("tempo 1.02", "speed 1.03").
std::string soxed(const vok_test::TempDir &dir, const std::string &input, const std::string &name,
                  const std::string &effect)
{
    const std::string path = dir.file(name);
    EXPECT_EQ(0, vokid_test::shell("sox " + input + " " + path + " " + effect).exit_code);
    return path;
}

class VokidDuplicates : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vokid_test::haveFfmpeg() || !haveSox())
            GTEST_SKIP() << "ffmpeg and sox are not both installed";
    }
    vok_test::TempDir dir;
};

TEST_F(VokidDuplicates, TempoCopiesAndSharedStretches)
{
    // A 30-s track, its copy 2% faster with the pitch kept, an unrelated
    // track; and two tracks of 30 and 40 s sharing one 10-s stretch, at
    // 10 s in the first and 15 s in the second.
    const std::string original = written(dir, "original.wav", music(71, 30));
    const std::string faster = soxed(dir, original, "faster.wav", "tempo 1.02");
    const std::string other = written(dir, "other.wav", music(72, 30));
    const std::string first = written(dir, "first.wav", joined({{73, 10}, {75, 10}, {74, 10}}));
    const std::string second =
        written(dir, "second.wav", joined({{76, 15}, {75, 10}, {77, 15}}));
    struct Pair {
        int a, b;
        double aCoverage, bCoverage, tempo;
    };
    const struct {
        const char *name;
        std::vector<std::string> tracks;
        std::vector<std::string> options;
        std::vector<Pair> pairs; // one group each
    } cases[] = {
        {"a copy at tempo 1.02", {original, faster, other}, {}, {{1, 2, 1, 1, 1.02}}},
        {"a shared 10-s stretch", {first, second, other}, {}, {}},
        {"the same, at least a tenth covered",
         {first, second, other},
         {"--min-coverage", "0.1"},
         {{1, 2, 10.0 / 30, 10.0 / 40, 1}}},
        {"a tenth, the tracks the other way round",
         {second, first},
         {"--min-coverage", "0.1"},
         {{1, 2, 10.0 / 40, 10.0 / 30, 1}}},
    };
    int number = 0;
    for (const auto &c : cases) {
        const std::string db = dir.file("db" + std::to_string(++number));
        std::vector<std::string> add = {"add", db};
        add.insert(add.end(), c.tracks.begin(), c.tracks.end());
        ASSERT_EQ(0, vokid(add).exit_code) << c.name;
        std::vector<std::string> args = {"duplicates", "--json", db};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const std::vector<nlohmann::json> groups = jsonLines(vokid(args));
        ASSERT_EQ(c.pairs.size(), groups.size()) << c.name;
        for (size_t g = 0; g < groups.size(); ++g) {
            ASSERT_EQ(1u, groups[g]["pairs"].size()) << c.name;
            const nlohmann::json &pair = groups[g]["pairs"][0];
            const Pair &expected = c.pairs[g];
            EXPECT_EQ(expected.a, pair["a"]) << c.name;
            EXPECT_EQ(expected.b, pair["b"]) << c.name;
            // A stretch is measured in chunks of 0.74 s, and a chunk that
            // straddles its edge may agree: up to a chunk and a frame
            // (0.37 s) more at each edge, 2.2 s of 30 s, 0.073.
            EXPECT_NEAR(expected.aCoverage, pair["a_coverage"].get<double>(), 0.073) << c.name;
            EXPECT_NEAR(expected.bCoverage, pair["b_coverage"].get<double>(), 0.073) << c.name;
            EXPECT_EQ(expected.tempo, pair["tempo"].get<double>()) << c.name;
            EXPECT_EQ(1.0, pair["speed"].get<double>()) << c.name;
        }
    }
    // The text names the tempo and the coverage.
    const vok_test::RunResult text = vokid({"duplicates", dir.file("db1")});
    EXPECT_NE(std::string::npos, text.out.find(", covering 100% of 1 and 9")) << text.out;
    EXPECT_NE(std::string::npos, text.out.find(", tempo 2% faster\n")) << text.out;
}

TEST_F(VokidDuplicates, MinCoverageOutsideZeroToOneIsAUsageError)
{
    const std::string db = dir.file("db");
    ASSERT_EQ(0, vokid({"add", db, written(dir, "a.wav", music(81, 8))}).exit_code);
    for (const char *value : {"2", "-0.1", "1.01", "nan", "half"}) {
        const vok_test::RunResult run = vokid({"duplicates", "--min-coverage", value, db});
        EXPECT_EQ(2, run.exit_code) << value;
        EXPECT_EQ("", run.out) << value;
        EXPECT_NE("", run.err) << value;
    }
    for (const char *value : {"0", "1"})
        EXPECT_EQ(0, vokid({"duplicates", "--min-coverage", value, db}).exit_code) << value;
}

// compare: a copy played fast (pitch too) and one at another tempo (pitch
// kept), as audio and as documents; the one read back is B's audio, else
// A's.
TEST_F(VokidDuplicates, CompareFindsSpeedAndTempo)
{
    const std::string original = written(dir, "original.wav", music(91, 20));
    const std::string fast = soxed(dir, original, "fast.wav", "speed 1.03");
    const std::string slower = soxed(dir, original, "slower.wav", "tempo 0.97");
    const std::string slowerDoc = dir.file("slower.xml"), originalDoc = dir.file("original.xml");
    ASSERT_EQ(0, vokid_test::shell("\"$VOK\" -f " + slower + " > " + slowerDoc + " && \"$VOK\" -f " +
                                   original + " > " + originalDoc)
                     .exit_code);
    const std::string fastDoc = dir.file("fast.xml");
    ASSERT_EQ(0, vokid_test::shell("\"$VOK\" -f " + fast + " > " + fastDoc).exit_code);
    const struct {
        const char *name;
        std::string a, b;
        double speed, tempo;
        const char *said;
    } cases[] = {
        {"played 3% fast", original, fast, 1.03, 1, ", played 3% fast\n"},
        {"tempo 3% slower", original, slower, 1, 0.97, ", tempo 3% slower\n"},
        {"a tempo between documents", originalDoc, slowerDoc, 1, 0.97, ", tempo 3% slower\n"},
        {"A's audio read back", original, fastDoc, 1.03, 1, ", played 3% fast\n"},
        {"as played", original, original, 1, 1, "verdict: same recording\n"},
    };
    for (const auto &c : cases) {
        const nlohmann::json result = vokid_test::jsonOf(vokid({"compare", "--json", c.a, c.b}));
        EXPECT_EQ("same recording", result["verdict"]) << c.name << "\n" << result.dump();
        EXPECT_EQ(c.speed, result["speed"].get<double>()) << c.name;
        EXPECT_EQ(c.tempo, result["tempo"].get<double>()) << c.name;
        const vok_test::RunResult text = vokid({"compare", c.a, c.b});
        EXPECT_EQ(c.said, text.out.substr(text.out.size() - std::string(c.said).size())) << c.name;
    }
    // Documents only: a speed cannot be read back, and 3% is beyond what
    // a tempo catches (the bands moved).
    const nlohmann::json documents =
        vokid_test::jsonOf(vokid({"compare", "--json", originalDoc, fastDoc}));
    EXPECT_EQ(1.0, documents["speed"].get<double>());
}

} // namespace
