// Reading audio back at another speed, checked against the sine it must
// give; and the sub-fingerprints of a clip to its end, checked against the
// engine's fingerprint of longer audio and its own document.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/recording.h"
#include "vokid/compare/alignment.h"
#include "vokid/fingerprint/engine_handle.h"
#include "vokid/input/input_error.h"
#include "vokid/search/speed.h"
#include "vokid/search/stream_print.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(VokidSpeed, HypothesesNearestFirst)
{
    const std::vector<double> expected = {1.00, 0.99, 1.01, 0.98, 1.02, 0.97,
                                          1.03, 0.96, 1.04, 0.95, 1.05};
    EXPECT_EQ(expected, vokid::speedHypotheses());
    const std::vector<double> tempos(expected.begin() + 1, expected.end());
    EXPECT_EQ(tempos, vokid::tempoHypotheses());
}

// Word j of a clip laid on the grid of a track it plays `tempo` times too
// fast is the clip's word nearest to j / tempo.
TEST(VokidSpeed, TempoLaysWordsOnTheTrackGrid)
{
    vokid::SubFingerprints clip;
    clip.frameSeconds = 0.0116;
    clip.blockLength = 3;
    for (uint32_t i = 0; i < 100; ++i) {
        clip.words.push_back(i);
        clip.weak.push_back(i << 8);
        clip.quiet.push_back(i % 7 == 0);
    }
    const struct {
        double tempo;
        size_t length;
        std::vector<uint32_t> first;
    } cases[] = {
        {1.00, 100, {0, 1, 2, 3, 4, 5}},
        {1.05, 105, {0, 1, 2, 3, 4, 5}}, // 10 / 1.05 = 9.52: word 10 repeats 10
        {0.95, 95, {0, 1, 2, 3, 4, 5}},  // 10 / 0.95 = 10.53: word 10 skips to 11
    };
    for (const auto &c : cases) {
        const vokid::SubFingerprints laid = vokid::atTempo(clip, c.tempo);
        ASSERT_EQ(c.length, laid.size()) << c.tempo;
        EXPECT_EQ(clip.frameSeconds, laid.frameSeconds);
        for (size_t j = 0; j < c.first.size(); ++j)
            EXPECT_EQ(c.first[j], laid.words[j]) << c.tempo;
        for (size_t j = 0; j < laid.size(); ++j) {
            const auto i = static_cast<uint32_t>(std::llround(j / c.tempo));
            ASSERT_EQ(i, laid.words[j]) << c.tempo << " " << j;
            EXPECT_EQ(i << 8, laid.weak[j]);
            EXPECT_EQ(i % 7 == 0, laid.quiet[j] != 0);
        }
    }
}

TEST(VokidSpeed, ASineReadBackFasterIsLower)
{
    const double rate = 11025, frequency = 300;
    std::vector<int16_t> sine(22050);
    for (size_t n = 0; n < sine.size(); ++n)
        sine[n] =
            static_cast<int16_t>(std::lround(20000 * std::sin(2 * kPi * frequency * n / rate)));
    for (double speed : {0.97, 1.0, 1.02}) {
        std::vector<int16_t> whole, pieces;
        vokid::SpeedResampler(speed).add(sine.data(), sine.size(), whole);
        vokid::SpeedResampler resampler(speed);
        for (size_t at = 0; at < sine.size(); at += 1000)
            resampler.add(sine.data() + at, std::min<size_t>(1000, sine.size() - at), pieces);
        EXPECT_EQ(whole, pieces) << speed;
        // Output j is the input at j / speed: every sample but the last two.
        EXPECT_NEAR(static_cast<double>(sine.size()) * speed, static_cast<double>(whole.size()), 3)
            << speed;
        double worst = 0;
        for (size_t j = 2; j < whole.size(); ++j) {
            const double expected = 20000 * std::sin(2 * kPi * frequency * (j / speed) / rate);
            worst = std::max(worst, std::abs(whole[j] - expected));
        }
        // Cubic interpolation of a sine at 37 samples a period: within
        // 0.1% of its amplitude, rounding included.
        EXPECT_LT(worst, 20) << speed;
    }
}

vokid::SubFingerprints engineWords(const std::vector<int16_t> &samples, uint32_t rate)
{
    vokid::FingerprintHandle handle(3, rate, 1);
    handle.add(samples.data(), samples.size());
    return vokid::SubFingerprints::of(handle.frames());
}

TEST(VokidStreamPrint, CoversAClipToItsEnd)
{
    const uint32_t rate = 22050;
    const std::vector<int16_t> music = vok_test::recording(61, 16, rate, 1);
    const vokid::SubFingerprints whole = engineWords(music, rate);
    for (double seconds : {6.0, 9.5}) {
        vokid::StreamPrint print(rate, 1);
        const auto frames = static_cast<size_t>(seconds * rate);
        for (size_t at = 0; at < frames; at += 4096)
            print.add(music.data() + at, std::min<size_t>(4096, frames - at));
        const vokid::SubFingerprints clip = print.finish();
        // One word every 64 samples at 5512.5 Hz after the first 2048.
        const auto expected = static_cast<size_t>((seconds * 5512.5 - 2048) / 64);
        EXPECT_NEAR(static_cast<double>(expected), static_cast<double>(clip.size()), 3) << seconds;
        // Every word is the longer audio's, past the whole blocks too; so
        // is every mask but a last one whose kept mask was still to come.
        for (size_t i = 0; i < clip.size(); ++i) {
            ASSERT_EQ(whole.words[i], clip.words[i]) << i;
            ASSERT_EQ(whole.quiet[i], clip.quiet[i]) << i;
            if (i + 1 < clip.size()) {
                ASSERT_EQ(whole.weak[i], clip.weak[i]) << i;
            }
        }
    }
    vokid::StreamPrint tooShort(rate, 1);
    tooShort.add(music.data(), 3 * rate);
    try {
        tooShort.finish();
        FAIL() << "3 s gave a print";
    } catch (const vokid::InputError &error) {
        EXPECT_STREQ("3.0 s of audio, identification needs at least 3.4 s", error.what());
    }
}

} // namespace
