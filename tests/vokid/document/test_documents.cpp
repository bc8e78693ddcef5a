// Documents given as input: several in one text, raw and wrapped, both
// families, read back into numbers (checked against the tests' own block
// decoder); where a damaged one breaks, in lines and columns counted here;
// and what looks like documents rather than audio.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/libvok/engine/documents.h"
#include "tests/vokid/document_words.h"
#include "vokid/document/document.h"
#include "vokid/document/document_text.h"

namespace {

using vokid::Document;
using vokid::Family;

TEST(VokidDocuments, ReadsEveryKindOneAfterAnother)
{
    const std::string stream1 = documents::music(ENG_ALG_STREAM1);
    const std::string stream4 = documents::music(ENG_ALG_STREAM4);
    const std::string six = documents::music(ENG_ALG_STREAM6, 14);
    const std::string spectral = documents::music(ENG_ALG_FILE_FLOAT, 20);
    const std::string empty = documents::engine_document(ENG_ALG_STREAM4, std::vector<int16_t>(1000));
    const struct {
        std::string text;
        Family family;
        uint32_t algorithm;
        const char *wrapping;
        const std::string *source;
    } rows[] = {
        {stream1, Family::Streaming, ENG_ALG_STREAM1, "", &stream1},
        {documents::wrapped(stream1, "ZUVOK"), Family::Streaming, ENG_ALG_STREAM1, "ZUVOK",
         &stream1},
        {documents::wrapped(stream4, "QDV"), Family::Streaming, ENG_ALG_STREAM4, "QDV", &stream4},
        {"\n  " + six, Family::Streaming, ENG_ALG_STREAM6, "", &six},
        {documents::wrapped(spectral, "QDV"), Family::Spectral, 0, "QDV", nullptr},
        {documents::wrapped(empty, "ZUVOK"), Family::Streaming, 0, "ZUVOK", &empty},
        {empty, Family::Streaming, 0, "", &empty},
    };
    std::string all;
    for (const auto &row : rows)
        all += row.text;
    const std::vector<Document> read = vokid::readDocuments(all);
    ASSERT_EQ(std::size(rows), read.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(rows[i].family, read[i].family) << i;
        EXPECT_EQ(rows[i].algorithm, read[i].algorithm) << i;
        EXPECT_EQ(rows[i].wrapping, read[i].wrapping) << i;
        if (rows[i].family == Family::Spectral) {
            EXPECT_EQ(30u, read[i].values.size()) << i;
            continue;
        }
        EXPECT_EQ(vokid_test::documentWords(*rows[i].source), read[i].frames.words) << i;
        EXPECT_EQ(read[i].frames.words.size(), 256 * read[i].blockCount()) << i;
        const std::vector<std::string> texts = documents::block_texts(*rows[i].source);
        for (size_t b = 0; b < read[i].blockCount(); ++b)
            EXPECT_EQ(texts[b], vokid::blockText(read[i].frames, read[i].algorithm, b)) << i;
    }
}

// Which document breaks, and the engine's words for what is wrong.
TEST(VokidDocuments, SaysWhichDocumentBreaks)
{
    const std::string good = documents::music(ENG_ALG_STREAM1);
    const std::string bad = documents::replaced(good, "<FORMAT>COMPRESSED", "<FORMAT>PLAIN");
    try {
        vokid::readDocuments(good + bad);
        FAIL() << "a damaged document was read";
    } catch (const vokid::DecodeError &error) {
        EXPECT_STREQ("document 2: FORMAT \"PLAIN\" is not COMPRESSED", error.what());
    }
    for (const std::string nothing : {"", " \n\t "}) {
        try {
            vokid::readDocuments(nothing);
            FAIL() << "nothing was read";
        } catch (const vokid::DecodeError &error) {
            EXPECT_STREQ("no fingerprint document in it", error.what());
        }
    }
}

TEST(VokidDocuments, ToldFromAudioByTheirStart)
{
    const struct {
        std::string start;
        bool documents;
    } rows[] = {
        {"<?xml version=\"1.0\"", true},     {"\xEF\xBB\xBF<?xml", true},
        {"\r\n <ZUVOK_FP_QUERY", true},      {"<ZUSERVER_QUERY_LIST>", true},
        {"RIFF\x24\x00\x00\x00WAVE", false}, {"ID3\x04", false},
        {"", false},                         {"<html>", false},
        {std::string("\xFF\xFE<\0?\0x\0m\0l\0", 12), true},
        {std::string("\xFE\xFF\0<\0Z\0U\0S\0E\0R\0V\0E\0R\0_\0Q\0U\0E\0R\0Y\0_\0L\0I\0S\0T", 42), true},
        {std::string(" \0<\0?\0x\0m\0l\0", 12), true},
        {std::string(5000, ' ') + "<ZUVOK_FP_QUERY", true},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.documents, vokid::looksLikeDocuments(row.start)) << row.start;
}

// UTF-16 written here, code unit by code unit, in the byte order asked.
std::string utf16(const std::u16string &text, bool little)
{
    std::string out;
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        out += little ? std::string{low, high} : std::string{high, low};
    }
    return out;
}

// Every form a document text comes in, taken whole and a few bytes at a
// time (cutting marks, code units and surrogate pairs), gives its UTF-8.
TEST(VokidDocuments, TextInUtf8AndUtf16)
{
    const std::string utf8 = "<?xml?>\n<A B=\"\xC3\xA9 \xE2\x9C\x93 \xF0\x9D\x84\x9E\"/>";
    const std::u16string units = u"<?xml?>\n<A B=\"\u00e9 \u2713 \U0001D11E\"/>";
    const struct {
        const char *name;
        std::string bytes, text;
    } rows[] = {
        {"UTF-8", utf8, utf8},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + utf8, utf8},
        {"UTF-16LE with a mark", "\xFF\xFE" + utf16(units, true), utf8},
        {"UTF-16BE with a mark", "\xFE\xFF" + utf16(units, false), utf8},
        {"UTF-16LE", utf16(units, true), utf8},
        {"UTF-16BE", utf16(units, false), utf8},
        {"a lone surrogate, half a unit", "\xFF\xFE" + utf16(u"<\xD834>", true) + "x",
         "<\xEF\xBF\xBD>\xEF\xBF\xBD"},
        {"empty", "", ""},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.text, vokid::utf8Text(row.bytes)) << row.name;
        for (size_t piece : {1, 3}) {
            vokid::DocumentText text;
            std::string out;
            for (size_t at = 0; at < row.bytes.size(); at += piece)
                out += text.take(std::string_view(row.bytes).substr(at, piece));
            out += text.take("", true);
            EXPECT_EQ(row.text, out) << row.name << " " << piece;
        }
    }
}

} // namespace
