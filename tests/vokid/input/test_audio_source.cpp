// vokid's audio input in-process: WAVE files written byte by byte and
// files the ffmpeg program encodes, read through AudioSource and checked
// against what they hold (G.711 expanded by its defining formula, sines
// measured by their zero crossings).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/wav_writer.h"
#include "tests/vokid/input/audio_files.h"
#include "vokid/input/audio_source.h"
#include "vokid/input/input_error.h"
#include "vokid/input/stdin_io.h"

namespace {

using vok_test::Bytes;
using vokid::AudioInput;
using vokid::AudioSource;
using vokid::AudioTarget;

// G.711 as ITU-T defines it, 16-bit scaled.
int16_t alaw(uint8_t code)
{
    code ^= 0x55;
    int value = (code & 0x0F) << 4;
    const int segment = (code & 0x70) >> 4;
    value += segment == 0 ? 8 : 0x108;
    if (segment > 1)
        value <<= segment - 1;
    return static_cast<int16_t>(code & 0x80 ? value : -value);
}

int16_t mulaw(uint8_t code)
{
    code = static_cast<uint8_t>(~code);
    int value = (((code & 0x0F) << 3) + 0x84) << ((code & 0x70) >> 4);
    return static_cast<int16_t>(code & 0x80 ? 0x84 - value : value - 0x84);
}

AudioTarget anyRate()
{
    return AudioTarget{};
}

AudioTarget ratesOf(std::vector<uint32_t> rates, uint32_t fallback, double limit = 0)
{
    AudioTarget target;
    target.rates = std::move(rates);
    target.fallbackRate = fallback;
    target.limitSeconds = limit;
    return target;
}

class AudioSourceTest : public ::testing::Test {
protected:
    vok_test::TempDir dir;
};

// Every WAVE encoding at a rate the target takes comes out sample for
// sample: 16-bit as it is, 8-bit offset and scaled, G.711 expanded.
TEST_F(AudioSourceTest, WaveEncodingsAtAKeptRate)
{
    Bytes codes(4000);
    for (size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    const std::vector<int16_t> music = vok_test::music(2000, 2, 16000);
    std::vector<int16_t> eight;
    for (uint8_t code : codes)
        eight.push_back(static_cast<int16_t>((code - 128) * 256));
    std::vector<int16_t> alawed, mulawed;
    for (uint8_t code : codes) {
        alawed.push_back(alaw(code));
        mulawed.push_back(mulaw(code));
    }
    struct Row {
        const char *what;
        uint16_t tag, channels, bits;
        uint32_t rate;
        Bytes data;
        std::vector<int16_t> expected;
        AudioTarget target;
    };
    const std::vector<Row> rows = {
        {"16-bit stereo, any rate", 1, 2, 16, 16000, vok_test::pcm16(music), music, anyRate()},
        {"16-bit mono, a listed rate", 1, 1, 16, 8000, vok_test::pcm16(music), music,
         ratesOf({44100, 8000}, 44100)},
        {"8-bit unsigned mono", 1, 1, 8, 22050, codes, eight, anyRate()},
        {"A-law stereo", 6, 2, 8, 16000, codes, alawed, anyRate()},
        {"mu-law mono", 7, 1, 8, 11025, codes, mulawed, anyRate()},
    };
    for (const Row &row : rows) {
        const std::string path = dir.file("in.wav");
        vok_test::write_wav(path, row.tag, row.channels, row.rate, row.bits, row.data);
        AudioSource source(AudioInput::named(path), row.target);
        EXPECT_EQ(row.rate, source.rate()) << row.what;
        EXPECT_EQ(row.rate, source.sourceRate()) << row.what;
        EXPECT_EQ(row.channels, source.channels()) << row.what;
        EXPECT_EQ(row.channels, source.sourceChannels()) << row.what;
        EXPECT_EQ(row.expected, vokid_test::readAll(source)) << row.what;
        EXPECT_TRUE(source.decodedToEnd()) << row.what;
        const double seconds = static_cast<double>(row.expected.size()) / row.channels / row.rate;
        EXPECT_DOUBLE_EQ(seconds, source.deliveredSeconds()) << row.what;
        EXPECT_NEAR(seconds, source.statedSeconds(), 1e-3) << row.what;
    }
}

// More than two channels are mixed down to stereo at the same rate: the
// same sine in every channel stays that sine, as loud in both.
TEST_F(AudioSourceTest, ChannelsMixedDownToStereo)
{
    const uint32_t frames = 8000, rate = 8000;
    for (uint16_t channels : {3, 4, 6}) {
        const std::string path = dir.file("in.wav");
        vok_test::write_wav(path, 1, channels, rate, 16,
                            vok_test::pcm16(vokid_test::sine(frames, channels, rate, 500, 8000)));
        AudioSource source(AudioInput::named(path), anyRate());
        EXPECT_EQ(channels, source.sourceChannels());
        ASSERT_EQ(2u, source.channels()) << channels;
        const std::vector<int16_t> all = vokid_test::readAll(source);
        ASSERT_EQ(2u * frames, all.size()) << channels;
        const std::vector<int16_t> left = vokid_test::channel(all, 2, 0);
        EXPECT_EQ(left, vokid_test::channel(all, 2, 1)) << channels;
        EXPECT_NEAR(500.0, vokid_test::measuredFrequency(left, rate, 0), 0.5) << channels;
        const double level = vokid_test::rms(left, 0) / (8000 / std::sqrt(2.0));
        EXPECT_GT(level, 0.3) << channels;
        EXPECT_LE(level, 1.0) << channels;
    }
}

// A rate the target does not take becomes its fallback rate: the same
// tone, as loud, as long.
TEST_F(AudioSourceTest, RatesResampledToTheFallback)
{
    struct Row {
        uint32_t rate;
        uint16_t channels;
        AudioTarget target;
        uint32_t delivered;
    };
    const std::vector<Row> rows = {
        {8000, 1, ratesOf({11025, 44100, 48000}, 44100), 44100},
        {48000, 2, ratesOf({11025}, 11025), 11025},
        {22050, 2, ratesOf({8000}, 16000), 16000},
    };
    for (const Row &row : rows) {
        const uint32_t frames = 3 * row.rate;
        const std::string path = dir.file("in.wav");
        vok_test::write_wav(
            path, 1, row.channels, row.rate, 16,
            vok_test::pcm16(vokid_test::sine(frames, row.channels, row.rate, 441, 10000)));
        AudioSource source(AudioInput::named(path), row.target);
        EXPECT_EQ(row.rate, source.sourceRate());
        ASSERT_EQ(row.delivered, source.rate());
        EXPECT_EQ(row.channels, source.channels());
        const std::vector<int16_t> all = vokid_test::readAll(source);
        EXPECT_NEAR(3.0 * row.delivered, all.size() / row.channels, 2.0) << row.rate;
        const std::vector<int16_t> first = vokid_test::channel(all, row.channels, 0);
        const size_t edge = row.delivered / 10; // the filter's start and end
        EXPECT_NEAR(441.0, vokid_test::measuredFrequency(first, row.delivered, edge), 0.2)
            << row.rate;
        EXPECT_NEAR(10000 / std::sqrt(2.0), vokid_test::rms(first, edge), 70) << row.rate;
        EXPECT_TRUE(source.decodedToEnd());
    }
}

// The length limit cuts the delivery at exactly that many frames of the
// delivered rate.
TEST_F(AudioSourceTest, TheLengthLimit)
{
    const std::string path = dir.file("in.wav");
    vok_test::write_wav(path, 1, 2, 22050, 16,
                        vok_test::pcm16(vok_test::music(3 * 22050, 2, 22050)));
    struct Row {
        AudioTarget target;
        size_t frames;
        bool toEnd;
    };
    const std::vector<Row> rows = {
        {ratesOf({}, 44100, 1.0), 22050, false},     {ratesOf({}, 44100, 0.0001), 2, false},
        {ratesOf({8000}, 8000, 0.5), 4000, false},   {ratesOf({}, 44100, 3.0), 3 * 22050, false},
        {ratesOf({}, 44100, 10.0), 3 * 22050, true},
    };
    for (const Row &row : rows) {
        AudioSource source(AudioInput::named(path), row.target);
        EXPECT_EQ(row.frames, vokid_test::readAll(source).size() / 2) << row.target.limitSeconds;
        EXPECT_EQ(row.toEnd, source.decodedToEnd()) << row.target.limitSeconds;
        EXPECT_DOUBLE_EQ(static_cast<double>(row.frames) / source.rate(),
                         source.deliveredSeconds());
        EXPECT_EQ(0u, source.read().frames) << "nothing after the end";
    }
}

// What cannot be read is refused with the cause in plain words.
TEST_F(AudioSourceTest, RefusalsSayWhy)
{
    const Bytes wave = vok_test::WavWriter().fmt(1, 2, 44100, 16).data(Bytes(4000, 1)).bytes();
    vok_test::write_file(dir.file("empty.wav"), {});
    vok_test::write_file(dir.file("cut.wav"), Bytes(wave.begin(), wave.begin() + 20));
    vok_test::write_file(dir.file("text.wav"), Bytes(3000, 0));
    ASSERT_EQ(0, mkdir(dir.file("folder.wav").c_str(), 0755));
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"missing.wav", "no such file"},
        {"folder.wav", "a folder, not a file"},
        {"empty.wav", "an empty file"},
        {"cut.wav", "not audio in any format FFmpeg can read"},
        {"text.wav", "not audio in any format FFmpeg can read"},
    };
    for (const auto &[name, cause] : rows) {
        try {
            AudioSource source(AudioInput::named(dir.file(name)), anyRate());
            ADD_FAILURE() << name << " was read";
        } catch (const vokid::InputError &error) {
            EXPECT_EQ(cause, error.what()) << name;
        }
    }
}

// Standard input: what was taken from it to tell documents from audio
// comes first, then the rest; the audio is the file's.
TEST_F(AudioSourceTest, StandardInputWithBytesAlreadyTaken)
{
    const std::string path = dir.file("in.wav");
    const std::vector<int16_t> music = vok_test::music(30000, 2, 44100);
    vok_test::write_wav(path, 1, 2, 44100, 16, vok_test::pcm16(music));
    for (size_t taken : {size_t(0), size_t(12), size_t(44), size_t(50000)}) {
        vokid_test::StdinFrom input(path);
        AudioInput in = AudioInput::named("-");
        EXPECT_TRUE(in.standardInput);
        in.taken = vokid::readStdin(taken);
        EXPECT_EQ(std::min<size_t>(taken, 44 + music.size() * 2), in.taken.size());
        AudioSource source(in, anyRate());
        EXPECT_EQ(music, vokid_test::readAll(source)) << taken;
        EXPECT_LT(source.statedSeconds(), 0) << "a pipe states no length";
    }
}

// readStdin takes at most its limit, fewer at the end of the input.
TEST_F(AudioSourceTest, ReadingStandardInput)
{
    Bytes bytes(200000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i % 251);
    vok_test::write_file(dir.file("bytes"), bytes);
    vokid_test::StdinFrom input(dir.file("bytes"));
    const std::string first = vokid::readStdin(10);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 10), first);
    const std::string rest = vokid::readStdin(1 << 20);
    EXPECT_EQ(std::string(bytes.begin() + 10, bytes.end()), rest);
    EXPECT_EQ("", vokid::readStdin(100));
}

// Files the ffmpeg program encodes: a lossless one sample for sample, lossy
// ones as long and as high as their source; tags from the container or the
// audio stream, whatever their case.
TEST_F(AudioSourceTest, EncodedFilesAndTheirTags)
{
    if (!vokid_test::haveFfmpeg())
        GTEST_SKIP() << "the ffmpeg program is not installed";
    const std::string wav = dir.file("source.wav");
    const std::vector<int16_t> tone = vokid_test::sine(2 * 44100, 2, 44100, 441, 12000);
    vok_test::write_wav(wav, 1, 2, 44100, 16, vok_test::pcm16(tone));
    struct Row {
        const char *file;
        std::vector<std::string> options;
        uint32_t rate;
        bool exact;
    };
    const std::vector<Row> rows = {
        {"a.flac", {"-c:a", "flac"}, 44100, true},
        {"a.ogg", {"-c:a", "libvorbis"}, 44100, false},
        {"a.opus", {"-c:a", "libopus"}, 48000, false},
        {"a.mp3", {"-c:a", "libmp3lame"}, 44100, false},
    };
    for (const Row &row : rows) {
        std::vector<std::string> options = row.options;
        options.insert(options.end(), {"-metadata", "title=A Tone", "-metadata", "artist=Vok"});
        vokid_test::ffmpeg(wav, options, dir.file(row.file));
        AudioSource source(AudioInput::named(dir.file(row.file)), anyRate());
        EXPECT_EQ(row.rate, source.rate()) << row.file;
        EXPECT_EQ(2u, source.channels()) << row.file;
        EXPECT_EQ("A Tone", source.tag("title")) << row.file;
        EXPECT_EQ("Vok", source.tag("ARTIST")) << row.file;
        EXPECT_EQ("", source.tag("album")) << row.file;
        const std::vector<int16_t> all = vokid_test::readAll(source);
        if (row.exact) {
            EXPECT_EQ(tone, all) << row.file;
            continue;
        }
        const std::vector<int16_t> left = vokid_test::channel(all, 2, 0);
        EXPECT_NEAR(2.0 * row.rate, left.size(), 0.06 * row.rate) << row.file;
        EXPECT_NEAR(441.0, vokid_test::measuredFrequency(left, row.rate, row.rate / 5), 0.5)
            << row.file;
        // Within 6%: MP3's encoder takes 5% off a 441 Hz tone.
        EXPECT_NEAR(12000 / std::sqrt(2.0), vokid_test::rms(left, row.rate / 5), 510) << row.file;
    }
}

} // namespace
