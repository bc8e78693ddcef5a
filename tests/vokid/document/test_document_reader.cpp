// vokid's reading of whole documents, made in-process by the engine:
// every block against a decoder of the engine's tests, the variants raw and
// wrapped, quiet frames of silence, spectral values, and every refusal with
// the place it names.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <vok/vok_engine.h>

#include "algo/stream/bw.h"
#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/support/recording.h"
#include "tests/vokid/document_text.h"
#include "vokid/document/base64.h"
#include "vokid/document/document_reader.h"

namespace {

using vokid::Document;
using vokid::Family;

// A document as the engine writes it, of mono 11025 Hz audio.
std::string engineDocument(uint32_t id, const std::vector<int16_t> &samples)
{
    const EngineConfig config = {nullptr, 0, 0};
    EXPECT_EQ(ENG_OK, eng_initialize(&config));
    EngineHandle *handle = nullptr;
    EXPECT_EQ(ENG_OK, eng_create(id, SAMPLE_PCM_S16, 11025, 1, &handle));
    uint8_t done = 0;
    EXPECT_EQ(ENG_OK, eng_add_audio(handle, reinterpret_cast<const uint8_t *>(samples.data()),
                                    static_cast<uint32_t>(samples.size() * 2), &done));
    char *text = nullptr;
    EXPECT_EQ(ENG_OK, eng_serialize_xml(handle, &text));
    std::string document = text ? text : "";
    eng_free_text(&text);
    eng_destroy(&handle);
    return document;
}

std::string music(uint32_t id, double seconds = 10)
{
    return engineDocument(id, vok_test::recording(3, seconds, 11025, 1));
}

std::vector<std::string> blockTexts(const std::string &document)
{
    return vokid_test::elementTexts(document, "FP_BLOCK");
}

// The server query around a document, as vok writes it.
std::string wrapped(const std::string &document, const std::string &type)
{
    std::string escaped;
    for (char c : document)
        escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
    return "<ZUSERVER_QUERY_LIST><ZUSERVER_QUERY ID=\"1\" OUT=\"ALBUM_RESPONSE\"><FPDATA TYPE=\"" +
           type + "\">" + escaped + "</FPDATA></ZUSERVER_QUERY></ZUSERVER_QUERY_LIST>\n\n\n\n\n";
}

TEST(VokidDocuments, StreamingBlocksDecodeAsTheEnginesTestsDecodeThem)
{
    const struct {
        uint32_t id;
        const char *variant;
        unsigned weakBits;
        unsigned blockLength;
    } cases[] = {{3, "Stream1", 14, 3}, {4, "Stream4", 8, 3}, {5, "engine algorithm 5", 8, 6}};
    for (const auto &c : cases) {
        const std::string text = music(c.id, 15);
        const std::vector<Document> documents = vokid::readDocuments(text);
        ASSERT_EQ(1u, documents.size());
        const Document &document = documents[0];
        EXPECT_EQ(Family::Streaming, document.family);
        EXPECT_EQ(c.variant, document.variant);
        EXPECT_EQ(c.weakBits, document.weakBits);
        EXPECT_EQ(c.blockLength, document.blockLength);
        const std::vector<std::string> texts = blockTexts(text);
        ASSERT_EQ(texts.size(), document.blockCount());
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts, document.blockTexts);
        for (size_t b = 0; b < texts.size(); ++b) {
            const auto expected = stream_test::decode_block(stream_test::base64_decode(texts[b]));
            EXPECT_TRUE(std::equal(expected.words.begin(), expected.words.end(),
                                   document.words.begin() + static_cast<long>(b * 256)));
            EXPECT_TRUE(std::equal(expected.masks.begin(), expected.masks.end(),
                                   document.masks.begin() + static_cast<long>(b * 86)));
        }
        EXPECT_EQ(std::vector<uint8_t>(document.words.size(), 0), document.quiet);
    }
}

TEST(VokidDocuments, TellTheVariantFromTheWrapping)
{
    const std::string stream1 = music(3), stream4 = music(4), spectral = music(1, 16);
    const std::vector<Document> documents =
        vokid::readDocuments(wrapped(stream1, "ZUVOK") + stream4 + wrapped(stream4, "QDV") +
                             wrapped(spectral, "QDV") + spectral);
    const struct {
        const char *wrapping, *variant, *basis;
    } expected[] = {
        {"ZUVOK", "Stream1", "wrapped as ZUVOK, 14 weak bits per mask"},
        {"", "Stream4", "8 weak bits per mask"},
        {"QDV", "Stream4", "wrapped as QDV, 8 weak bits per mask"},
        {"QDV", "FileFixed or FileFloat", "FileFixed and FileFloat documents cannot be told apart"},
        {"", "FileFixed or FileFloat", "FileFixed and FileFloat documents cannot be told apart"},
    };
    ASSERT_EQ(5u, documents.size());
    for (size_t i = 0; i < documents.size(); ++i) {
        EXPECT_EQ(expected[i].wrapping, documents[i].wrapping) << i;
        EXPECT_EQ(expected[i].variant, documents[i].variant) << i;
        EXPECT_EQ(expected[i].basis, documents[i].variantBasis) << i;
    }
    EXPECT_EQ(documents[0].words, documents[1].words); // same audio, same sub-fingerprints
}

TEST(VokidDocuments, SpectralValuesAreTheWrittenNumbers)
{
    const std::string text = music(2, 16);
    const std::vector<uint32_t> values = vokid_test::numbers(blockTexts(text).at(0));
    ASSERT_EQ(30u, values.size());
    EXPECT_EQ(values, vokid::readDocuments(text).at(0).values);
}

TEST(VokidDocuments, MarkEveryFrameOfSilenceQuiet)
{
    const std::string text = engineDocument(3, std::vector<int16_t>(11025 * 7, 0));
    const Document document = vokid::readDocuments(text).at(0);
    ASSERT_EQ(512u, document.words.size());
    EXPECT_EQ(0xa3b1211eu, document.words[0]); // the first went to the dropped frame
    EXPECT_EQ(std::vector<uint8_t>(512, 1), document.quiet);
}

// A document with one block replaced by the engine's encoding of words and
// masks of our choosing.
std::string withBlock(const std::string &text, const std::vector<uint32_t> &masks,
                      size_t *maskStart)
{
    std::vector<uint32_t> words(256, 0x5a5a5a5au);
    std::vector<uint8_t> buffer(4096, 0);
    BitWriter writer{};
    writer.codes = bw_byte_codes();
    bw_reset(&writer);
    const int32_t wordBits = bw_encode_words(&writer, words.data(), 256, buffer.data(), 0);
    bw_reset(&writer);
    const int32_t maskBits = bw_encode_words(&writer, masks.data(), 86, buffer.data(), wordBits);
    *maskStart = static_cast<size_t>(wordBits) / 8;
    const std::string block = blockTexts(text).at(0);
    std::string changed = text;
    changed.replace(
        changed.find(block), block.size(),
        vokid::encodeBase64(buffer.data(), static_cast<size_t>(wordBits + maskBits + 7) / 8));
    return changed;
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Where the kept masks of an engine-written block begin, by the engine
// tests' decoder.
size_t maskOffset(const std::string &block)
{
    const std::vector<uint8_t> bytes = stream_test::base64_decode(block);
    stream_test::BitReader reader(bytes);
    stream_test::read_run(reader, 256, stream_test::code_inverse());
    return reader.position() / 8;
}

TEST(VokidDocuments, RefuseWhatVokDoesNotWriteSayingWhere)
{
    const std::string stream = music(3);
    const std::string spectral = music(1, 16);
    const std::string block = blockTexts(stream).at(0);
    const std::vector<uint8_t> bytes = vokid::decodeBase64(block);
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    size_t maskStart = 0;
    std::vector<uint32_t> masks(86, 0xFFFC0000u);
    masks[0] = 0xFF800000u; // 9 weak bits
    const std::string nineWeakBits = withBlock(stream, masks, &maskStart);
    const std::string truncated = stream.substr(0, stream.find("<FP_BLOCKS>") + 12);
    const std::string stream4Block = blockTexts(music(4)).at(1);
    const std::string lastValue =
        " " + blockTexts(spectral).at(0).substr(blockTexts(spectral).at(0).rfind(' ') + 1) + "<";

    const struct {
        std::string name, text, message;
    } cases[] = {
        {"empty input", "  \n", "no fingerprint document in it"},
        {"plain text", "hello", "document 1: line 1, column 1: text outside any element"},
        {"cut after FP_BLOCKS", truncated,
         "document 1: line 11, column 1: element FP_BLOCKS is not closed"},
        {"second document broken", stream + replaced(stream, block, "*" + block.substr(1)),
         "document 2: block 1: BASE64 character 1 ('*') is not in the alphabet"},
        {"a byte too many",
         replaced(stream, block, vokid::encodeBase64(longer.data(), longer.size())),
         "document 1: block 1, byte offset " + std::to_string(bytes.size()) +
             ": 1 byte follows the block's last code"},
        {"a block of three bytes", replaced(stream, block, vokid::encodeBase64(bytes.data(), 3)),
         "document 1: block 1, byte offset 0: the block ends inside sub-fingerprint 0"},
        {"nine weak bits", nineWeakBits,
         "document 1: block 1, byte offset " + std::to_string(maskStart) +
             ": the kept mask of sub-fingerprint 0 marks 9 weak bits, not 14 (Stream1) or 8 "
             "(Stream4)"},
        {"a Stream4 block in a Stream1 document",
         replaced(stream, blockTexts(stream).at(1), stream4Block),
         "document 1: block 2, byte offset " + std::to_string(maskOffset(stream4Block)) +
             ": the kept mask of sub-fingerprint 0 marks 8 weak bits, not 14 like the masks "
             "before it"},
        {"ORD out of order", replaced(stream, "ORD=\"2\"", "ORD=\"3\""),
         "document 1: FP_BLOCK 2: ORD is \"3\", not \"2\""},
        {"unknown algorithm", replaced(stream, "<NAME>Velmora", "<NAME>Velvet"),
         "document 1: unknown algorithm \"Velvet\""},
        {"unknown version",
         replaced(replaced(stream, "<VERSION>1.1", "<VERSION>1.2"), "&quot;1.1", "&quot;1.2"),
         "document 1: Velmora version \"1.2\" is unknown (1.1 is known)"},
        {"block length 4", replaced(stream, "<BLOCK_LENGTH>3", "<BLOCK_LENGTH>4"),
         "document 1: BLOCK_LENGTH \"4\" is not 3 or 6"},
        {"Stream4 wrapped as ZUVOK", wrapped(music(4), "ZUVOK"),
         "document 1: wrapped as ZUVOK (Stream1) but its masks mark 8 weak bits (Stream4)"},
        {"unknown wrapping", replaced(wrapped(stream, "ZUVOK"), "ZUVOK", "MP3"),
         "document 1: FPDATA TYPE is \"MP3\", not ZUVOK or QDV"},
        {"29 values", replaced(spectral, lastValue, "<"),
         "document 1: block 1 holds 29 values, not 30"},
        {"a value too large", replaced(spectral, lastValue, " 65536<"),
         "document 1: block 1, value 30 \"65536\" is not a number from 0 to 65535"},
        {"BLOCK_LENGTH in a spectral document",
         replaced(spectral, "</QUERY>", "</QUERY><BLOCK_LENGTH>3</BLOCK_LENGTH>"),
         "document 1: BLOCK_LENGTH in a spectral fingerprint"},
        {"an unknown element", replaced(stream, "<FORMAT>", "<COLOUR/><FORMAT>"),
         "document 1: <COLOUR> inside ALGORITHM"},
        {"an unknown entity", replaced(stream, "&quot;", "&quote;"),
         "document 1: line 6, column 19: unknown entity &quote;"},
    };
    for (const auto &c : cases) {
        try {
            vokid::readDocuments(c.text);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const vokid::DecodeError &error) {
            EXPECT_EQ(c.message, error.what()) << c.name;
        }
    }
}

} // namespace
