// The spectral fingerprint's document, through the engine interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "algo/spectral/sfp_internal.h"
#include "engine/eng_registry.h"
#include "tests/libvok/algo/spectral/sfp_test_signals.h"
#include "tests/support/alloc_faults.h"
#include <vok/vok_engine.h>

namespace {

class SfpSerialize : public vok_test::LeakCheckedTest {};

std::string expected_document(const std::string &values)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
           "<ZUVOK_FP_QUERY VERSION=\"1.0\">\n"
           "  <ALGORITHM>\n"
           "    <NAME>Quorindavel</NAME>\n"
           "    <VERSION>1.1</VERSION>\n"
           "    <QUERY>Quorindavel&quot;1.1</QUERY>\n"
           "  </ALGORITHM>\n"
           "  <FP_BLOCKS>\n"
           "    <FP_BLOCK TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" "
           "SEPARATOR=\" \">" +
           values +
           "</FP_BLOCK>\n"
           "  </FP_BLOCKS>\n"
           "</ZUVOK_FP_QUERY>\n";
}

// A complete handle of either variant: 20 seconds of generated music.
EngineHandle *complete_handle(uint32_t id)
{
    const std::vector<uint8_t> bytes = sfp_test::encode(
        sfp_test::make_signal(sfp_test::Kind::Music, 22050, 2, 16.0, 5), SAMPLE_PCM_S16);
    EngineHandle *handle = nullptr;
    EXPECT_EQ(0u, eng_create(id, SAMPLE_PCM_S16, 22050, 2, &handle));
    uint8_t done = 0;
    EXPECT_EQ(0u, eng_add_audio(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
    EXPECT_EQ(1, done);
    return handle;
}

TEST_F(SfpSerialize, DocumentIsExactAndRepeatable)
{
    for (uint32_t id : {1u, 2u}) {
        EngineHandle *handle = complete_handle(id);
        int16_t values[30];
        auto *state = static_cast<SpectralState *>(handle->state);
        ASSERT_EQ(60u, sfp_get_result(state->statistics, values, 60));
        std::string text;
        for (int i = 0; i < 30; ++i)
            text += (i ? " " : "") + std::to_string(static_cast<uint16_t>(values[i]));
        char *first = nullptr;
        char *second = nullptr;
        ASSERT_EQ(0u, eng_serialize_xml(handle, &first));
        ASSERT_EQ(0u, eng_serialize_xml(handle, &second));
        EXPECT_EQ(expected_document(text), first) << id;
        EXPECT_STREQ(first, second);
        EXPECT_EQ(29u, std::count(text.begin(), text.end(), ' '));
        eng_free_text(&first);
        eng_free_text(&second);
        eng_destroy(&handle);
    }
}

TEST_F(SfpSerialize, IncompleteFingerprintIsRefused)
{
    for (uint32_t id : {1u, 2u}) {
        EngineHandle *handle = nullptr;
        ASSERT_EQ(0u, eng_create(id, SAMPLE_PCM_S16, 44100, 2, &handle));
        char *text = reinterpret_cast<char *>(handle);
        EXPECT_EQ(SFP_E_NOT_COMPLETE, eng_serialize_xml(handle, &text));
        EXPECT_EQ(nullptr, text);
        std::vector<uint8_t> some(44100 * 4 * 5, 0);
        for (size_t i = 0; i < some.size(); i += 2)
            some[i + 1] = static_cast<uint8_t>(i * 37);
        uint8_t done = 1;
        ASSERT_EQ(0u,
                  eng_add_audio(handle, some.data(), static_cast<uint32_t>(some.size()), &done));
        EXPECT_EQ(0, done);
        EXPECT_EQ(SFP_E_NOT_COMPLETE, eng_serialize_xml(handle, &text));
        EXPECT_EQ(SFP_E_INVALID_ARG, sfp_serialize(nullptr, nullptr));
        eng_destroy(&handle);
    }
}

// A steady tone: every frame measures the same band levels, so there is no
// variation to share out, and the fingerprint cannot be computed.
TEST_F(SfpSerialize, SteadySoundCannotBeComputed)
{
    for (uint32_t id : {1u, 2u}) {
        std::vector<int32_t> samples(11025 * 16);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = (i % 4 < 2) ? 20000 : -20000;
        const std::vector<uint8_t> bytes = sfp_test::pcm16(samples);
        EngineHandle *handle = nullptr;
        ASSERT_EQ(0u, eng_create(id, SAMPLE_PCM_S16, 11025, 1, &handle));
        uint8_t done = 0;
        ASSERT_EQ(0u,
                  eng_add_audio(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
        EXPECT_EQ(1, done);
        char *text = nullptr;
        EXPECT_EQ(SFP_E_NOT_COMPLETE, eng_serialize_xml(handle, &text)) << id;
        EXPECT_EQ(nullptr, text);
        eng_destroy(&handle);
    }
}

TEST_F(SfpSerialize, FormatsUnsignedSixteenBitDecimals)
{
    int16_t values[4] = {0, -1, 32767, static_cast<int16_t>(0x8000)};
    SfpBlockDescriptor descriptor = {values, 8, 2};
    char *text = nullptr;
    ASSERT_EQ(0u, sfp_format_ascii(&descriptor, &text));
    EXPECT_STREQ("0 65535 32767 32768\n", text);
    eng_free(text);
    descriptor.bytes_per_value = 0;
    EXPECT_EQ(SFP_E_NO_DATA, sfp_format_ascii(&descriptor, &text));
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_format_ascii(nullptr, &text));
    EXPECT_EQ(SFP_E_INVALID_ARG, sfp_format_ascii(&descriptor, nullptr));
}

TEST_F(SfpSerialize, EveryAllocationFailureIsReportedAndCleanedUp)
{
    for (uint32_t id : {1u, 2u}) {
        EngineHandle *handle = complete_handle(id);
        char *reference = nullptr;
        ASSERT_EQ(0u, eng_serialize_xml(handle, &reference));
        const uint32_t failures = vok_test::for_each_allocation_failure([&] {
            char *text = nullptr;
            const ResultCode result = eng_serialize_xml(handle, &text);
            if (vok_test::allocation_failed()) {
                EXPECT_NE(0u, result);
                EXPECT_EQ(nullptr, text);
            } else {
                EXPECT_EQ(0u, result);
                EXPECT_STREQ(reference, text);
            }
            eng_free_text(&text);
        });
        EXPECT_GE(failures, 10u);
        eng_free_text(&reference);
        eng_destroy(&handle);
    }
}

} // namespace
