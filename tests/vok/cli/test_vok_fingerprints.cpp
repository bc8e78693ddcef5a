// The built program producing real fingerprints, run as a child process:
// the documents, both output modes, continuous mode and its exit codes,
// every encoding, the chunk layouts of the WAVE input, read sizes,
// truncated files and read-only inputs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/libvok/algo/spectral/sfp_test_signals.h"
#include "tests/support/reachable_copy.h"
#include "tests/support/subprocess.h"
#include "tests/support/wav_writer.h"

namespace {

using vok_test::Bytes;
using vok_test::RunOptions;
using vok_test::RunResult;
using vok_test::WavWriter;

RunResult vok(const std::vector<std::string> &args, const RunOptions &options = RunOptions())
{
    return vok_test::run_program(VOK_PROGRAM, args, options);
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

bool is_base64(const std::string &text)
{
    if (text.empty() || text.size() % 4 != 0)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!letter && !(c == '=' && i + 2 >= text.size()))
            return false;
    }
    return true;
}

// Checks one streaming fingerprint document line by line; answers its
// number of blocks, or -1 (with failures reported) when it is malformed.
int blocks_of(const std::string &document, const std::string &block_length = "3")
{
    const std::vector<std::string> lines = lines_of(document);
    const std::vector<std::string> head = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>",
        "<ZUVOK_FP_QUERY VERSION=\"1.0\">",
        "  <ALGORITHM>",
        "    <NAME>Velmora</NAME>",
        "    <VERSION>1.1</VERSION>",
        "    <QUERY>Velmora&quot;1.1</QUERY>",
        "    <BLOCK_LENGTH>" + block_length + "</BLOCK_LENGTH>",
        "    <FORMAT>COMPRESSED</FORMAT>",
        "  </ALGORITHM>",
        "  <FP_BLOCKS>",
    };
    if (lines.size() < head.size() + 2 || document.back() != '\n') {
        ADD_FAILURE() << "not a fingerprint document:\n" << document;
        return -1;
    }
    for (size_t i = 0; i < head.size(); ++i)
        EXPECT_EQ(head[i], lines[i]) << "line " << i + 1;
    EXPECT_EQ("  </FP_BLOCKS>", lines[lines.size() - 2]);
    EXPECT_EQ("</ZUVOK_FP_QUERY>", lines.back());
    int blocks = 0;
    for (size_t i = head.size(); i + 2 < lines.size(); ++i) {
        const std::string open = "    <FP_BLOCK TYPE=\"BINARY\" ENCODING=\"BASE64\" ORD=\"" +
                                 std::to_string(++blocks) + "\">";
        const std::string close = "</FP_BLOCK>";
        const std::string &line = lines[i];
        if (line.compare(0, open.size(), open) != 0 || line.size() < open.size() + close.size() ||
            line.compare(line.size() - close.size(), close.size(), close) != 0) {
            ADD_FAILURE() << "block line " << blocks << ": " << line;
            return -1;
        }
        EXPECT_TRUE(is_base64(line.substr(open.size(), line.size() - open.size() - close.size())))
            << line;
    }
    return blocks;
}

// The server query around a document, built here from its definition.
std::string query(const std::string &document, const std::string &type)
{
    std::string escaped;
    for (char c : document)
        escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
    return "<ZUSERVER_QUERY_LIST><ZUSERVER_QUERY ID=\"1\" OUT=\"ALBUM_RESPONSE\"><FPDATA TYPE=\"" +
           type + "\">" + escaped + "</FPDATA></ZUSERVER_QUERY></ZUSERVER_QUERY_LIST>\n\n\n\n\n";
}

Bytes music16(double seconds, uint16_t channels, uint32_t rate)
{
    return vok_test::pcm16(vok_test::music(static_cast<uint32_t>(seconds * rate), channels, rate));
}

// The standard G.711 encoders, written out here so that the test does not
// lean on the engine's expansion tables.
uint8_t alaw(int16_t sample)
{
    int value = sample >> 3;
    int mask = 0xD5;
    if (value < 0) {
        mask = 0x55;
        value = -value - 1;
    }
    int segment = 0;
    while (segment < 8 && value > (0x1F << segment))
        ++segment;
    if (segment >= 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    const int code = segment << 4 | ((segment < 2 ? value >> 1 : value >> segment) & 0x0F);
    return static_cast<uint8_t>(code ^ mask);
}

uint8_t mulaw(int16_t sample)
{
    int value = sample >> 2;
    int mask = 0xFF;
    if (value < 0) {
        value = -value;
        mask = 0x7F;
    }
    value = std::min(value, 8159) + (0x84 >> 2);
    int segment = 0;
    while (segment < 8 && value > (0x3F << segment))
        ++segment;
    if (segment >= 8)
        return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>((segment << 4 | ((value >> (segment + 1)) & 0x0F)) ^ mask);
}

// The same music as 8-bit unsigned (tag 1), A-law (6) or mu-law (7) samples.
Bytes music8(double seconds, uint16_t channels, uint32_t rate, uint16_t tag)
{
    Bytes out;
    for (int16_t sample : vok_test::music(static_cast<uint32_t>(seconds * rate), channels, rate))
        out.push_back(tag == 1   ? static_cast<uint8_t>((sample >> 8) + 128)
                      : tag == 6 ? alaw(sample)
                                 : mulaw(sample));
    return out;
}

class VokFingerprints : public ::testing::Test {
protected:
    void SetUp() override
    {
        vok_test::write_wav(wav, 1, 2, 44100, 16, music16(12.0, 2, 44100));
        plain = vok({"-f", wav});
        ASSERT_EQ("", plain.err);
        ASSERT_EQ(0, plain.exit_code);
    }

    vok_test::TempDir dir;
    std::string wav = dir.file("music.wav");
    RunResult plain;
};

TEST_F(VokFingerprints, ADocumentOnStandardOutputOrInAFile)
{
    const int blocks = blocks_of(plain.out);
    EXPECT_GE(blocks, 3);
    EXPECT_LE(blocks, 4);

    const std::string out = dir.file("out.xml");
    const RunResult to_file = vok({"-f", wav, "-o", out});
    EXPECT_EQ("", to_file.out);
    EXPECT_EQ(0, to_file.exit_code);
    EXPECT_EQ(plain.out, vok_test::read_file(out));

    const RunResult full = vok({"-f", wav, "-o", "/dev/full"});
    EXPECT_EQ("Error: Unable to write to output file /dev/full\n", full.err);
    EXPECT_EQ(1, full.exit_code);

    const RunResult stream4 = vok({"-a", "Stream4", "-f", wav});
    EXPECT_EQ(blocks, blocks_of(stream4.out));
}

TEST_F(VokFingerprints, BothOutputModes)
{
    EXPECT_EQ(query(plain.out, "ZUVOK"), vok({"-f", wav, "-om", "zuserver"}).out);
    const std::string stream4 = vok({"-f", wav, "-a", "Stream4"}).out;
    EXPECT_EQ(query(stream4, "QDV"), vok({"-f", wav, "-a", "Stream4", "-om", "zuserver"}).out);
    for (const char *mode : {"ZUSERVER", "zuserver2", "raw", ""})
        EXPECT_EQ(plain.out, vok({"-f", wav, "-om", mode}).out) << mode;
}

TEST_F(VokFingerprints, TheSpectralAlgorithmsOneBlockWhateverTheCount)
{
    vok_test::write_wav(wav, 1, 2, 44100, 16, music16(16.0, 2, 44100));
    for (const char *name : {"FileFixed", "FileFloat"}) {
        const RunResult result = vok({"-a", name, "-f", wav});
        EXPECT_EQ("", result.err) << name;
        EXPECT_EQ(0, result.exit_code) << name;
        const std::vector<std::string> lines = lines_of(result.out);
        ASSERT_GE(lines.size(), 3u) << name;
        EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", lines[0]);
        EXPECT_EQ("<ZUVOK_FP_QUERY VERSION=\"1.0\">", lines[1]);
        size_t blocks = 0;
        for (const std::string &line : lines) {
            const std::string open =
                "<FP_BLOCK TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">";
            const size_t at = line.find(open);
            if (at == std::string::npos)
                continue;
            ++blocks;
            std::istringstream numbers(line.substr(at + open.size()));
            int count = 0;
            for (int value; numbers >> value;)
                ++count;
            EXPECT_EQ(30, count) << line;
        }
        EXPECT_EQ(1u, blocks) << name;
        for (const char *count : {"7", "0", "-1"})
            EXPECT_EQ(result.out, vok({"-a", name, "-n", count, "-f", wav}).out) << name << count;
        EXPECT_EQ(query(result.out, "QDV"), vok({"-a", name, "-om", "zuserver", "-f", wav}).out);
    }
    // Fifteen seconds are needed; FileFloat takes any rate (also those that
    // up-sample by a large factor), FileFixed only the usual ones.
    for (uint32_t rate : {37800u, 5000u, 4000u, 3000u, 2000u}) {
        vok_test::write_wav(wav, 1, 1, rate, 16, music16(16.0, 1, rate));
        const RunResult result = vok({"-a", "FileFloat", "-f", wav});
        EXPECT_EQ("", result.err) << rate;
        EXPECT_EQ(0, result.exit_code) << rate;
    }
    EXPECT_EQ("Error: Unable to extract fingerprint.\n"
              " Unable to create fingerprint. Error code:900f0001.\n",
              vok({"-a", "FileFixed", "-f", wav}).err);
    vok_test::write_wav(wav, 1, 2, 44100, 16, music16(10.0, 2, 44100));
    EXPECT_EQ("Error: Unable to extract fingerprint.\n"
              " Not enough audio to generate a fingerprint.\n",
              vok({"-a", "FileFloat", "-f", wav}).err);
}

// A steady sound has no variation of its own to share out: both spectral
// algorithms refuse it alike, whatever its level or waveform, also with
// noise 60 dB below it or a vibrato; speech, music and noise always give a
// fingerprint. Sounds that never pass the silence gate (DC, a tone above
// what the resampler passes, a tone below the gate's level) end as before.
TEST_F(VokFingerprints, SteadySoundsHaveNoSpectralFingerprint)
{
    const std::string steady = "Error: Unable to extract fingerprint.\n"
                               " Error serializing fingerprint. Error code:900f0961.\n";
    const std::string short_audio = "Error: Unable to extract fingerprint.\n"
                                    " Not enough audio to generate a fingerprint.\n";
    const double pi = 3.141592653589793;
    std::mt19937 random(9);
    std::normal_distribution<double> gauss(0.0, 1.0);
    using Sound = std::function<double(double)>; // of the time in seconds
    auto sine = [pi](double f, double a) -> Sound {
        return [=](double t) { return a * std::sin(2 * pi * f * t); };
    };
    auto square = [pi](double f) -> Sound {
        return [=](double t) { return std::sin(2 * pi * f * t + 0.1) < 0 ? -8000.0 : 8000.0; };
    };
    const std::vector<double> speech =
        sfp_test::make_signal(sfp_test::Kind::Speech, 44100, 1, 16.0, 3);
    const std::vector<int16_t> music = vok_test::music(16 * 44100, 1, 44100);
    const struct {
        const char *what;
        Sound sound;
        const std::string *err; // null: a fingerprint
    } rows[] = {
        {"sine 100 Hz", sine(100, 3000), &steady},
        {"sine 440 Hz", sine(440, 10000), &steady},
        {"sine 1 kHz, loud", sine(1000, 30000), &steady},
        {"sine 5 kHz, soft", sine(5000, 1000), &steady},
        {"square 100 Hz", square(100), &steady},
        {"square 1 kHz", square(1000), &steady},
        {"sine 1 kHz, noise 60 dB below",
         [&](double t) { return sine(1000, 1e4)(t) + 7 * gauss(random); }, &steady},
        {"sine 440 Hz, vibrato +-1% at 5.5 Hz",
         [pi](double t) {
             return 1e4 * std::sin(2 * pi * 440 * t - 0.8 * std::cos(2 * pi * 5.5 * t));
         },
         &steady},
        {"DC", [](double) { return 5000.0; }, &short_audio},
        {"sine 7 kHz", sine(7000, 10000), &short_audio},
        {"sine 1 kHz below the gate", sine(1000, 100), &short_audio},
        {"white noise", [&](double) { return 3000 * gauss(random); }, nullptr},
        {"music", [&](double t) { return music[std::lround(t * 44100)]; }, nullptr},
        {"speech", [&](double t) { return speech[std::lround(t * 44100)]; }, nullptr},
    };
    for (const auto &row : rows) {
        std::vector<int16_t> samples;
        for (uint32_t n = 0; n < 16 * 44100; ++n)
            samples.push_back(static_cast<int16_t>(std::lround(row.sound(n / 44100.0))));
        vok_test::write_wav(wav, 1, 1, 44100, 16, vok_test::pcm16(samples));
        for (const char *name : {"FileFixed", "FileFloat"}) {
            const RunResult result = vok({"-a", name, "-f", wav});
            EXPECT_EQ(row.err ? *row.err : "", result.err) << row.what << ", " << name;
            EXPECT_EQ(row.err ? 1 : 0, result.exit_code) << row.what << ", " << name;
            EXPECT_EQ(row.err ? std::string::npos : 0, result.out.find("<?xml")) << row.what;
        }
    }
}

TEST_F(VokFingerprints, TheReadSizeDoesNotChangeTheFingerprint)
{
    for (const char *blocks : {"1", "2", "3x", "7", "100", "2147483647"})
        EXPECT_EQ(plain.out, vok({"-f", wav, "-n", blocks}).out) << "-n " << blocks;
    // 8-bit stereo at 11025 Hz: 3.5 s of audio is not a whole number of frames.
    vok_test::write_wav(wav, 1, 2, 11025, 8, music8(12.0, 2, 11025, 1));
    const std::string reference = vok({"-f", wav, "-n", "1"}).out;
    EXPECT_GT(blocks_of(reference), 0);
    EXPECT_EQ(reference, vok({"-f", wav, "-n", "0"}).out) << "one read of the whole stretch";
    EXPECT_EQ(reference, vok({"-f", wav, "-n", "-3"}).out);
    EXPECT_EQ(reference, vok({"-f", wav, "-n", "5"}).out);
}

TEST_F(VokFingerprints, EveryEncodingMonoAndStereo)
{
    struct Row {
        uint16_t tag, bits, channels;
        uint32_t rate;
    };
    const Row rows[] = {
        {1, 16, 1, 44100}, {1, 16, 2, 48000}, {1, 16, 1, 8000}, {1, 8, 1, 22050}, {1, 8, 2, 16000},
        {6, 8, 1, 8000},   {6, 8, 2, 32000},  {7, 8, 1, 11025}, {7, 8, 2, 24000},
    };
    for (const Row &row : rows) {
        const Bytes data = row.bits == 16 ? music16(7.0, row.channels, row.rate)
                                          : music8(7.0, row.channels, row.rate, row.tag);
        vok_test::write_wav(wav, row.tag, row.channels, row.rate, row.bits, data);
        const RunResult result = vok({"-f", wav});
        EXPECT_EQ("", result.err) << row.tag << "/" << row.bits << "/" << row.channels;
        EXPECT_EQ(0, result.exit_code);
        EXPECT_GE(blocks_of(result.out), 1) << row.tag << "/" << row.channels << "/" << row.rate;
    }
}

TEST_F(VokFingerprints, ChunkLayoutsOfTheSameAudio)
{
    const Bytes data = music16(12.0, 2, 44100);
    const size_t third = data.size() / 3 / 4 * 4;
    const Bytes a(data.begin(), data.begin() + third),
        b(data.begin() + third, data.begin() + 2 * third), c(data.begin() + 2 * third, data.end());
    struct Row {
        const char *what;
        WavWriter file;
    };
    const Row rows[] = {
        {"LIST and fact before fmt", WavWriter()
                                         .chunk("LIST", Bytes(27, 'l'))
                                         .chunk("fact", {1, 2, 3, 4})
                                         .fmt(1, 2, 44100, 16)
                                         .data(data)},
        {"LIST and fact between fmt and data", WavWriter()
                                                   .fmt(1, 2, 44100, 16)
                                                   .chunk("fact", {9, 9, 9, 9})
                                                   .chunk("LIST", Bytes(5, 'x'))
                                                   .data(data)},
        {"a long fmt body",
         WavWriter().chunk("fmt ", vok_test::fmt_body(1, 2, 44100, 16, 50)).data(data)},
        {"three data chunks", WavWriter().fmt(1, 2, 44100, 16).data(a).data(b).data(c)},
        {"data chunks with a LIST between",
         WavWriter().fmt(1, 2, 44100, 16).data(a).chunk("LIST", Bytes(3, 'q')).data(b).data(c)},
    };
    for (const Row &row : rows) {
        row.file.write(wav);
        const RunResult result = vok({"-f", wav});
        EXPECT_EQ(plain.out, result.out) << row.what;
        EXPECT_EQ(0, result.exit_code) << row.what;
    }
}

TEST_F(VokFingerprints, ContinuousModeAndItsExitCodes)
{
    const Bytes first = music16(8.0, 2, 44100);
    Bytes second = music16(10.0, 2, 44100);
    second.erase(second.begin(), second.begin() + 4 * 44100); // other music
    std::string docs[2][2];                                   // [stretch][Stream1, Stream4]
    for (int stretch = 0; stretch < 2; ++stretch) {
        vok_test::write_wav(wav, 1, 2, 44100, 16, stretch == 0 ? first : second);
        docs[stretch][0] = vok({"-f", wav}).out;
        docs[stretch][1] = vok({"-f", wav, "-a", "Stream4"}).out;
        ASSERT_GT(blocks_of(docs[stretch][0]), 0);
    }
    const std::string &first_doc = docs[0][0], &second_doc = docs[1][0];
    ASSERT_NE(first_doc, second_doc);

    // A zero-size data chunk ends one fingerprint; the next call goes on after it.
    WavWriter().fmt(1, 2, 44100, 16).data(first).data({}).data(second).write(wav);
    RunResult result = vok({"-f", wav, "-c"});
    EXPECT_EQ(first_doc + second_doc, result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(0, result.exit_code);
    result = vok({"-c", "-a", "Stream4", "-om", "zuserver", "-f", wav});
    EXPECT_EQ(query(docs[0][1], "QDV") + query(docs[1][1], "QDV"), result.out);
    EXPECT_EQ(0, result.exit_code);
    // Without -c only the first fingerprint.
    EXPECT_EQ(first_doc, vok({"-f", wav}).out);

    // A failure after a written fingerprint ends a continuous run with 0.
    WavWriter()
        .fmt(1, 2, 44100, 16)
        .data(first)
        .data({})
        .header("data", 1000000)
        .raw(Bytes(5000, 1))
        .write(wav);
    result = vok({"-f", wav, "-c"});
    EXPECT_EQ(first_doc, result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(0, result.exit_code);
    // That run succeeded, so its output file replaces the old one.
    const std::string out = dir.file("out.xml");
    vok_test::write_file(out, Bytes(10, 'y'));
    EXPECT_EQ(0, vok({"-f", wav, "-c", "-o", out}).exit_code);
    EXPECT_EQ(first_doc, vok_test::read_file(out));

    // Before anything was written it is reported.
    vok_test::write_wav(wav, 1, 2, 44100, 16, music16(0.5, 2, 44100));
    const std::string short_audio = "Error: Unable to extract fingerprint.\n"
                                    " Not enough audio to generate a fingerprint.\n";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-f", wav, "-c"}, std::vector<std::string>{"-f", wav}}) {
        result = vok(args);
        EXPECT_EQ(short_audio, result.err);
        EXPECT_EQ("", result.out);
        EXPECT_EQ(1, result.exit_code);
    }
}

TEST_F(VokFingerprints, TruncatedFilesAndEngineRefusals)
{
    const Bytes data = music16(8.0, 2, 44100);
    const std::string failure = "Error: Unable to extract fingerprint.\n"
                                " Unable to get audio sample.\n"
                                " Error getting audio sample: File format invalid\n";
    struct Row {
        const char *what;
        Bytes file;
        std::string err;
    };
    Bytes cut_data = WavWriter().fmt(1, 2, 44100, 16).data(data).bytes();
    cut_data.resize(cut_data.size() / 2);
    Bytes cut_header = WavWriter().fmt(1, 2, 44100, 16).data(data).raw({'L', 'I'}).bytes();
    const std::vector<Row> rows = {
        {"cut inside the data", cut_data, failure},
        {"cut inside a chunk header", cut_header, failure},
        {"six channels", WavWriter().fmt(1, 6, 44100, 16).data(Bytes(120000, 1)).bytes(),
         "Error: Unable to extract fingerprint.\n"
         " Unable to create fingerprint. Error code:900e0004.\n"},
        {"an unsupported rate", WavWriter().fmt(1, 2, 44101, 16).data(data).bytes(),
         "Error: Unable to extract fingerprint.\n"
         " Unable to create fingerprint. Error code:900e0004.\n"},
    };
    for (const Row &row : rows) {
        vok_test::write_file(wav, row.file);
        const RunResult result = vok({"-f", wav});
        EXPECT_EQ(row.err, result.err) << row.what;
        EXPECT_EQ("", result.out) << row.what;
        EXPECT_EQ(1, result.exit_code) << row.what;
    }
}

TEST_F(VokFingerprints, AReadOnlyInputFingerprints)
{
    ASSERT_EQ(0, chmod(wav.c_str(), 0444));
    bool checked = false;
    // Root ignores permissions, but not the immutable attribute.
    if (vok_test::set_immutable(wav, true)) {
        const RunResult result = vok({"-f", wav});
        vok_test::set_immutable(wav, false);
        EXPECT_EQ(plain.out, result.out);
        EXPECT_EQ("", result.err);
        EXPECT_EQ(0, result.exit_code);
        checked = true;
    }
    // An unprivileged user meets the permission bits themselves.
    if (geteuid() == 0) {
        ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
        const RunResult result = vok_test::ReachableCopy(VOK_PROGRAM).run_as_user({"-f", wav});
        EXPECT_EQ(plain.out, result.out);
        EXPECT_EQ("", result.err);
        EXPECT_EQ(0, result.exit_code);
        checked = true;
    }
    if (!checked)
        GTEST_SKIP() << "no immutable attribute here, and only root can run vok as another user";
}

} // namespace
