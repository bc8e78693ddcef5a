// The piecewise decoder: any chunking of a text gives the documents the
// whole-text decoders give, block by block; its own limits; its arguments;
// and every allocation failing in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/libvok/engine/documents.h"
#include "tests/libvok/engine/piecewise.h"
#include "tests/support/alloc_faults.h"

namespace {

using documents::engine_document;
using documents::music;
using documents::replaced;
using documents::wrapped;

class Decoder : public vok_test::LeakCheckedTest {};

TEST_F(Decoder, AnyChunkingGivesTheWholeTextDecodersDocuments)
{
    const std::string stream1 = music(3), stream4 = music(4), six = music(5, 14);
    const std::string fixed = music(1, 16), floating = music(2, 16);
    std::vector<int16_t> quiet_start = vok_test::recording(7, 9, 11025, 1);
    std::fill(quiet_start.begin(), quiet_start.begin() + 4 * 11025, 0);
    const std::string no_blocks = engine_document(4, vok_test::recording(5, 1, 11025, 1));
    const struct {
        const char *name;
        std::string text;
        std::vector<uint32_t> wrappings;
    } cases[] = {
        {"Stream1", stream1, {0}},
        {"every variant, raw and wrapped",
         "\n " + wrapped(stream1, "ZUVOK") + stream4 + wrapped(six, "QDV") + six,
         {1, 0, 2, 0}},
        {"both spectral arithmetics", fixed + wrapped(floating, "QDV") + stream1, {0, 2, 0}},
        {"quiet frames", engine_document(3, quiet_start), {0}},
        {"without blocks", no_blocks + wrapped(no_blocks, "QDV"), {0, 2}},
        {"comments, declarations and references",
         "<?xml version=\"1.0\"?><!-- a -->" +
             replaced(replaced(stream4, "<FP_BLOCKS>", "<!-- <FP_BLOCKS> --><FP_BLOCKS>&#32;"),
                      "<FORMAT>COMPRESSED", "<FORMAT>&#67;OMPRESSED") +
             "<!-- b -->" + stream1,
         {0, 0}},
        {"10 kB of white space first", std::string(10240, ' ') + stream1, {0}},
    };
    for (const auto &c : cases) {
        const piecewise::Read whole = piecewise::read_whole(c.text);
        ASSERT_EQ(ENG_OK, whole.result) << c.name << ": " << whole.problem;
        for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, size_t{1000},
                             c.text.size()}) {
            const piecewise::Read read = piecewise::read_piecewise(c.text, chunk);
            ASSERT_EQ(ENG_OK, read.result) << c.name << " " << chunk << ": " << read.problem;
            ASSERT_EQ(whole.documents.size(), read.documents.size()) << c.name << " " << chunk;
            for (size_t d = 0; d < whole.documents.size(); ++d)
                EXPECT_TRUE(whole.documents[d] == read.documents[d]) << c.name << " " << chunk;
            EXPECT_EQ(c.wrappings, read.wrappings) << c.name << " " << chunk;
        }
    }
}

// A server query's text goes to its document in steps that end at every
// 4096 bytes of the caller's text: a reference across that line, at each
// of its bytes, is read whole.
TEST_F(Decoder, ReadsAReferenceAcrossTheStepsOfAServerQuery)
{
    const std::string query = wrapped(music(3), "ZUVOK");
    const size_t reference = query.rfind("&quot;", 4000);
    const piecewise::Read whole = piecewise::read_whole(query);
    ASSERT_EQ(ENG_OK, whole.result);
    for (size_t split = 1; split < 6; ++split) {
        const std::string text = std::string(4096 - reference - split, ' ') + query;
        for (size_t chunk : {size_t{1}, size_t{4096}, text.size()}) {
            const piecewise::Read read = piecewise::read_piecewise(text, chunk);
            ASSERT_EQ(ENG_OK, read.result) << split << " " << chunk << ": " << read.problem;
            ASSERT_EQ(1u, read.documents.size());
            EXPECT_TRUE(whole.documents[0] == read.documents[0]) << split << " " << chunk;
        }
    }
}

// Pieces carry where they end in the text, and a fault where it lies: the
// same words as the whole-text decoder, the line and column counted across
// chunks.
TEST_F(Decoder, TellsWhereInTheTextAcrossChunks)
{
    const std::string stream1 = music(3);
    const std::string text = stream1 + "\n" + replaced(stream1, "&quot;", "&quote;");
    const size_t fault = stream1.size() + 1 + stream1.find("&quot;");
    // Counted here on the whole text: the line holding the fault, its column.
    const size_t line = 1 + std::count(text.begin(), text.begin() + fault, '\n');
    const size_t column = fault - text.rfind('\n', fault);
    const std::string problem = "line " + std::to_string(line) + ", column " +
                                std::to_string(column) + ": unknown entity &quote;";
    for (size_t chunk : {size_t{1}, size_t{5}, text.size()}) {
        const piecewise::Read read = piecewise::read_piecewise(text, chunk);
        EXPECT_EQ(ENG_E_BAD_DOCUMENT, read.result) << chunk;
        EXPECT_EQ(problem, read.problem) << chunk;
        EXPECT_EQ(fault, read.offset) << chunk;
        EXPECT_EQ(1u, read.documents.size()) << chunk;
    }
    EngineDecoder *decoder = nullptr;
    ASSERT_EQ(ENG_OK, eng_decoder_create(&decoder));
    ASSERT_EQ(ENG_OK, eng_decoder_feed(decoder, stream1.data(), stream1.size()));
    EnginePiece piece;
    ASSERT_EQ(ENG_OK, eng_decoder_next(decoder, &piece));
    ASSERT_EQ(ENG_PIECE_BLOCK, piece.kind);
    EXPECT_EQ(stream1.find("</FP_BLOCK>") + 11, piece.offset);
    do
        ASSERT_EQ(ENG_OK, eng_decoder_next(decoder, &piece));
    while (piece.kind == ENG_PIECE_BLOCK);
    EXPECT_EQ(ENG_PIECE_END, piece.kind);
    EXPECT_EQ(stream1.rfind('>') + 1, piece.offset);
    eng_decoder_destroy(&decoder);
}

// Damage the whole-text decoder finds, found alike whatever the chunks:
// the same words, where references may be cut between chunks.
TEST_F(Decoder, RefusesWhatTheWholeTextDecoderRefusesWhateverTheChunks)
{
    const std::string stream1 = music(3), query = wrapped(stream1, "ZUVOK");
    const struct {
        const char *name;
        std::string text;
    } cases[] = {
        {"an unknown entity, '&' within its reach",
         replaced(query, "&gt;\n    &lt;FP_BLOCK", "&gU\n  &lt;FP_BLOCK")},
        {"'&' without ';'", replaced(query, "&quot;1.0", "&quot1.0")},
        {"a control character in FPDATA", replaced(query, "&lt;FP_BLOCKS", "\x01&lt;FP_BLOCKS")},
        {"a bad block in FPDATA", replaced(query, "ORD=&quot;2&quot;&gt;", "ORD=&quot;2&quot;&gt;!")},
        {"a bad block", replaced(stream1, "ORD=\"2\">", "ORD=\"2\">!")},
        {"text beside the elements, then a control character",
         replaced(stream1, "  <FP_BLOCKS>", "x\x01 <FP_BLOCKS>")},
        {"no end", stream1.substr(0, stream1.size() / 2)},
    };
    for (const auto &c : cases) {
        EngineFrames frames{};
        size_t consumed = 0;
        ASSERT_EQ(ENG_E_BAD_DOCUMENT,
                  eng_decode_stream_xml(c.text.data(), c.text.size(), &frames, &consumed))
            << c.name;
        const std::string problem = eng_decode_problem();
        for (size_t chunk : {size_t{1}, size_t{3}, size_t{98}, c.text.size()}) {
            const piecewise::Read read = piecewise::read_piecewise(c.text, chunk);
            EXPECT_EQ(ENG_E_BAD_DOCUMENT, read.result) << c.name << " " << chunk;
            EXPECT_EQ(problem, read.problem) << c.name << " " << chunk;
        }
    }
}

// The document with its FP_BLOCKS before its ALGORITHM.
std::string blocks_first(const std::string &document)
{
    const size_t from = document.find("  <FP_BLOCKS>");
    const size_t to = document.find("</FP_BLOCKS>") + 13;
    const std::string blocks = document.substr(from, to - from);
    std::string moved = document;
    moved.erase(from, to - from);
    return replaced(moved, "  <ALGORITHM>", blocks + "  <ALGORITHM>");
}

// What the whole-text decoders take and the piecewise one cannot hold.
TEST_F(Decoder, HoldsOneElementAtATime)
{
    const std::string stream1 = music(3);
    const struct {
        const char *name;
        std::string text, problem;
    } cases[] = {
        {"blocks before the head", blocks_first(stream1),
         "FP_BLOCKS before ALGORITHM (read a piece at a time, a document needs its ALGORITHM "
         "first)"},
        {"a block longer than a megabyte",
         replaced(stream1, "ORD=\"1\">", "ORD=\"1\"><!--" + std::string(1 << 20, '-') + "-->"),
         "line 11, column 5: a tag or element longer than 1048576 bytes"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ENG_OK, piecewise::read_whole(c.text).result) << c.name;
        const piecewise::Read read = piecewise::read_piecewise(c.text, 4096);
        EXPECT_EQ(ENG_E_BAD_DOCUMENT, read.result) << c.name;
        EXPECT_EQ(c.problem, read.problem) << c.name;
    }
}

TEST_F(Decoder, ChecksItsArguments)
{
    EngineDecoder *decoder = nullptr;
    EnginePiece piece;
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decoder_create(nullptr));
    ASSERT_EQ(ENG_OK, eng_decoder_create(&decoder));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decoder_feed(nullptr, "<", 1));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decoder_feed(decoder, nullptr, 1));
    EXPECT_EQ(ENG_OK, eng_decoder_feed(decoder, nullptr, 0));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decoder_next(decoder, nullptr));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decoder_next(nullptr, &piece));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decoder_end(nullptr));
    ASSERT_EQ(ENG_OK, eng_decoder_next(decoder, &piece));
    EXPECT_EQ(ENG_PIECE_MORE, piece.kind);
    EXPECT_EQ(ENG_OK, eng_decoder_end(decoder));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_decoder_feed(decoder, " ", 1));
    for (int twice = 0; twice < 2; ++twice) {
        ASSERT_EQ(ENG_OK, eng_decoder_next(decoder, &piece));
        EXPECT_EQ(ENG_PIECE_DONE, piece.kind);
    }
    EXPECT_EQ(ENG_OK, eng_decoder_destroy(&decoder));
    EXPECT_EQ(nullptr, decoder);
    EXPECT_EQ(ENG_OK, eng_decoder_destroy(&decoder));
    EXPECT_EQ(ENG_OK, eng_decoder_destroy(nullptr));
}

TEST_F(Decoder, AnswersAFaultAgainUntilDestroyed)
{
    const std::string text = "<A/>";
    EngineDecoder *decoder = nullptr;
    ASSERT_EQ(ENG_OK, eng_decoder_create(&decoder));
    ASSERT_EQ(ENG_OK, eng_decoder_feed(decoder, text.data(), text.size()));
    EnginePiece piece;
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(ENG_E_BAD_DOCUMENT, eng_decoder_next(decoder, &piece));
        EXPECT_STREQ("<A> is neither a fingerprint document nor a server query",
                     eng_decode_problem());
    }
    EXPECT_EQ(ENG_OK, eng_decoder_feed(decoder, text.data(), text.size()));
    eng_decoder_destroy(&decoder);
}

TEST_F(Decoder, EveryAllocationFailingLeavesNothingAllocated)
{
    const std::string text = wrapped(music(4), "QDV") + music(1, 16);
    const uint32_t failures = vok_test::for_each_allocation_failure([&] {
        const piecewise::Read read = piecewise::read_piecewise(text, 700);
        EXPECT_EQ(vok_test::allocation_failed() ? ENG_E_NO_MEMORY : ENG_OK, read.result);
    });
    EXPECT_GT(failures, 50u);
}

} // namespace
