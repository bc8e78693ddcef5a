// Creation, framing, silence trimming and completion of the spectral
// fingerprint, through its registry operations and the engine interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "algo/spectral/sfp_internal.h"
#include "tests/libvok/algo/spectral/sfp_test_signals.h"
#include "tests/support/alloc_faults.h"
#include <vok/vok_engine.h>

namespace {

class SfpState : public vok_test::LeakCheckedTest {};

// Loud from the first sample: +-15000 to 20000 with a slow tone, so the
// gate keeps everything and every frame can be equalised; the swell of the
// alternating part changes the mix from frame to frame (a steady sound has
// no fingerprint).
std::vector<int32_t> loud(size_t count, size_t offset = 0)
{
    std::vector<int32_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t n = i + offset;
        const double swell = 17500 + 2500 * std::sin(0.0001 * n);
        samples[i] = static_cast<int32_t>((n % 2 ? swell : -swell) + 5000 * std::sin(0.001 * n));
    }
    return samples;
}

struct Handle {
    explicit Handle(uint32_t id, uint32_t rate = 11025, SampleType type = SAMPLE_PCM_S16,
                    uint32_t channels = 1)
    {
        result = sfp_create(id, rate, type, channels, &state);
    }
    ~Handle()
    {
        if (state)
            sfp_destroy(state);
    }
    ResultCode add(const std::vector<int32_t> &samples, uint8_t *done)
    {
        const std::vector<uint8_t> bytes = sfp_test::pcm16(samples);
        return sfp_add_audio(state, bytes.data(), static_cast<uint32_t>(bytes.size()), done);
    }
    uint32_t frames() const { return static_cast<SpectralState *>(state)->statistics->frames; }
    void *state = nullptr;
    ResultCode result = 0;
};

TEST_F(SfpState, CreateRefusesInvalidArguments)
{
    void *state = nullptr;
    struct Case {
        uint32_t id, rate;
        SampleType type;
        uint32_t channels;
    } refused[] = {{0, 44100, 2, 2}, {3, 44100, 2, 2}, {1, 0, 2, 2},     {2, 0, 2, 2},
                   {1, 44100, 0, 2}, {2, 44100, 5, 2}, {1, 44100, 2, 0}, {2, 44100, 2, 3}};
    for (const Case &c : refused)
        EXPECT_EQ(SFP_E_INVALID_ARG, sfp_create(c.id, c.rate, c.type, c.channels, &state))
            << c.id << " " << c.rate << " " << c.type << " " << c.channels;
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_create(1, 44100, 2, 2, nullptr));
    EXPECT_EQ(nullptr, state);
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_destroy(nullptr));
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_reset(nullptr));
}

TEST_F(SfpState, FixedKnowsItsRatesFloatTakesAny)
{
    for (uint32_t rate : {8000u, 11025u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u}) {
        Handle fixed(1, rate);
        EXPECT_EQ(0u, fixed.result) << rate;
    }
    for (uint32_t rate : {12000u, 96000u, 48000u + 131072u, 0xFFFFFFFFu}) {
        void *state = nullptr;
        EXPECT_EQ(SFP_E_NO_MEMORY, sfp_create(1, rate, 2, 1, &state)) << rate;
        EXPECT_EQ(nullptr, state);
    }
    for (uint32_t rate : {12000u, 96000u, 7u, 44101u}) {
        Handle floating(2, rate);
        EXPECT_EQ(0u, floating.result) << rate;
    }
}

TEST_F(SfpState, CreationFailsCleanlyWhenMemoryFails)
{
    for (uint32_t id : {1u, 2u}) {
        for (uint32_t rate : {48000u, 44100u}) {
            const uint32_t failures = vok_test::for_each_allocation_failure([id, rate] {
                void *state = nullptr;
                const ResultCode result = sfp_create(id, rate, SAMPLE_PCM_S16, 2, &state);
                EXPECT_EQ(vok_test::allocation_failed() ? SFP_E_NO_MEMORY : 0u, result);
                EXPECT_EQ(result == 0, state != nullptr);
                if (state)
                    sfp_destroy(state);
            });
            EXPECT_GE(failures, 8u);
        }
    }
}

TEST_F(SfpState, AddAudioRefusesPartialFrames)
{
    Handle h(2, 44100, SAMPLE_PCM_S16, 2);
    const uint8_t bytes[8] = {};
    uint8_t done = 7;
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_add_audio(h.state, bytes, 3, &done));
    EXPECT_EQ(0, done);
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_add_audio(h.state, bytes, 0, &done));
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_add_audio(h.state, bytes, 6, &done));
    EXPECT_EQ(0u, sfp_add_audio(h.state, bytes, 8, &done));
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_add_audio(nullptr, bytes, 8, &done));
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_add_audio(h.state, nullptr, 8, &done));
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_add_audio(h.state, bytes, 8, nullptr));
}

TEST_F(SfpState, FramesAtFirst32768ThenEveryHopCompleteAt156672)
{
    for (uint32_t id : {1u, 2u}) {
        Handle h(id);
        uint8_t done = 0;
        size_t fed = 0;
        auto feed = [&](size_t count) {
            EXPECT_EQ(0u, h.add(loud(count, fed), &done));
            fed += count;
        };
        feed(32767);
        EXPECT_EQ(0u, h.frames()) << id;
        feed(1);
        EXPECT_EQ(1u, h.frames()) << id;
        for (uint32_t frame = 2; frame <= 11; ++frame) {
            feed(11263);
            EXPECT_EQ(frame - 1, h.frames()) << id;
            feed(1);
            EXPECT_EQ(frame, h.frames()) << id;
            EXPECT_EQ(0, done);
        }
        feed(11263);
        EXPECT_EQ(0, done);
        EXPECT_EQ(156671u, fed);
        feed(1);
        EXPECT_EQ(1, done) << id;
        EXPECT_EQ(12u, h.frames());
        // Complete: audio is ignored, the done flag stays set.
        auto *state = static_cast<SpectralState *>(h.state);
        const uint32_t write_pos = state->write_pos;
        feed(5000);
        EXPECT_EQ(1, done);
        EXPECT_EQ(write_pos, state->write_pos);
        EXPECT_EQ(12u, h.frames());
    }
}

TEST_F(SfpState, TheCompletingCallUsesNoFurtherInput)
{
    for (uint32_t id : {1u, 2u}) {
        // Exactly 156672 samples, or the same followed by other sound in
        // the same call: the same fingerprint.
        std::vector<int32_t> exact = loud(156672);
        std::vector<int32_t> longer = exact;
        for (int i = 0; i < 20000; ++i)
            longer.push_back(i % 7 * 3000);
        Handle a(id), b(id);
        uint8_t done_a = 0, done_b = 0;
        ASSERT_EQ(0u, a.add(exact, &done_a));
        ASSERT_EQ(0u, b.add(longer, &done_b));
        EXPECT_EQ(1, done_a);
        EXPECT_EQ(1, done_b);
        EXPECT_EQ(static_cast<SpectralState *>(a.state)->write_pos,
                  static_cast<SpectralState *>(b.state)->write_pos);
        int16_t va[30], vb[30];
        ASSERT_EQ(60u, sfp_get_result(static_cast<SpectralState *>(a.state)->statistics, va, 60));
        ASSERT_EQ(60u, sfp_get_result(static_cast<SpectralState *>(b.state)->statistics, vb, 60));
        EXPECT_EQ(0, std::memcmp(va, vb, sizeof va));
    }
}

TEST_F(SfpState, SilentInputNeverCompletes)
{
    for (uint32_t id : {1u, 2u}) {
        Handle h(id, 44100, SAMPLE_PCM_S16, 2);
        std::vector<uint8_t> silence(44100 * 4, 0);
        uint8_t done = 0;
        for (int second = 0; second < 20; ++second) {
            ASSERT_EQ(0u, sfp_add_audio(h.state, silence.data(),
                                        static_cast<uint32_t>(silence.size()), &done));
            ASSERT_EQ(0, done);
        }
        EXPECT_EQ(0u, h.frames());
        EXPECT_EQ(0u, static_cast<SpectralState *>(h.state)->write_pos);
        QueryElement *root = nullptr;
        EXPECT_EQ(SFP_E_NOT_COMPLETE, sfp_serialize(h.state, &root));
        EXPECT_EQ(nullptr, root);
    }
}

// Loud +-20000 samples after silence: the gate's mean deviation passes 100
// at the 13th loud sample (13 x the clip of 1000 over the window of 128),
// and the run is kept from 64 samples before that.
TEST_F(SfpState, GateKeepsSixtyFourSamplesBeforeTheSound)
{
    for (uint32_t id : {1u, 2u}) {
        for (size_t silence : {0u, 40u, 1000u, 5000u}) {
            std::vector<int32_t> input(silence, 0);
            const std::vector<int32_t> sound = loud(200000);
            input.insert(input.end(), sound.begin(), sound.end());
            const size_t found = silence + 12;
            const size_t kept_from = found > 64 ? found - 64 : 0;
            Handle h(id);
            uint8_t done = 0;
            const std::vector<int32_t> before(input.begin(), input.begin() + kept_from + 156671);
            ASSERT_EQ(0u, h.add(before, &done));
            EXPECT_EQ(0, done) << id << " silence " << silence;
            EXPECT_EQ(11u, h.frames());
            ASSERT_EQ(0u, h.add({input[kept_from + 156671]}, &done));
            EXPECT_EQ(1, done) << id << " silence " << silence;
        }
    }
}

// The gate's rule written out directly: a window of the last 128 values
// (filled with the first run's values when fresh), the clipped deviation of
// each value from the window's mean, and sound once the mean deviation
// passes the threshold.
struct ReferenceGate {
    std::vector<int64_t> values, deviations;
    size_t pos = 0;
    bool primed = false;

    uint32_t feed(const std::vector<int64_t> &run)
    {
        if (!primed) {
            values.assign(128, 0);
            deviations.assign(128, 0);
            for (size_t i = 0; i < 128 && i < run.size(); ++i)
                values[i] = run[i];
            pos = 0;
            primed = true;
        }
        uint32_t result = static_cast<uint32_t>(run.size());
        for (size_t i = 0; i < run.size(); ++i) {
            values[pos] = run[i];
            int64_t sum = 0;
            for (int64_t v : values)
                sum += v;
            const int64_t mean = sum / 128; // truncating toward zero
            deviations[pos] = std::min<int64_t>(std::llabs(run[i] - mean), 1000);
            pos = (pos + 1) % 128;
            int64_t total = 0;
            for (int64_t d : deviations)
                total += d;
            if (result == run.size() && total / 128 > 100)
                result = static_cast<uint32_t>(i > 64 ? i - 64 : 0);
        }
        return result;
    }
};

TEST_F(SfpState, GateFollowsItsRuleAcrossCalls)
{
    std::vector<std::vector<int64_t>> runs = {
        std::vector<int64_t>(50, 30), std::vector<int64_t>(50, -31), std::vector<int64_t>(300, 0)};
    for (size_t i = 100; i < 300; ++i)
        runs[2][i] = (i % 2 ? 20000 : -20000) + static_cast<int64_t>(i);
    std::vector<int64_t> soft(400);
    for (size_t i = 0; i < soft.size(); ++i)
        soft[i] = static_cast<int64_t>(i) * (i % 3 == 0 ? 3 : -2);
    runs.push_back(soft);
    for (uint32_t shift : {0u, 13u, 14u}) {
        SilenceGate *gate = sfp_gate_create(128, 100, 1000);
        ASSERT_NE(nullptr, gate);
        ReferenceGate reference;
        for (const std::vector<int64_t> &run : runs) {
            uint32_t got;
            if (shift == 0) {
                std::vector<float> samples(run.begin(), run.end());
                got = sfp_gate_feed_float(gate, samples.data(), static_cast<uint32_t>(run.size()));
            } else {
                // Samples on the fixed scale are judged after the shift.
                std::vector<int32_t> samples;
                for (int64_t v : run)
                    samples.push_back(static_cast<int32_t>(v * (int64_t{1} << shift)));
                got = sfp_gate_feed_fixed(gate, samples.data(), static_cast<uint32_t>(run.size()),
                                          shift);
            }
            const uint32_t expected = reference.feed(run);
            EXPECT_EQ(expected, got) << "shift " << shift;
            if (expected < run.size()) {
                sfp_gate_reset(gate);
                reference.primed = false;
            }
        }
        sfp_gate_destroy(&gate);
        EXPECT_EQ(nullptr, gate);
    }
}

TEST_F(SfpState, ConvertersGiveTheMonoScaleOfEachType)
{
    struct Case {
        SampleType type;
        uint32_t channels;
        std::vector<uint8_t> bytes;
        float floating;
        int32_t fixed;
    } cases[] = {
        {SAMPLE_PCM_S16, 2, {0xE8, 0x03, 0x18, 0xFC}, 0.0f, 0},
        {SAMPLE_PCM_S16, 2, {0xFF, 0x7F, 0xFF, 0x7F}, 65534.0f, 65534 << 14},
        {SAMPLE_PCM_S16, 1, {0x00, 0x80}, -32768.0f, -32768 * 16384},
        {SAMPLE_PCM_U8, 1, {128}, 0.0f, 0},
        {SAMPLE_PCM_U8, 1, {255}, 127 << 8, 127 << 22},
        {SAMPLE_PCM_U8, 2, {0, 0}, -256 * 256, -(1 << 30)},
        {SAMPLE_ALAW, 1, {0}, 5504.0f, 5504 << 14},
        {SAMPLE_MULAW, 1, {0}, -32124.0f, -32124 * 16384},
        {SAMPLE_MULAW, 2, {0, 0x80}, 0.0f, 0},
    };
    for (const Case &c : cases) {
        Handle fixed(1, 44100, c.type, c.channels);
        Handle floating(2, 44100, c.type, c.channels);
        auto *fs = static_cast<SpectralState *>(fixed.state);
        auto *ls = static_cast<SpectralState *>(floating.state);
        const uint32_t size = static_cast<uint32_t>(c.bytes.size());
        ASSERT_EQ(1u, sfp_convert(fs, c.bytes.data(), size));
        ASSERT_EQ(1u, sfp_convert(ls, c.bytes.data(), size));
        EXPECT_EQ(c.fixed, fs->scratch.q[0]) << c.type;
        EXPECT_EQ(c.floating, ls->scratch.f[0]) << c.type;
    }
    Handle h(2, 44100, SAMPLE_PCM_S16, 2);
    std::vector<uint8_t> many(4 * 5000, 0);
    EXPECT_EQ(4096u, sfp_convert(static_cast<SpectralState *>(h.state), many.data(), 20000));
    EXPECT_EQ(0u, sfp_convert(static_cast<SpectralState *>(h.state), many.data(), 3));
}

TEST_F(SfpState, FloatAt11025HzPassesSamplesThrough)
{
    Handle h(2);
    auto *state = static_cast<SpectralState *>(h.state);
    const std::vector<int32_t> samples = {5, -7, 30000, -30000, 1};
    const std::vector<uint8_t> bytes = sfp_test::pcm16(samples);
    float out[8] = {};
    uint32_t used = 0, produced = 0;
    ASSERT_EQ(0u, sfp_resample_chunk(state, bytes.data(), 10, out, 8, &used, &produced));
    EXPECT_EQ(10u, used);
    ASSERT_EQ(5u, produced);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(static_cast<float>(samples[i]), out[i]);
    // Room for 2 samples takes 2 frames.
    ASSERT_EQ(0u, sfp_resample_chunk(state, bytes.data(), 10, out, 2, &used, &produced));
    EXPECT_EQ(4u, used);
    EXPECT_EQ(2u, produced);
    EXPECT_EQ(SFP_E_INVALID_ARG,
              sfp_resample_chunk(nullptr, bytes.data(), 10, out, 2, &used, &produced));
}

TEST_F(SfpState, ALostFrameRecordDelaysCompletionByOneHop)
{
    for (uint32_t id : {1u, 2u}) {
        Handle h(id);
        uint8_t done = 0;
        // The first frame allocates its equalisation table, then its record.
        eng_mem_fail_allocation(2);
        ASSERT_EQ(0u, h.add(loud(32768), &done));
        EXPECT_TRUE(vok_test::allocation_failed());
        eng_mem_fail_allocation(0);
        EXPECT_EQ(0u, h.frames());
        ASSERT_EQ(0u, h.add(loud(156672 - 32768, 32768), &done));
        EXPECT_EQ(0, done);
        EXPECT_EQ(11u, h.frames());
        ASSERT_EQ(0u, h.add(loud(11264, 156672), &done));
        EXPECT_EQ(1, done) << id;
    }
}

TEST_F(SfpState, ResetStartsAFreshFingerprint)
{
    for (uint32_t id : {1u, 2u}) {
        Handle h(id);
        uint8_t done = 0;
        ASSERT_EQ(0u, h.add(loud(160000), &done));
        ASSERT_EQ(1, done);
        int16_t first[30];
        auto *state = static_cast<SpectralState *>(h.state);
        ASSERT_EQ(60u, sfp_get_result(state->statistics, first, 60));
        ASSERT_EQ(0u, sfp_reset(state));
        EXPECT_EQ(0u, h.frames());
        EXPECT_EQ(0, state->statistics->result_ready);
        ASSERT_EQ(0u, h.add(loud(160000), &done));
        ASSERT_EQ(1, done);
        int16_t second[30];
        ASSERT_EQ(60u, sfp_get_result(state->statistics, second, 60));
        EXPECT_EQ(0, std::memcmp(first, second, sizeof first));
    }
}

} // namespace
