// FileFixed describes the same spectral shape as FileFloat: for generated
// speech, music, tones and chirps at every FileFixed rate, sample type and
// channel count, each of the 30 FileFixed values lies within 328 (1% of
// full scale) of the FileFloat value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>

#include "tests/libvok/algo/spectral/sfp_test_signals.h"
#include <vok/vok_engine.h>

namespace {

const uint32_t kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
const SampleType kTypes[] = {SAMPLE_PCM_S16, SAMPLE_PCM_U8, SAMPLE_ALAW, SAMPLE_MULAW};

TEST(SfpAgreement, FixedStaysWithinOnePercentOfFloat)
{
    const EngineConfig config = {nullptr, 0, 0};
    ASSERT_EQ(0u, eng_initialize(&config));
    uint32_t worst = 0;
    std::string worst_case;
    uint32_t runs = 0;
    for (uint32_t r = 0; r < 8; ++r) {
        std::map<std::pair<int, uint32_t>, std::vector<double>> signals;
        for (uint32_t t = 0; t < 4; ++t) {
            for (uint32_t channels = 1; channels <= 2; ++channels) {
                // Every kind meets every rate, type and channel count across
                // the table, without generating all 64 x 4 inputs.
                const sfp_test::Kind kind = sfp_test::kKinds[(r + t + channels) % 4];
                auto key = std::make_pair(static_cast<int>(kind), channels);
                if (!signals.count(key))
                    signals[key] = sfp_test::make_signal(kind, kRates[r], channels, 16.0, 100 + r);
                const std::vector<uint8_t> bytes = sfp_test::encode(signals[key], kTypes[t]);
                const sfp_test::Run fixed =
                    sfp_test::fingerprint(1, kRates[r], kTypes[t], channels, bytes);
                const sfp_test::Run floating =
                    sfp_test::fingerprint(2, kRates[r], kTypes[t], channels, bytes);
                const std::string name = std::string(sfp_test::kind_name(kind)) + " " +
                                         std::to_string(kRates[r]) + " Hz type " +
                                         std::to_string(kTypes[t]) + " channels " +
                                         std::to_string(channels);
                ASSERT_EQ(0u, fixed.result) << name;
                ASSERT_EQ(0u, floating.result) << name;
                ASSERT_EQ(30u, fixed.values.size()) << name;
                ASSERT_EQ(30u, floating.values.size()) << name;
                ++runs;
                for (int i = 0; i < 30; ++i) {
                    const uint32_t difference = static_cast<uint32_t>(std::abs(
                        static_cast<int>(fixed.values[i]) - static_cast<int>(floating.values[i])));
                    EXPECT_LE(difference, 328u) << name << " value " << i;
                    if (difference > worst) {
                        worst = difference;
                        worst_case = name + " value " + std::to_string(i);
                    }
                }
            }
        }
    }
    EXPECT_EQ(64u, runs);
    std::cout << "largest FileFixed/FileFloat difference: " << worst << " (" << worst_case << ")\n";
}

} // namespace
