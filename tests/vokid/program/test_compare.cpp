// `vokid compare` on generated pairs: degraded copies, excerpts either way
// round, different recordings (also when both open with silence),
// documents against audio; and what it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"
#include "vokid/compare/acceptance.h"

namespace {

using vokid_test::vokid;

constexpr uint32_t kRate = 22050;

std::vector<int16_t> music(uint32_t seed, double seconds)
{
    return vok_test::recording(seed, seconds, kRate, 1);
}

std::vector<int16_t> slice(const std::vector<int16_t> &samples, double from, double to)
{
    return std::vector<int16_t>(samples.begin() + static_cast<long>(from * kRate),
                                samples.begin() + static_cast<long>(to * kRate));
}

std::vector<int16_t> join(std::vector<int16_t> first, const std::vector<int16_t> &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// 9 dB quieter, with white noise 20 dB below the signal.
std::vector<int16_t> degraded(const std::vector<int16_t> &samples)
{
    double power = 0;
    for (int16_t sample : samples)
        power += static_cast<double>(sample) * sample;
    const double amplitude = std::sqrt(3 * power / samples.size() / 100);
    const double gain = std::pow(10.0, -9.0 / 20);
    uint32_t state = 1;
    std::vector<int16_t> out;
    for (int16_t sample : samples) {
        state = state * 1664525u + 1013904223u;
        const double noise = (state / 4294967296.0 * 2 - 1) * amplitude;
        out.push_back(static_cast<int16_t>(std::lround((sample + noise) * gain)));
    }
    return out;
}

std::string written(const vok_test::TempDir &dir, const std::string &name,
                    const std::vector<int16_t> &samples)
{
    const std::string path = dir.file(name);
    vok_test::write_wav(path, 1, 1, kRate, 16, vok_test::pcm16(samples));
    return path;
}

TEST(VokidCompare, VerdictsOnGeneratedPairs)
{
    vok_test::TempDir dir;
    const std::vector<int16_t> a = music(31, 16), b = music(32, 16);
    const std::vector<int16_t> silence(5 * kRate, 0);
    const std::string original = written(dir, "a.wav", a);
    const std::string stream4 = dir.file("a.Stream4.xml");
    ASSERT_EQ(
        0, vokid_test::shell("\"$VOK\" -a Stream4 -c -f " + original + " > " + stream4).exit_code);
    const struct {
        const char *name;
        std::string a, b;
        const char *verdict;
        double offsetSeconds;
    } cases[] = {
        {"noise and gain", original, written(dir, "noisy.wav", degraded(a)), "same recording", 0},
        {"an excerpt", original, written(dir, "excerpt.wav", slice(a, 4, 10)), "same recording", 4},
        {"starting before", written(dir, "late.wav", slice(a, 3, 16)),
         written(dir, "early.wav", slice(a, 0, 10)), "same recording", -3},
        {"a Stream4 document", stream4, dir.file("noisy.wav"), "same recording", 0},
        {"different recordings", original, written(dir, "b.wav", b), "different", NAN},
        {"both opening with silence", written(dir, "silent-a.wav", join(silence, slice(a, 0, 5))),
         written(dir, "silent-b.wav", join(silence, slice(b, 0, 5))), "different", NAN},
        {"silence, then the same", dir.file("silent-a.wav"),
         written(dir, "silent-a-noisy.wav", degraded(join(silence, slice(a, 0, 5)))),
         "same recording", 0},
    };
    for (const auto &c : cases) {
        const nlohmann::json result = vokid_test::jsonOf(vokid({"compare", "--json", c.a, c.b}));
        EXPECT_EQ(c.verdict, result["verdict"]) << c.name << "\n" << result.dump();
        EXPECT_EQ("streaming", result["family"]);
        if (!std::isnan(c.offsetSeconds)) {
            // One sub-fingerprint is 11.6 ms.
            EXPECT_NEAR(c.offsetSeconds, result["offset_seconds"].get<double>(), 0.012) << c.name;
            EXPECT_LT(result["ber"].get<double>(), 0.15) << c.name;
        } else {
            EXPECT_GT(result["ber"].get<double>(), 0.35) << c.name;
        }
    }
    // Spectral fingerprints: a distance, no verdict; the degraded copy
    // nearer than another recording.
    const nlohmann::json near = vokid_test::jsonOf(
        vokid({"compare", "--json", "-a", "FileFixed", original, dir.file("noisy.wav")}));
    const nlohmann::json far = vokid_test::jsonOf(
        vokid({"compare", "--json", "-a", "FileFixed", original, dir.file("b.wav")}));
    EXPECT_EQ("spectral", near["family"]);
    EXPECT_FALSE(near.contains("verdict"));
    EXPECT_LT(2 * near["l1_distance"].get<int>(), far["l1_distance"].get<int>());
}

std::string fixed4(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

TEST(VokidCompare, TextReport)
{
    vok_test::TempDir dir;
    const std::string a = written(dir, "a.wav", music(41, 8));
    const vok_test::RunResult run = vokid({"compare", a, a});
    EXPECT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("A: " + a + "\nB: " + a +
                  "\noffset of B in A: 0 sub-fingerprints, 0.000 s\n"
                  "overlap: 5.944 s, 512 pairs, 0 with a quiet frame\n"
                  "bit error rate: 0.0000\nbit error rate without weak bits: 0.0000\n"
                  "threshold: " +
                  fixed4(vokid::kAcceptance.maxBer) + "\nverdict: same recording\n",
              run.out);
}

TEST(VokidCompare, RefusesWhatCannotBeCompared)
{
    vok_test::TempDir dir;
    const std::string a = written(dir, "a.wav", music(51, 16));
    const std::string streamDoc = dir.file("stream.xml"), spectralDoc = dir.file("spectral.xml"),
                      twoDocs = dir.file("two.xml");
    ASSERT_EQ(0, vokid_test::shell("\"$VOK\" -f " + a + " > " + streamDoc +
                                   "; \"$VOK\" -a FileFloat -f " + a + " > " + spectralDoc +
                                   "; cat " + streamDoc + " " + streamDoc + " > " + twoDocs)
                     .exit_code);
    const std::string usage = " (vokid --help shows the usage)\n";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{spectralDoc, a},
         2,
         "vokid: A is a spectral fingerprint: give -a FileFixed or -a FileFloat for the audio to "
         "compare with it" +
             usage},
        {{streamDoc, spectralDoc},
         2,
         "vokid: A is a streaming fingerprint and B a spectral one: they cannot be compared" +
             usage},
        {{"-a", "FileFixed", streamDoc, a},
         2,
         "vokid: A is a streaming fingerprint, but -a FileFixed makes spectral ones" + usage},
        {{"-", "-"}, 2, "vokid: standard input can be A or B, not both" + usage},
        {{a, dir.file("missing.wav")}, 1, "vokid: " + dir.file("missing.wav") + ": no such file\n"},
        {{twoDocs, a},
         1,
         "vokid: " + twoDocs + ": holds 2 fingerprint documents; compare takes one\n"},
        {{"--threshold", "1.5", a, a}, 2, ""},
        {{a}, 2, ""},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"compare"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const vok_test::RunResult run = vokid(args);
        EXPECT_EQ(c.code, run.exit_code) << run.err;
        EXPECT_EQ("", run.out);
        if (!c.err.empty()) {
            EXPECT_EQ(c.err, run.err);
        }
    }
    // With -a, a spectral document and audio compare.
    EXPECT_EQ(0, vokid({"compare", "-a", "FileFloat", spectralDoc, a}).exit_code);
}

} // namespace
