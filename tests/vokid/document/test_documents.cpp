// Documents given as input: several in one text, raw and wrapped, both
// families, read back into numbers (checked against the tests' own block
// decoder); where a damaged one breaks, in lines and columns counted here;
// and what looks like documents rather than audio.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/libvok/engine/documents.h"
#include "vokid/document/document.h"

namespace {

using vokid::Document;
using vokid::Family;

// The sub-fingerprints of a document's blocks, read by the tests' decoder.
std::vector<uint32_t> wordsOf(const std::string &document)
{
    std::vector<uint32_t> words;
    for (const std::string &text : documents::block_texts(document)) {
        const auto block = stream_test::decode_block(stream_test::base64_decode(text));
        words.insert(words.end(), block.words.begin(), block.words.end());
    }
    return words;
}

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
        EXPECT_EQ(wordsOf(*rows[i].source), read[i].frames.words) << i;
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
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.documents, vokid::looksLikeDocuments(row.start)) << row.start;
}

} // namespace
