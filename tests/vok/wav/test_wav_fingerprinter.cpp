// The WAVE driver: encodings and their sample types, its messages, and
// reading real files through the driver into the stand-in family.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/eng_memory.h"
#include "tests/libvok/engine/test_family.h"
#include "tests/support/alloc_faults.h"
#include "tests/support/wav_writer.h"
#include "wav/wav_fingerprinter.h"

namespace {

using namespace Zuvanti;
using test_family::behaviour;
using test_family::calls;
using vok_test::Bytes;
using vok_test::WavWriter;

// Opens the driver's protected input operations and record to the tests.
class Probe : public WAVFingerprinter {
public:
    using WAVFingerprinter::CloseAudio;
    using WAVFingerprinter::GetAudioSample;
    const AudioFormat &Format() const { return format; }
    int32_t State() const { return state; }
};

std::string chain(const FingerprinterException *e)
{
    std::string text;
    for (; e; e = e->Inner())
        text += "[" + e->Message() + "]";
    return text;
}

class WavDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        vok_test::start_memory_layer();
        test_family::install();
    }
    void TearDown() override { eng_registry_override(nullptr); }

    // Initialize on the file; answers the thrown chain or "".
    std::string initialize(Probe &driver)
    {
        try {
            driver.Initialize(path);
            return "";
        } catch (FingerprinterException *e) {
            const std::string text = chain(e);
            delete e;
            return text;
        }
    }
    std::string generate(Probe &driver, AlgorithmFlags flags, int32_t blocks)
    {
        char *text = nullptr;
        try {
            const int status = driver.GenerateFingerprint(flags, blocks, &text);
            eng_free_text(&text);
            return std::to_string(status);
        } catch (FingerprinterException *e) {
            const std::string thrown = chain(e);
            delete e;
            return thrown;
        }
    }

    vok_test::TempDir dir;
    std::string path = dir.file("in.wav");
};

TEST_F(WavDriver, EncodingsMapToSampleTypesOrAreRefused)
{
    struct Row {
        uint16_t tag, bits;
        SampleType type; // 0: refused with the message
        const char *refusal;
    };
    const Row rows[] = {
        {1, 8, SAMPLE_PCM_U8, ""},
        {1, 16, SAMPLE_PCM_S16, ""},
        {1, 24, 0, "Unsupported bits per sample"},
        {1, 4, 0, "Unsupported bits per sample"},
        {6, 8, SAMPLE_ALAW, ""},
        {6, 16, SAMPLE_ALAW, ""},
        {7, 8, SAMPLE_MULAW, ""},
        {7, 0, SAMPLE_MULAW, ""},
        {3, 32, 0, "Unknown encoding type"},
    };
    for (const Row &row : rows) {
        vok_test::write_wav(path, row.tag, 2, 16000, row.bits, Bytes(8, 1));
        Probe driver;
        const std::string thrown = initialize(driver);
        if (row.type == 0) {
            EXPECT_EQ(std::string("[Get audio type error][") + row.refusal + "]", thrown)
                << row.tag;
            EXPECT_EQ(BaseFingerprinter::NoInput, driver.State());
            EXPECT_EQ(row.tag, driver.Format().sample_type) << "the raw tag stays";
            continue;
        }
        ASSERT_EQ("", thrown) << row.tag;
        EXPECT_EQ(row.type, driver.Format().sample_type) << row.tag << "/" << row.bits;
        EXPECT_EQ(16000u, driver.Format().sample_rate);
        EXPECT_EQ(2u, driver.Format().channels);
    }
}

TEST_F(WavDriver, OpenFailuresNameTheParsersCode)
{
    Probe driver;
    EXPECT_EQ("[Get audio type error][Error parsing WAV file: Could not open file]",
              initialize(driver));
    vok_test::write_file(path, {'R', 'I', 'F', 'F'});
    EXPECT_EQ("[Get audio type error][Error parsing WAV file: File format invalid]",
              initialize(driver));
}

TEST_F(WavDriver, ChannelsAndRatePassUnchangedToTheEngine)
{
    vok_test::write_wav(path, 1, 6, 96000, 16, Bytes(120, 3));
    Probe driver;
    ASSERT_EQ("", initialize(driver));
    EXPECT_EQ("1", generate(driver, Stream4, 1));
    EXPECT_EQ(4u, calls.id);
    EXPECT_EQ(6u, calls.channels);
    EXPECT_EQ(96000u, calls.rate);
    EXPECT_EQ(SAMPLE_PCM_S16, calls.type);
}

TEST_F(WavDriver, EachCallWithFewerThanOneBlockTakesOneDataStretch)
{
    WavWriter()
        .chunk("LIST", Bytes(11, 'i'))
        .fmt(7, 1, 8000, 8)
        .chunk("fact", {3, 0, 0, 0})
        .data(Bytes(3, 1))
        .chunk("LIST", Bytes(5, 'j'))
        .data(Bytes(1000, 2))
        .data({})
        .data(Bytes(7, 3))
        .write(path);
    Probe driver;
    ASSERT_EQ("", initialize(driver));
    std::vector<uint32_t> sizes;
    std::string statuses;
    for (int call = 0; call < 4; ++call) {
        const int adds = calls.adds;
        statuses += generate(driver, Stream1 | Continuous, 0);
        sizes.push_back(calls.adds > adds ? calls.byte_count : 0u);
    }
    // The empty stretch adds nothing, so that call finds no fingerprint.
    EXPECT_EQ("00[Not enough audio to generate a fingerprint.]-2", statuses);
    EXPECT_EQ((std::vector<uint32_t>{3, 1000, 0, 0}), sizes);
}

TEST_F(WavDriver, ReadsHoldWholeFramesAndTheLastPieceTheRest)
{
    // 8-bit stereo at 11025 Hz: 3.5 s is 77175 bytes, cut to 77174.
    vok_test::write_wav(path, 1, 2, 11025, 8, Bytes(200000, 0x80));
    Probe driver;
    ASSERT_EQ("", initialize(driver));
    EXPECT_EQ("1", generate(driver, Stream1, 1));
    EXPECT_EQ(77174u, driver.Format().block_bytes);
    EXPECT_EQ(3, calls.adds);
    EXPECT_EQ(200000u - 2 * 77174u, calls.byte_count);
}

TEST_F(WavDriver, ATruncatedDataChunkFailsTheRead)
{
    WavWriter().fmt(1, 2, 44100, 16).header("data", 4000).raw(Bytes(1000, 9)).write(path);
    Probe driver;
    ASSERT_EQ("", initialize(driver));
    EXPECT_EQ("[Unable to get audio sample.][Error getting audio sample: File format invalid]",
              generate(driver, Stream1, 2));
    EXPECT_EQ(BaseFingerprinter::NoInput, driver.State());
}

TEST_F(WavDriver, ReadingAfterCloseOrWithoutABufferIsRefused)
{
    vok_test::write_wav(path, 1, 2, 44100, 16, Bytes(16, 0));
    Probe driver;
    ASSERT_EQ("", initialize(driver));
    AudioFormat format = driver.Format();
    uint32_t count = 0;
    try {
        driver.GetAudioSample(&format, &count, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (FingerprinterException *e) {
        EXPECT_EQ("[Audio sample buffer is NULL]", chain(e));
        delete e;
    }
    driver.CloseAudio();
    driver.CloseAudio(); // a second close does nothing
    uint8_t *bytes = nullptr;
    testing::internal::CaptureStdout();
    try {
        driver.GetAudioSample(&format, &count, &bytes);
        ADD_FAILURE() << "no exception";
    } catch (FingerprinterException *e) {
        EXPECT_EQ("[Error getting audio sample: Invalid input]", chain(e));
        delete e;
    }
    EXPECT_EQ(0u, testing::internal::GetCapturedStdout().find("PATDF wavParserHandle=(nil)"));
}

TEST_F(WavDriver, ASecondInitializeReplacesTheOpenFile)
{
    vok_test::write_wav(path, 1, 1, 8000, 8, Bytes(16, 0));
    const std::string other = dir.file("other.wav");
    vok_test::write_wav(other, 7, 2, 16000, 8, Bytes(16, 0));
    Probe driver;
    ASSERT_EQ("", initialize(driver));
    driver.Initialize(other);
    EXPECT_EQ(SAMPLE_MULAW, driver.Format().sample_type);
    EXPECT_EQ(16000u, driver.Format().sample_rate);
}

} // namespace
