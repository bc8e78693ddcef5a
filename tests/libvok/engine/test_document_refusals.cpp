// What the decoders refuse, each case with the offset of the fault in the
// text and the words that say what is wrong: damaged XML, BASE64 and
// blocks, masks of mixed variants, a wrong head or parameters, a wrapping
// that does not agree, foreign documents, spectral values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "algo/stream/b64.h"
#include "algo/stream/strm_internal.h"
#include "engine/eng_memory.h"
#include "tests/libvok/engine/documents.h"
#include "tests/support/alloc_faults.h"

namespace {

using documents::block_texts;
using documents::music;
using documents::replaced;
using documents::wrapped;

const size_t kUnchecked = ~static_cast<size_t>(0);

std::string base64(const uint8_t *bytes, uint32_t size)
{
    char *text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(ENG_OK, b64_encode(bytes, size, &text, &length, 0));
    std::string out(text, length);
    eng_free(text);
    return out;
}

// BASE64 text of 256 words and kept masks of our choosing, as a handle
// encodes them; *mask_start is the byte where the masks begin.
std::string block_of(const std::vector<uint32_t> &kept, size_t *mask_start)
{
    const std::vector<uint32_t> words(256, 0x5a5a5a5au);
    BitWriter writer{};
    writer.codes = bw_byte_codes();
    std::vector<uint8_t> bytes(STRM_ENCODED_CAPACITY);
    const int32_t size = strm_encode_block(&writer, words.data(), kept.data(), bytes.data());
    BlockRead read;
    EXPECT_EQ(ENG_OK, bw_read_block(bytes.data(), static_cast<uint32_t>(size), &read));
    *mask_start = read.kept_offsets[0];
    return base64(bytes.data(), static_cast<uint32_t>(size));
}

std::vector<uint8_t> bytes_of(const std::string &block)
{
    uint8_t *bytes = nullptr;
    uint32_t size = 0;
    B64Fault fault;
    EXPECT_EQ(ENG_OK,
              b64_decode(block.data(), static_cast<uint32_t>(block.size()), &bytes, &size, &fault));
    std::vector<uint8_t> out(bytes, bytes + size);
    eng_free(bytes);
    return out;
}

struct Refusal {
    std::string name, text;
    size_t offset; // kUnchecked where the case names the place in its words only
    std::string problem;
    bool spectral = false;
};

void expect_refused(const Refusal &c)
{
    size_t consumed = 0;
    ResultCode result = ENG_OK;
    if (c.spectral) {
        int16_t values[30];
        result = eng_decode_spectral_xml(c.text.data(), c.text.size(), values, &consumed);
    } else {
        EngineFrames frames{};
        result = eng_decode_stream_xml(c.text.data(), c.text.size(), &frames, &consumed);
        eng_free_frames(&frames);
    }
    ASSERT_EQ(ENG_E_BAD_DOCUMENT, result) << c.name;
    EXPECT_EQ(c.problem, eng_decode_problem()) << c.name;
    if (c.offset != kUnchecked) {
        EXPECT_EQ(c.offset, consumed) << c.name;
    }
}

class DocumentRefusals : public vok_test::LeakCheckedTest {};

TEST_F(DocumentRefusals, NameWhatIsWrongAndWhere)
{
    const std::string stream = music(3), stream4 = music(4), spectral = music(1, 16);
    std::vector<size_t> starts;
    const std::vector<std::string> blocks = block_texts(stream, &starts);
    const std::vector<uint8_t> bytes = bytes_of(blocks[0]);
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    size_t mask_start = 0;
    std::vector<uint32_t> kept(86, 0xFFFC0000u);
    kept[0] = 0xFF800000u; // 9 weak bits
    const std::string nine = block_of(kept, &mask_start);
    std::vector<size_t> starts4;
    const std::string block4 = block_texts(stream4, &starts4).at(1);
    size_t mask4 = 0;
    {
        BlockRead read;
        const std::vector<uint8_t> b4 = bytes_of(block4);
        ASSERT_EQ(ENG_OK, bw_read_block(b4.data(), static_cast<uint32_t>(b4.size()), &read));
        mask4 = read.kept_offsets[0];
    }
    const std::string values = block_texts(spectral).at(0);
    const std::string last = " " + values.substr(values.rfind(' ') + 1) + "<";
    const size_t second = stream.find("<FP_BLOCK ", starts[0]);
    const std::string zuvok = wrapped(stream, "ZUVOK");
    const std::string star = replaced(zuvok, blocks[0], "*" + blocks[0].substr(1));

    const Refusal cases[] = {
        {"empty input", "  \n", 3, "line 2, column 1: no element in the text"},
        {"plain text", "hello", 0, "line 1, column 1: text outside any element"},
        {"cut after FP_BLOCKS", stream.substr(0, stream.find("<FP_BLOCKS>") + 12), kUnchecked,
         "line 11, column 1: element FP_BLOCKS is not closed"},
        {"an unknown entity", replaced(stream, "&quot;", "&quote;"), stream.find("&quot;"),
         "line 6, column 19: unknown entity &quote;"},
        {"a character outside BASE64", replaced(stream, blocks[0], "*" + blocks[0].substr(1)),
         starts[0], "block 1: BASE64 character 1 ('*') is not in the alphabet"},
        {"the same, wrapped", star, star.find('*'),
         "block 1: BASE64 character 1 ('*') is not in the alphabet"},
        {"a byte too many", replaced(stream, blocks[0], base64(longer.data(), 1 + bytes.size())),
         starts[0] + bytes.size() / 3 * 4,
         "block 1, byte offset " + std::to_string(bytes.size()) +
             ": 1 byte follows the block's last code"},
        {"a block of three bytes", replaced(stream, blocks[0], base64(bytes.data(), 3)), starts[0],
         "block 1, byte offset 0: the block ends inside sub-fingerprint 0"},
        {"nine weak bits", replaced(stream, blocks[0], nine), starts[0] + mask_start / 3 * 4,
         "block 1, byte offset " + std::to_string(mask_start) +
             ": the kept mask of sub-fingerprint 0 marks 9 weak bits, not 14 (Stream1) or 8 "
             "(Stream4)"},
        {"a Stream4 block in a Stream1 document", replaced(stream, blocks[1], block4),
         starts[1] + mask4 / 3 * 4,
         "block 2, byte offset " + std::to_string(mask4) +
             ": the kept mask of sub-fingerprint 0 marks 8 weak bits, not 14 like the masks "
             "before it"},
        {"an empty block", replaced(stream, blocks[0], ""), starts[0], "block 1: empty"},
        {"ORD out of order", replaced(stream, "ORD=\"2\"", "ORD=\"3\""), second,
         "FP_BLOCK 2: ORD is \"3\", not \"2\""},
        {"TYPE missing", replaced(stream, "TYPE=\"BINARY\" ", ""), stream.find("<FP_BLOCK "),
         "block 1: attribute TYPE is missing"},
        {"unknown algorithm", replaced(stream, "<NAME>Velmora", "<NAME>Velvet"),
         stream.find("Velmora"), "unknown algorithm \"Velvet\""},
        {"unknown version",
         replaced(replaced(stream, "<VERSION>1.1", "<VERSION>1.2"), "&quot;1.1", "&quot;1.2"),
         kUnchecked, "Velmora version \"1.2\" is unknown (1.1 is known)"},
        {"QUERY not name and version", replaced(stream, "&quot;1.1", "&quot;1.0"), kUnchecked,
         "ALGORITHM/QUERY is not \"Velmora\"1.1\""},
        {"root version", replaced(stream, "VERSION=\"1.0\"", "VERSION=\"2\""),
         stream.find("<ZUVOK_FP_QUERY"), "ZUVOK_FP_QUERY: VERSION is \"2\", not \"1.0\""},
        {"block length 4", replaced(stream, "<BLOCK_LENGTH>3", "<BLOCK_LENGTH>4"),
         stream.find("<BLOCK_LENGTH>") + 14, "BLOCK_LENGTH \"4\" is not 3 or 6"},
        {"FORMAT", replaced(stream, "COMPRESSED", "RAW"), kUnchecked,
         "FORMAT \"RAW\" is not COMPRESSED"},
        {"an unknown element", replaced(stream, "<FORMAT>", "<COLOUR/><FORMAT>"),
         stream.find("<FORMAT>"), "<COLOUR> inside ALGORITHM"},
        {"ALGORITHM twice", replaced(stream, "<FP_BLOCKS>", "<ALGORITHM/><FP_BLOCKS>"),
         stream.find("<FP_BLOCKS>"), "ALGORITHM twice inside ZUVOK_FP_QUERY"},
        {"no blocks element",
         replaced(replaced(stream, "<FP_BLOCKS>", "<X>"), "</FP_BLOCKS>", "</X>"), kUnchecked,
         "<X> inside ZUVOK_FP_QUERY"},
        {"Stream4 wrapped as ZUVOK", wrapped(stream4, "ZUVOK"), 65,
         "wrapped as ZUVOK (Stream1) but its masks mark 8 weak bits (Stream4)"},
        {"Stream1 wrapped as QDV", wrapped(stream, "QDV"), 65,
         "wrapped as QDV (not Stream1) but its masks mark 14 weak bits (Stream1)"},
        {"six-second blocks wrapped as ZUVOK", wrapped(music(5, 7), "ZUVOK"), 65,
         "wrapped as ZUVOK (Stream1) but its blocks last six seconds (engine algorithm 5)"},
        {"unknown wrapping", replaced(zuvok, "ZUVOK", "MP3"), 65,
         "FPDATA TYPE is \"MP3\", not ZUVOK or QDV"},
        {"two server queries",
         replaced(zuvok, "</ZUSERVER_QUERY_LIST>", "<ZUSERVER_QUERY/></ZUSERVER_QUERY_LIST>"),
         zuvok.find("</ZUSERVER_QUERY_LIST>"),
         "ZUSERVER_QUERY_LIST holds more than one ZUSERVER_QUERY"},
        {"two documents in FPDATA",
         replaced(zuvok, "&gt;\n</FPDATA>", "&gt;&lt;ZUVOK_FP_QUERY/&gt;</FPDATA>"),
         zuvok.find("&gt;\n</FPDATA>") + 4, "FPDATA holds more than one document"},
        {"something else in FPDATA", wrapped("<A/>", "QDV"), 84,
         "FPDATA holds <A>, not a fingerprint document"},
        {"a spectral document", spectral, spectral.find("<NAME>"),
         "a spectral fingerprint (Quorindavel), not a streaming one"},
        {"a streaming document", stream, stream.find("<NAME>"),
         "a streaming fingerprint (Velmora), not a spectral one", true},
        {"spectral wrapped as ZUVOK", wrapped(spectral, "ZUVOK"), 65,
         "wrapped as ZUVOK (Stream1) but it is a spectral fingerprint", true},
        {"29 values", replaced(spectral, last, "<"), spectral.find(last),
         "block 1 holds 29 values, not 30", true},
        {"a value too large", replaced(spectral, last, " 65536<"), spectral.find(last) + 1,
         "block 1, value 30 \"65536\" is not a number from 0 to 65535", true},
        {"a leading zero", replaced(spectral, last, " 07<"), kUnchecked,
         "block 1, value 30 \"07\" is not a number from 0 to 65535", true},
        {"31 values", replaced(spectral, last, last.substr(0, last.size() - 1) + " 1<"), kUnchecked,
         "block 1 holds more than 30 values", true},
        {"BLOCK_LENGTH in a spectral document",
         replaced(spectral, "</QUERY>", "</QUERY><BLOCK_LENGTH>3</BLOCK_LENGTH>"), kUnchecked,
         "BLOCK_LENGTH in a spectral fingerprint", true},
        {"COUNT", replaced(spectral, "COUNT=\"30\"", "COUNT=\"29\""), kUnchecked,
         "block 1: COUNT is \"29\", not \"30\"", true},
    };
    for (const Refusal &c : cases)
        expect_refused(c);
}

TEST_F(DocumentRefusals, AreCountedFromWhereTheCallerStartsAndClearedBySuccess)
{
    const std::string stream = music(3);
    const std::vector<std::string> blocks = block_texts(stream);
    const std::string text = stream + replaced(stream, blocks[0], "*" + blocks[0].substr(1));
    EngineFrames frames{};
    size_t consumed = 0;
    ASSERT_EQ(ENG_OK, eng_decode_stream_xml(text.data(), text.size(), &frames, &consumed));
    eng_free_frames(&frames);
    ASSERT_EQ(stream.size(), consumed);
    size_t fault = 0;
    EXPECT_EQ(ENG_E_BAD_DOCUMENT, eng_decode_stream_xml(text.data() + consumed,
                                                        text.size() - consumed, &frames, &fault));
    EXPECT_EQ('*', text[consumed + fault]);
    EXPECT_STRNE("", eng_decode_problem());
    ASSERT_EQ(ENG_OK, eng_decode_stream_xml(text.data(), text.size(), &frames, &consumed));
    EXPECT_STREQ("", eng_decode_problem());
    eng_free_frames(&frames);
}

} // namespace
