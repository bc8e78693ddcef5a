// The WAVE parser: header checks, chunk walking, piecewise reads and every
// refusal, on files written byte by byte by the tests.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/wav_writer.h"
#include "wav/wav_parser.h"

namespace {

using vok_test::Bytes;
using vok_test::WavWriter;

Bytes counting(size_t size, uint8_t start = 0)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(start + i * 7);
    return bytes;
}

class WavParserTest : public ::testing::Test {
protected:
    void TearDown() override { wav_close(parser); }

    int open(const WavWriter &writer, size_t keep = SIZE_MAX)
    {
        writer.write(path, keep);
        return wav_open(path.c_str(), &parser);
    }
    // Reads one piece; the bytes go to *piece on success.
    int read(uint32_t requested, Bytes *piece = nullptr, uint32_t *count = nullptr)
    {
        uint32_t n = 0xDEADu;
        uint8_t *bytes = nullptr;
        const int code = wav_read(&n, parser, requested, &bytes);
        if (count)
            *count = n;
        if (piece && code == WAV_OK)
            piece->assign(bytes, bytes + n);
        return code;
    }

    vok_test::TempDir dir;
    std::string path = dir.file("in.wav");
    WavParser *parser = nullptr;
};

TEST_F(WavParserTest, OpenDecodesTheFormatOfEveryAcceptedTag)
{
    struct Row {
        uint16_t tag, channels;
        uint32_t rate;
        uint16_t bits;
    };
    for (const Row &row : {Row{1, 2, 44100, 16}, Row{1, 1, 8000, 8}, Row{3, 2, 48000, 32},
                           Row{6, 1, 8000, 8}, Row{7, 2, 11025, 8}}) {
        ASSERT_EQ(WAV_OK, open(WavWriter().fmt(row.tag, row.channels, row.rate, row.bits)))
            << row.tag;
        EXPECT_EQ(row.tag, parser->format_tag);
        EXPECT_EQ(row.channels, parser->channels);
        EXPECT_EQ(row.rate, parser->sample_rate);
        EXPECT_EQ(row.bits, parser->bits_per_sample);
        EXPECT_EQ(path, parser->path);
        EXPECT_EQ(nullptr, parser->buffer);
        EXPECT_EQ(0u, parser->capacity);
        EXPECT_EQ(0u, parser->remaining);
        EXPECT_EQ(4u + 8u + 16u, parser->riff_size);
        wav_close(parser);
        parser = nullptr;
    }
}

TEST_F(WavParserTest, OpenRefusals)
{
    const Bytes fmt = vok_test::fmt_body(1, 2, 44100, 16);
    struct Row {
        const char *what;
        Bytes file;
    };
    Bytes not_riff = WavWriter().fmt(1, 2, 44100, 16).bytes();
    not_riff[0] = 'X';
    Bytes not_wave = WavWriter().fmt(1, 2, 44100, 16).bytes();
    not_wave[11] = 'X';
    const std::vector<Row> rows = {
        {"empty file", {}},
        {"eleven bytes", Bytes(not_riff.begin(), not_riff.begin() + 11)},
        {"not RIFF", not_riff},
        {"RIFF but not WAVE", not_wave},
        {"no chunk at all", WavWriter().bytes()},
        {"only a data chunk", WavWriter().data(counting(8)).bytes()},
        {"format tag 2", WavWriter().fmt(2, 2, 44100, 4).bytes()},
        {"format tag 0xFFFE", WavWriter().fmt(0xFFFE, 2, 44100, 16).bytes()},
        {"fmt body of 14 bytes",
         WavWriter().chunk("fmt ", Bytes(fmt.begin(), fmt.begin() + 14)).bytes()},
        {"fmt body cut short",
         WavWriter().header("fmt ", 16).raw(Bytes(fmt.begin(), fmt.begin() + 10)).bytes()},
        {"file ends inside a chunk header", WavWriter().raw({'L', 'I', 'S'}).bytes()},
        {"chunk before fmt reaches past the end", WavWriter().header("LIST", 100).raw(fmt).bytes()},
    };
    for (const Row &row : rows) {
        vok_test::write_file(path, row.file);
        WavParser *untouched = reinterpret_cast<WavParser *>(&parser);
        WavParser *out = untouched;
        EXPECT_EQ(WAV_E_FORMAT, wav_open(path.c_str(), &out)) << row.what;
        EXPECT_EQ(untouched, out) << row.what;
    }

    WavParser *out = nullptr;
    EXPECT_EQ(WAV_E_OPEN, wav_open(dir.file("missing.wav").c_str(), &out));
    EXPECT_EQ(WAV_E_OPEN, wav_open(dir.path().c_str(), &out)) << "a directory";
    EXPECT_EQ(WAV_E_INVALID_ARG, wav_open(nullptr, &out));
    EXPECT_EQ(WAV_E_INVALID_ARG, wav_open(path.c_str(), nullptr));
    EXPECT_EQ(nullptr, out);
}

TEST_F(WavParserTest, FmtBodiesOfEverySizeAreHeldSafelyAndSkippedWhole)
{
    // 16 to 40 bytes are held; longer ones are held up to 40 and the rest
    // skipped; odd ones are followed by their pad byte.
    for (uint32_t extra : {0u, 1u, 2u, 3u, 24u, 25u, 100u, 1001u}) {
        const Bytes audio = counting(12, static_cast<uint8_t>(extra));
        ASSERT_EQ(
            WAV_OK,
            open(WavWriter().chunk("fmt ", vok_test::fmt_body(7, 2, 22050, 8, extra)).data(audio)))
            << extra;
        EXPECT_EQ(22050u, parser->sample_rate);
        Bytes piece;
        EXPECT_EQ(WAV_OK, read(0, &piece)) << extra;
        EXPECT_EQ(audio, piece) << extra;
        wav_close(parser);
        parser = nullptr;
    }
}

TEST_F(WavParserTest, OtherChunksBeforeAndBetweenAreSkippedWithTheirPadBytes)
{
    const Bytes first = counting(6, 1), second = counting(7, 50), third = counting(4, 99);
    ASSERT_EQ(WAV_OK, open(WavWriter()
                               .chunk("LIST", counting(13)) // odd, padded
                               .data(counting(30, 200))     // before fmt: never delivered
                               .chunk("fact", {4, 0, 0, 0})
                               .fmt(1, 1, 8000, 16)
                               .chunk("LIST", counting(9))
                               .chunk("fact", {1, 2, 3, 4})
                               .data(first)
                               .chunk("LIST", counting(3))
                               .data(second) // odd, padded
                               .data({})     // a zero-size stretch
                               .data(third)));
    Bytes piece;
    EXPECT_EQ(WAV_OK, read(0, &piece));
    EXPECT_EQ(first, piece);
    EXPECT_EQ(WAV_OK, read(0, &piece));
    EXPECT_EQ(second, piece);
    uint32_t count = 99;
    EXPECT_EQ(WAV_OK, read(0, &piece, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(WAV_OK, read(0, &piece));
    EXPECT_EQ(third, piece);
    EXPECT_EQ(WAV_E_END_OF_FILE, read(0, nullptr, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(WAV_E_END_OF_FILE, read(0));
}

TEST_F(WavParserTest, AnOddDataChunkAtTheEndWithoutItsPadByteEndsCleanly)
{
    const Bytes audio = counting(5);
    ASSERT_EQ(WAV_OK, open(WavWriter().fmt(1, 1, 8000, 8).chunk("data", audio, false)));
    Bytes piece;
    EXPECT_EQ(WAV_OK, read(0, &piece));
    EXPECT_EQ(audio, piece);
    EXPECT_EQ(WAV_E_END_OF_FILE, read(0));
}

TEST_F(WavParserTest, PiecesOfTheRequestedSizeThenTheRest)
{
    const Bytes audio = counting(10000);
    ASSERT_EQ(WAV_OK, open(WavWriter().fmt(1, 2, 44100, 16).data(audio)));
    Bytes all, piece;
    uint32_t count = 0;
    for (uint32_t expected : {4096u, 4096u, 1808u}) {
        ASSERT_EQ(WAV_OK, read(4096, &piece, &count));
        EXPECT_EQ(expected, count);
        all.insert(all.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(audio, all);
    EXPECT_EQ(WAV_E_END_OF_FILE, read(4096));
}

TEST_F(WavParserTest, TheBufferGrowsForLargerRequestsAndIsReusedForSmallerOnes)
{
    ASSERT_EQ(WAV_OK, open(WavWriter().fmt(1, 1, 8000, 8).data(counting(100))));
    ASSERT_EQ(WAV_OK, read(10));
    EXPECT_EQ(10u, parser->capacity);
    ASSERT_EQ(WAV_OK, read(30));
    EXPECT_EQ(30u, parser->capacity);
    const uint8_t *grown = parser->buffer;
    Bytes piece;
    ASSERT_EQ(WAV_OK, read(20, &piece));
    EXPECT_EQ(grown, parser->buffer);
    EXPECT_EQ(30u, parser->capacity);
    const Bytes audio = counting(100);
    EXPECT_EQ(Bytes(audio.begin() + 40, audio.begin() + 60), piece);
    EXPECT_EQ(40u, parser->remaining);
}

TEST_F(WavParserTest, TruncatedFiles)
{
    const WavWriter whole = WavWriter().fmt(1, 2, 44100, 16).data(counting(64));
    const size_t data_start = 12 + 8 + 16 + 8;

    // Inside the data: the read fails with the count it was due.
    ASSERT_EQ(WAV_OK, open(whole, data_start + 40));
    uint32_t count = 0;
    EXPECT_EQ(WAV_OK, read(32, nullptr, &count));
    EXPECT_EQ(WAV_E_FORMAT, read(32, nullptr, &count));
    EXPECT_EQ(32u, count);
    wav_close(parser);
    parser = nullptr;

    // Inside the data chunk's header, and exactly after the fmt chunk.
    ASSERT_EQ(WAV_OK, open(whole, data_start - 3));
    EXPECT_EQ(WAV_E_FORMAT, read(0));
    wav_close(parser);
    parser = nullptr;
    ASSERT_EQ(WAV_OK, open(whole, data_start - 8));
    EXPECT_EQ(WAV_E_END_OF_FILE, read(0));
    wav_close(parser);
    parser = nullptr;

    // A chunk that claims to reach past the end is skipped past it.
    ASSERT_EQ(WAV_OK,
              open(WavWriter().fmt(1, 2, 44100, 16).header("LIST", 5000).raw(counting(10))));
    EXPECT_EQ(WAV_E_END_OF_FILE, read(0));
}

TEST_F(WavParserTest, ADataSizeTheFileCannotHoldFailsWithoutAllocatingIt)
{
    ASSERT_EQ(
        WAV_OK,
        open(WavWriter().fmt(1, 2, 44100, 16).header("data", 0xFFFFFFF0u).raw(counting(100))));
    uint32_t count = 0;
    EXPECT_EQ(WAV_E_FORMAT, read(0, nullptr, &count));
    EXPECT_EQ(0xFFFFFFF0u, count);
    EXPECT_EQ(0u, parser->capacity);
}

TEST_F(WavParserTest, NullArgumentsPrintTheDebugLine)
{
    uint32_t count = 7;
    uint8_t *bytes = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(WAV_E_INVALID_ARG, wav_read(&count, nullptr, 0, &bytes));
    const std::string line = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, count);
    char expected[200];
    std::snprintf(expected, sizeof expected, "PATDF wavParserHandle=%p buffer=%p numSamples=%p\n",
                  static_cast<void *>(nullptr), static_cast<void *>(&bytes),
                  static_cast<void *>(&count));
    EXPECT_EQ(expected, line);

    ASSERT_EQ(WAV_OK, open(WavWriter().fmt(1, 2, 44100, 16).data(counting(4))));
    testing::internal::CaptureStdout();
    EXPECT_EQ(WAV_E_INVALID_ARG, wav_read(&count, parser, 0, nullptr));
    EXPECT_EQ(0u, testing::internal::GetCapturedStdout().find("PATDF wavParserHandle="));
    wav_close(nullptr);
}

TEST_F(WavParserTest, AReadOnlyFileOpens)
{
    vok_test::write_file(path, WavWriter().fmt(1, 1, 8000, 8).data(counting(4)).bytes());
    chmod(path.c_str(), 0444);
    if (!vok_test::set_immutable(path, true))
        GTEST_SKIP() << "this file system has no immutable attribute";
    const int code = wav_open(path.c_str(), &parser);
    vok_test::set_immutable(path, false);
    EXPECT_EQ(WAV_OK, code);
}

TEST(WavErrorName, EveryCode)
{
    const char *const names[] = {"Unknown",
                                 "Could not allocate memory",
                                 "Invalid input",
                                 "Could not open file",
                                 "File format invalid",
                                 "End of file encountered",
                                 "Unknown"};
    for (int code = 0; code <= 6; ++code)
        EXPECT_STREQ(names[code], wav_error_name(code)) << code;
    EXPECT_STREQ("Unknown", wav_error_name(9));
    EXPECT_STREQ("Unknown", wav_error_name(-1));
}

} // namespace
