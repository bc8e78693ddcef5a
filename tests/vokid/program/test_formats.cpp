// Every format ffmpeg writes from a generated recording, decoded by vokid:
// the same recording as the WAVE file it came from, the file's own rate
// and channels reported, lossless ones to the exact document of vok.
#include <gtest/gtest.h>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::vokid;

struct Format {
    const char *name;
    std::vector<std::string> options;
    const char *extension;
    int rate;
    int channels;
    bool lossless; // decodes to the very samples of the WAVE file
};

uint16_t formatTag(const std::string &bytes)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[20]) | static_cast<uint8_t>(bytes[21])
                                                                       << 8);
}

TEST(VokidFormats, DecodesEveryFormatFfmpegWrites)
{
    if (!vokid_test::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed (apt-get install ffmpeg)";
    vok_test::TempDir dir;
    const std::string clean = dir.file("clean.wav");
    vok_test::write_recording(clean, 11, 6, 44100, 2);
    const std::string vokDocument = vokid_test::vok({"-c", "-f", clean}).out;
    const Format formats[] = {
        {"MP3", {"-c:a", "libmp3lame", "-b:a", "128k"}, ".mp3", 44100, 2, false},
        {"Ogg Vorbis", {"-c:a", "libvorbis"}, ".ogg", 44100, 2, false},
        {"Opus", {"-c:a", "libopus"}, ".opus", 48000, 2, false},
        {"FLAC", {}, ".flac", 44100, 2, true},
        {"AAC in MP4", {"-c:a", "aac"}, ".m4a", 44100, 2, false},
        {"24-bit WAVE", {"-c:a", "pcm_s24le"}, ".wav", 44100, 2, true},
        {"float WAVE", {"-c:a", "pcm_f32le"}, ".wav", 44100, 2, true},
        {"8-bit WAVE at 12 kHz", {"-c:a", "pcm_u8", "-ar", "12000"}, ".wav", 12000, 2, false},
        {"5.1 WAVE",
         {"-af", "pan=5.1|FL=c0|FR=c1|FC=0.5*c0+0.5*c1|LFE=0*c0|BL=c0|BR=c1"},
         ".wav",
         44100,
         6,
         false},
    };
    for (const Format &format : formats) {
        const std::string file = dir.file(std::string(format.name) + format.extension);
        vokid_test::ffmpeg(clean, format.options, file);
        const nlohmann::json printed =
            vokid_test::jsonOf(vokid({"print", "--format", "json", file}));
        EXPECT_EQ(format.rate, printed["sample_rate"]) << format.name;
        EXPECT_EQ(format.channels, printed["channels"]) << format.name;
        EXPECT_NEAR(6.0, printed["duration"].get<double>(), 0.05) << format.name;
        const nlohmann::json compared =
            vokid_test::jsonOf(vokid({"compare", "--json", clean, file}));
        EXPECT_EQ("same recording", compared["verdict"]) << format.name;
        EXPECT_LE(std::abs(compared["offset"].get<int>()), 2) << format.name;
        EXPECT_LT(compared["ber"].get<double>(), format.lossless ? 0.0001 : 0.1) << format.name;
        if (std::string(format.name) == "FLAC") {
            EXPECT_EQ(vokDocument, vokid({"print", file}).out);
        }
    }
    // ffmpeg writes WAVE_FORMAT_EXTENSIBLE for more than two channels or 16 bits.
    EXPECT_EQ(0xFFFE, formatTag(vok_test::read_file(dir.file("5.1 WAVE.wav"))));
    EXPECT_EQ(0xFFFE, formatTag(vok_test::read_file(dir.file("24-bit WAVE.wav"))));
}

TEST(VokidFormats, ReadsWaveStreamedToAPipe)
{
    if (!vokid_test::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed (apt-get install ffmpeg)";
    vok_test::TempDir dir;
    const std::string clean = dir.file("clean.wav");
    vok_test::write_recording(clean, 12, 5, 22050, 2);
    // On a pipe ffmpeg cannot go back to fill in the sizes: vok refuses
    // such a file, vokid reads it to its end.
    const vok_test::RunResult run = vokid_test::shell("ffmpeg -nostdin -loglevel error -i " +
                                                      clean + " -f wav - | \"$VOKID\" print -");
    EXPECT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ(vokid_test::vok({"-c", "-f", clean}).out, run.out);
    const vok_test::RunResult vokOnPipe =
        vokid_test::shell("ffmpeg -nostdin -loglevel error -i " + clean + " -f wav - > " +
                          dir.file("piped.wav") + "; \"$VOK\" -c -f " + dir.file("piped.wav"));
    EXPECT_EQ(1, vokOnPipe.exit_code);
}

} // namespace
