// The libswresample wrapper and the mono resampler over it: the frequency
// and level of a sine after resampling, measured from its zero crossings
// and its root-mean-square level; format conversion exact where it can be.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/vokid/input/audio_files.h"
#include "vokid/input/input_error.h"
#include "vokid/input/mono_resampler.h"
#include "vokid/input/resampler.h"

namespace {

using vokid::ChannelLayout;
using vokid::Resampler;

ChannelLayout layoutOf(int channels)
{
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    return ChannelLayout(layout);
}

// A sine through MonoResampler in pieces: the same tone at the new rate,
// as loud (channels mixed), as long once drained.
TEST(MonoResampler, KeepsTheToneItsLevelAndLength)
{
    struct Row {
        uint32_t rate, channels, outRate;
        double hz;
        size_t piece;
    };
    const std::vector<Row> rows = {
        {44100, 2, 11025, 1000, 4096},  {8000, 1, 11025, 440, 1},     {48000, 1, 11025, 3000, 777},
        {11025, 2, 11025, 200, 100000}, {22050, 2, 44100, 5000, 333},
    };
    for (const Row &row : rows) {
        const uint32_t frames = 2 * row.rate;
        const std::vector<int16_t> in =
            vokid_test::sine(frames, row.channels, row.rate, row.hz, 9000);
        vokid::MonoResampler resampler(row.rate, row.channels, row.outRate);
        std::vector<int16_t> out;
        for (size_t at = 0; at < frames; at += row.piece) {
            const size_t count = std::min<size_t>(row.piece, frames - at);
            resampler.add(in.data() + at * row.channels, count, out);
        }
        resampler.finish(out);
        EXPECT_NEAR(2.0 * row.outRate, out.size(), 2.0) << row.rate << " to " << row.outRate;
        const size_t edge = row.outRate / 20;
        EXPECT_NEAR(row.hz, vokid_test::measuredFrequency(out, row.outRate, edge), row.hz * 1e-3)
            << row.rate << " to " << row.outRate;
        EXPECT_NEAR(9000 / std::sqrt(2.0), vokid_test::rms(out, edge), 60)
            << row.rate << " to " << row.outRate;
    }
}

// Planar float stereo to interleaved 16-bit stereo at the same rate:
// each value scaled by 2^15 (full scale clipped), channels kept apart.
TEST(Resampler, ConvertsPlanarFloatExactly)
{
    const std::vector<float> left = {0.0f, 0.5f, -0.5f, 0.25f, 1.0f, -1.0f, 2.0f, -0.125f};
    std::vector<float> right(left.size());
    for (size_t i = 0; i < left.size(); ++i)
        right[i] = -left[i] / 2;
    Resampler resampler(layoutOf(2), AV_SAMPLE_FMT_FLTP, 8000, layoutOf(2), 8000);
    EXPECT_TRUE(resampler.takes(AV_SAMPLE_FMT_FLTP, layoutOf(2), 8000));
    EXPECT_FALSE(resampler.takes(AV_SAMPLE_FMT_FLT, layoutOf(2), 8000));
    EXPECT_FALSE(resampler.takes(AV_SAMPLE_FMT_FLTP, layoutOf(1), 8000));
    EXPECT_FALSE(resampler.takes(AV_SAMPLE_FMT_FLTP, layoutOf(2), 16000));
    const uint8_t *planes[] = {reinterpret_cast<const uint8_t *>(left.data()),
                               reinterpret_cast<const uint8_t *>(right.data())};
    std::vector<int16_t> out = {7}; // what is there stays
    const size_t got = resampler.convert(planes, static_cast<int>(left.size()), out);
    EXPECT_EQ(0u, resampler.drain(out)) << "no delay without resampling";
    ASSERT_EQ(left.size(), got);
    std::vector<int16_t> expected = {7};
    for (size_t i = 0; i < left.size(); ++i) {
        for (float v : {left[i], right[i]})
            expected.push_back(static_cast<int16_t>(
                std::lround(std::fmax(-32768.0, std::fmin(32767.0, v * 32768.0)))));
    }
    EXPECT_EQ(expected, out);
}

// A layout or rate FFmpeg cannot resample is an InputError.
TEST(Resampler, RefusesWhatFFmpegCannotMake)
{
    EXPECT_THROW(Resampler(layoutOf(2), AV_SAMPLE_FMT_S16, 0, layoutOf(1), 11025),
                 vokid::InputError);
    EXPECT_THROW(Resampler(layoutOf(2), AV_SAMPLE_FMT_NONE, 8000, layoutOf(1), 11025),
                 vokid::InputError);
}

} // namespace
