// vokid's fingerprint layer in-process: its one table of algorithms (the
// rates and lengths against figures worked out here), the engine handle
// (its numbers against its own document read by the tests' decoder), the
// pipeline from a file to frames or values, and inputs told apart as
// documents or audio.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/libvok/engine/documents.h"
#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "vokid/fingerprint/algorithm.h"
#include "vokid/fingerprint/engine_handle.h"
#include "vokid/fingerprint/fingerprinter.h"
#include "vokid/fingerprint/recognised_input.h"
#include "vokid/input/input_error.h"

namespace {

using vokid::Algorithm;

// A document's whole blocks read by the tests' decoder: words, and each
// frame's nearest kept mask.
void blocksOf(const std::string &document, std::vector<uint32_t> &words,
              std::vector<uint32_t> &masks)
{
    for (const std::string &text : documents::block_texts(document)) {
        const auto block = stream_test::decode_block(stream_test::base64_decode(text));
        for (size_t i = 0; i < 256; ++i) {
            words.push_back(block.words[i]);
            masks.push_back(block.masks[(i + 1) / 3]);
        }
    }
}

std::vector<uint32_t> numbersOf(const std::string &text)
{
    std::vector<uint32_t> numbers;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        end = end == std::string::npos ? text.size() : end;
        numbers.push_back(static_cast<uint32_t>(std::stoul(text.substr(at, end - at))));
        at = end + 1;
    }
    return numbers;
}

TEST(VokidAlgorithms, OneTableWithWhatTheEngineTakes)
{
    const std::vector<uint32_t> tableRates = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
    // Rounded up to a tenth. One block: a window of 2048 samples at 5512.5
    // Hz, then 256 hops of 64. The spectral fingerprint: twelve frames of
    // 32768 samples at 11025 Hz, 11264 apart.
    const auto tenths = [](double seconds) { return std::ceil(seconds * 10) / 10; };
    const double block = tenths((2048.0 + 256 * 64) / 5512.5);
    const double spectral = tenths((11 * 11264.0 + 32768) / 11025);
    const struct {
        const char *name;
        uint32_t id;
        vokid::Family family;
        std::vector<uint32_t> rates;
        double seconds;
    } rows[] = {
        {"FileFixed", ENG_ALG_FILE_FIXED, vokid::Family::Spectral, tableRates, spectral},
        {"FileFloat", ENG_ALG_FILE_FLOAT, vokid::Family::Spectral, {}, spectral},
        {"Stream1", ENG_ALG_STREAM1, vokid::Family::Streaming, tableRates, block},
        {"Stream4", ENG_ALG_STREAM4, vokid::Family::Streaming, tableRates, block},
    };
    EXPECT_EQ(4u, vokid::algorithmNames().size());
    for (const auto &row : rows) {
        const auto algorithm = vokid::algorithmNamed(row.name);
        ASSERT_TRUE(algorithm) << row.name;
        EXPECT_STREQ(row.name, vokid::algorithmName(*algorithm));
        EXPECT_EQ(row.id, vokid::engineId(*algorithm)) << row.name;
        EXPECT_EQ(algorithm, vokid::algorithmOfEngineId(row.id)) << row.name;
        EXPECT_EQ(row.family, vokid::familyOf(*algorithm)) << row.name;
        EXPECT_EQ(row.rates, vokid::acceptedRates(*algorithm)) << row.name;
        EXPECT_DOUBLE_EQ(row.seconds, vokid::minimumSeconds(*algorithm)) << row.name;
    }
    EXPECT_FALSE(vokid::algorithmNamed("stream1"));
    EXPECT_FALSE(vokid::algorithmOfEngineId(ENG_ALG_STREAM6));
}

TEST(VokidEngineHandle, NumbersAreTheDocuments)
{
    const std::vector<int16_t> music = vok_test::recording(12, 20, 22050, 2);
    for (uint32_t id : {ENG_ALG_STREAM1, ENG_ALG_STREAM4, ENG_ALG_FILE_FIXED, ENG_ALG_FILE_FLOAT}) {
        vokid::FingerprintHandle handle(id, 22050, 2);
        EXPECT_TRUE(handle.add(music.data(), music.size() / 2)) << id;
        const std::string document = handle.serialize();
        if (id == ENG_ALG_FILE_FIXED || id == ENG_ALG_FILE_FLOAT) {
            EXPECT_EQ(numbersOf(documents::block_texts(document).at(0)), handle.values()) << id;
            EXPECT_THROW(handle.frames(), vokid::EngineError) << id;
            continue;
        }
        std::vector<uint32_t> words, masks;
        blocksOf(document, words, masks);
        const vokid::SubFingerprints frames = vokid::SubFingerprints::of(handle.frames());
        ASSERT_GT(frames.size(), words.size()) << id;
        EXPECT_EQ(words, std::vector<uint32_t>(frames.words.begin(),
                                               frames.words.begin() + words.size()))
            << id;
        EXPECT_EQ(masks, std::vector<uint32_t>(frames.weak.begin(),
                                               frames.weak.begin() + masks.size()))
            << id;
        try {
            handle.values();
            FAIL() << id;
        } catch (const vokid::EngineError &error) {
            EXPECT_EQ(ENG_E_INVALID_ARG, error.code()) << id;
        }
    }
}

// The pipeline from a WAVE file: the frames are the whole blocks of the
// document it writes when asked for one, and the figures are the file's.
TEST(VokidFingerprinter, FramesAreTheDocumentsWholeBlocks)
{
    vok_test::TempDir dir;
    const std::string file = dir.file("music.wav");
    vok_test::write_recording(file, 13, 9.5, 22050, 2);
    for (Algorithm algorithm : {Algorithm::Stream1, Algorithm::Stream4}) {
        const vokid::AudioInput input = vokid::AudioInput::named(file);
        const vokid::Fingerprint made = vokid::fingerprint(input, {algorithm, 0, false});
        const vokid::Fingerprint written = vokid::fingerprint(input, {algorithm, 0, true});
        EXPECT_TRUE(made.xml.empty());
        EXPECT_EQ(0u, written.frames.size());
        std::vector<uint32_t> words, masks;
        blocksOf(written.xml, words, masks);
        EXPECT_EQ(words, made.frames.words);
        EXPECT_EQ(masks, made.frames.weak);
        EXPECT_EQ(3u * 256, made.frames.size());
        EXPECT_DOUBLE_EQ(9.5, made.duration);
        EXPECT_EQ(22050u, made.sampleRate);
        EXPECT_EQ(2u, made.channels);
        const vokid::Document document = made.asDocument();
        EXPECT_EQ(vokid::engineId(algorithm), document.algorithm);
        EXPECT_EQ(3u, document.blockCount());
    }
}

TEST(VokidFingerprinter, TooLittleAudioSaysHowMuchIsNeeded)
{
    vok_test::TempDir dir;
    const struct {
        double seconds;
        Algorithm algorithm;
        const char *message;
    } rows[] = {
        {2, Algorithm::Stream1, "unsupported: 2.0 s of audio, Stream1 needs at least 3.4 s"},
        {10, Algorithm::FileFloat,
         "unsupported: 10.0 s of audio, FileFloat needs at least 14.3 s of sound after leading "
         "silence"},
        {0, Algorithm::Stream4, "no audio in it"},
    };
    for (const auto &row : rows) {
        const std::string file = dir.file("short.wav");
        vok_test::write_wav(file, 1, 1, 11025, 16,
                            vok_test::pcm16(vok_test::recording(14, row.seconds, 11025, 1)));
        try {
            vokid::fingerprint(vokid::AudioInput::named(file), {row.algorithm, 0, false});
            FAIL() << row.message;
        } catch (const vokid::InputError &error) {
            EXPECT_STREQ(row.message, error.what());
        }
    }
}

TEST(VokidRecognisedInput, DocumentsOrAudioByTheirContent)
{
    vok_test::TempDir dir;
    const std::string wav = dir.file("music.wav");
    vok_test::write_recording(wav, 15, 5, 11025, 1);
    const std::string xml = dir.file("music.xml");
    const std::string two = documents::music(ENG_ALG_STREAM1) + documents::music(ENG_ALG_STREAM4);
    vok_test::write_file(xml, vok_test::Bytes(two.begin(), two.end()));
    const vokid::RecognisedInput audio = vokid::recogniseInput(wav);
    EXPECT_TRUE(audio.audio);
    EXPECT_TRUE(audio.documents.empty());
    const vokid::RecognisedInput documents = vokid::recogniseInput(xml);
    EXPECT_FALSE(documents.audio);
    ASSERT_EQ(2u, documents.documents.size());
    EXPECT_EQ(ENG_ALG_STREAM4, documents.documents[1].algorithm);
    EXPECT_EQ(two, vokid::readInputText(xml));
    try {
        vokid::readInputText(xml, two.size() - 1);
        FAIL() << "a text larger than the limit was read";
    } catch (const vokid::InputError &error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("larger than"));
    }
    EXPECT_THROW(vokid::recogniseInput(dir.file("none.wav")), vokid::InputError);
}

} // namespace
