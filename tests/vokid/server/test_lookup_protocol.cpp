// The lookup server's protocol: bodies written by the built vok read into
// queries whose documents match the raw documents vok writes (their blocks
// decoded by the tests' own decoder), each kind of unusable query and of
// malformed body, and responses checked byte for byte and read back by
// python3's XML parser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/libvok/engine/documents.h"
#include "tests/vokid/document_words.h"
#include "tests/support/recording.h"
#include "tests/support/subprocess.h"
#include "tests/support/wav_writer.h"
#include "vokid/server/lookup_protocol.h"

namespace {

using vokid::LookupAnswer;
using vokid::LookupBodyError;
using vokid::LookupMatch;
using vokid::LookupQuery;
using vokid::LookupStatus;
using vokid::parseLookupBody;

const std::string kSample = VOK_SOURCE_DIR "/data/sample.wav";

std::string vokOutput(const std::vector<std::string> &args)
{
    const vok_test::RunResult run = vok_test::run_program(VOK_PROGRAM, args);
    EXPECT_EQ(0, run.exit_code) << run.err;
    return run.out;
}

size_t occurrences(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The raw documents of a text, split where each begins.
std::vector<std::string> rawDocuments(const std::string &text)
{
    std::vector<std::string> parts;
    for (size_t at = text.find("<?xml"); at != std::string::npos;) {
        const size_t next = text.find("<?xml", at + 1);
        parts.push_back(text.substr(at, next - at));
        at = next;
    }
    return parts;
}

// The 30 numbers of a raw spectral document's FP_BLOCK.
std::vector<uint32_t> valuesOf(const std::string &document)
{
    std::vector<uint32_t> values;
    std::istringstream numbers(documents::block_texts(document).at(0));
    for (uint32_t value; numbers >> value;)
        values.push_back(value);
    return values;
}

TEST(LookupBody, ReadsWhatVokWritesForEveryAlgorithm)
{
    // vok -c starts a new document after each empty data chunk: three
    // stretches of 25 s make three documents.
    vok_test::TempDir dir;
    const std::string longer = dir.file("longer.wav");
    vok_test::Recording recording(5, 11025, 1);
    vok_test::WavWriter writer;
    writer.fmt(1, 1, 11025, 16);
    for (int stretch = 0; stretch < 3; ++stretch) {
        std::vector<int16_t> samples(25 * 11025);
        recording.render(samples.data(), samples.size());
        writer.data(vok_test::pcm16(samples)).data({});
    }
    writer.write(longer);
    const struct {
        std::string algorithm, file, type;
        bool whole;
    } cases[] = {{"Stream1", kSample, "ZUVOK", false}, {"Stream4", kSample, "QDV", false},
                 {"FileFixed", kSample, "QDV", false}, {"FileFloat", kSample, "QDV", false},
                 {"Stream1", longer, "ZUVOK", true},   {"Stream4", longer, "QDV", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.algorithm + (c.whole ? " -c" : ""));
        std::vector<std::string> args = {"-a", c.algorithm, "-f", c.file};
        if (c.whole)
            args.push_back("-c");
        const std::vector<std::string> raw = rawDocuments(vokOutput(args));
        args.insert(args.end(), {"-om", "zuserver"});
        const std::string body = vokOutput(args);
        ASSERT_EQ(raw.size(), occurrences(body, "<ZUSERVER_QUERY_LIST>"));
        ASSERT_EQ(c.whole ? 3u : 1u, raw.size());
        const std::vector<LookupQuery> queries = parseLookupBody(body);
        ASSERT_EQ(raw.size(), queries.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            const LookupQuery &query = queries[i];
            ASSERT_TRUE(query.document) << query.error;
            EXPECT_EQ("1", query.id);
            EXPECT_EQ(c.type, query.type);
            EXPECT_EQ(c.type, query.document->wrapping);
            if (c.algorithm.rfind("Stream", 0) == 0)
                EXPECT_EQ(vokid_test::documentWords(raw[i]), query.document->frames.words);
            else
                EXPECT_EQ(valuesOf(raw[i]), query.document->values);
        }
    }
}

// The body vok writes for the sample, and its escaped document alone.
struct Sample {
    std::string body, escaped;
    explicit Sample(const std::string &algorithm)
        : body(vokOutput({"-a", algorithm, "-f", kSample, "-om", "zuserver"}))
    {
        const size_t open = body.find('>', body.find("<FPDATA")) + 1;
        escaped = body.substr(open, body.find("</FPDATA>") - open);
    }
};

std::string query(const std::string &id, const std::string &data)
{
    return "<ZUSERVER_QUERY ID=\"" + id + "\" OUT=\"ALBUM_RESPONSE\">" + data + "</ZUSERVER_QUERY>";
}

std::string list(const std::string &queries)
{
    return "<ZUSERVER_QUERY_LIST>" + queries + "</ZUSERVER_QUERY_LIST>";
}

std::string fpdata(const std::string &type, const std::string &text)
{
    return "<FPDATA TYPE=\"" + type + "\">" + text + "</FPDATA>";
}

// Text as character data: what a query carries inside FPDATA.
std::string escaped(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

TEST(LookupBody, ReadsListsOfSeveralQueriesInEveryForm)
{
    const Sample s1("Stream1"), s4("Stream4");
    const std::string raw1 = vokOutput({"-a", "Stream1", "-f", kSample});
    const std::string good1 = fpdata("ZUVOK", s1.escaped), good4 = fpdata("QDV", s4.escaped);
    const std::string body =
        "\n <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" +
        list(query("a", good1) + "\n<!-- between -->\n" + query("b&amp;&#x3C;&#62;", good4)) +
        "\n\n<?xml version='1.0'?>" +
        list("<ZUSERVER_QUERY ID='c'\tOUT='ALBUM_RESPONSE' >\n<FPDATA TYPE='ZUVOK'><![CDATA[" +
             raw1 + "]]></FPDATA>\n</ZUSERVER_QUERY >") +
        s4.body;
    const std::vector<LookupQuery> queries = parseLookupBody(body);
    ASSERT_EQ(4u, queries.size());
    const char *ids[] = {"a", "b&<>", "c", "1"};
    const char *types[] = {"ZUVOK", "QDV", "ZUVOK", "QDV"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ids[i], queries[i].id);
        EXPECT_EQ(types[i], queries[i].type);
        EXPECT_TRUE(queries[i].document) << i << ": " << queries[i].error;
    }
    EXPECT_EQ(queries[0].document->frames.words, queries[2].document->frames.words);
}

TEST(LookupBody, EachUnusableQueryGetsItsReason)
{
    const Sample s1("Stream1"), s4("Stream4"), fixed("FileFixed");
    // Stream6 is Stream4's masks in 6-second blocks.
    const std::string stream6 =
        documents::replaced(s4.escaped, "BLOCK_LENGTH&gt;3", "BLOCK_LENGTH&gt;6");
    std::string noBlocks = s4.escaped;
    for (size_t at; (at = noBlocks.find("    &lt;FP_BLOCK ")) != std::string::npos;)
        noBlocks.erase(at, noBlocks.find("&lt;/FP_BLOCK&gt;\n", at) + 18 - at);
    const std::string block = "ORD=&quot;1&quot;&gt;";
    std::string badBase64 = s1.escaped;
    badBase64[badBase64.find(block) + block.size()] = '*';
    const std::string id64(64, 'i');
    const struct {
        std::string id, data, error;
    } cases[] = {
        {"1", fpdata("XYZ", s1.escaped), "FPDATA TYPE \"XYZ\" is neither ZUVOK nor QDV"},
        {"1", "<FPDATA>" + s1.escaped + "</FPDATA>", "FPDATA without TYPE"},
        {"1", fpdata("X&#10;Y", s1.escaped), "FPDATA TYPE \"X Y\" is neither ZUVOK nor QDV"},
        {"1", fpdata("ZUVOK", s4.escaped), "TYPE ZUVOK carries Stream1 documents, not Stream4"},
        {"1", fpdata("ZUVOK", fixed.escaped),
         "TYPE ZUVOK carries Stream1 documents, not FileFixed or FileFloat"},
        {"1", fpdata("QDV", s1.escaped),
         "TYPE QDV carries Stream4, FileFixed or FileFloat documents, not Stream1"},
        {"1", fpdata("ZUVOK", badBase64), "FPDATA's document 1: "},
        {"1", fpdata("ZUVOK", s1.escaped.substr(0, 900)), "FPDATA's document 1: "},
        {"1", fpdata("QDV", stream6), "FPDATA holds a Stream6 document, which no TYPE carries"},
        {"1", fpdata("QDV", noBlocks), "FPDATA's document has no blocks"},
        {"1", fpdata("QDV", " \n "), "empty FPDATA"},
        {"1", fpdata("QDV", s4.escaped + s4.escaped), "FPDATA holds more than one document"},
        {"1", fpdata("QDV", escaped(s4.body)),
         "FPDATA holds a server query, not a fingerprint document"},
        {"1", fpdata("QDV", "<ZUVOK_FP_QUERY/>"),
         "FPDATA holds <ZUVOK_FP_QUERY>: its document must be escaped text"},
        {id64 + "x", fpdata("ZUVOK", s1.escaped), "ID longer than 64 characters"},
        {"1", fpdata("QDV", s4.escaped) + fpdata("QDV", s4.escaped),
         "ZUSERVER_QUERY holds more than one FPDATA"},
        {"1", "", "ZUSERVER_QUERY without FPDATA"},
        {"1", "<NOTE/>" + fpdata("QDV", s4.escaped), "<NOTE> inside ZUSERVER_QUERY"},
        {"1", "hello" + fpdata("QDV", s4.escaped), "text inside ZUSERVER_QUERY"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        // Between two good queries, which are still answered.
        const std::vector<LookupQuery> queries = parseLookupBody(
            list(query("before", fpdata("QDV", s4.escaped)) + query(c.id, c.data)) + s1.body);
        ASSERT_EQ(3u, queries.size());
        EXPECT_TRUE(queries[0].document && queries[2].document);
        EXPECT_FALSE(queries[1].document);
        EXPECT_EQ(0u, queries[1].error.rfind(c.error, 0)) << queries[1].error;
        EXPECT_EQ(std::string::npos, queries[1].error.find('\n'));
        EXPECT_EQ(c.id.substr(0, 64), queries[1].id);
    }
    EXPECT_TRUE(parseLookupBody(list(query(id64, fpdata("ZUVOK", s1.escaped))))[0].document);
    const std::string missing =
        list("<ZUSERVER_QUERY>" + fpdata("QDV", s4.escaped) + "</ZUSERVER_QUERY>");
    EXPECT_EQ("ZUSERVER_QUERY without ID", parseLookupBody(missing)[0].error);
}

std::string repeated(const std::string &text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// " A0='0' A1='1' ...": as many attributes of distinct names.
std::string attributes(size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += " A" + std::to_string(i) + "='" + std::to_string(i) + "'";
    return out;
}

TEST(LookupBody, RefusesWhatIsNotAListOfQueries)
{
    const std::string good = list(query("1", ""));
    const struct {
        std::string body, error;
    } cases[] = {
        {"", "the body holds no ZUSERVER_QUERY_LIST"},
        {" \r\n\t ", "the body holds no ZUSERVER_QUERY_LIST"},
        {"<?xml version=\"1.0\"?>\n", "the body holds no ZUSERVER_QUERY_LIST"},
        {"hello", "line 1, column 1: something other than a ZUSERVER_QUERY_LIST element"},
        {good + "\n\n\n\n\nx",
         "line 6, column 1: something other than a ZUSERVER_QUERY_LIST element"},
        {"x" + good, "line 1, column 1: something other than"},
        {good + " x " + good, "line 1, column 106: something other than"},
        {"<ZUVOK_FP_QUERY/>",
         "line 1, column 1: <ZUVOK_FP_QUERY> where a ZUSERVER_QUERY_LIST belongs"},
        {"<!-- c -->" + good, "line 1, column 1: something other than"},
        {good.substr(0, good.size() - 1), "line 1, column 104: the body ends where '>' closing"},
        {good.substr(0, 65), "line 1, column 66: the body ends inside <ZUSERVER_QUERY>"},
        {"<ZUSERVER_QUERY_LIST>" + query("1", "") + "</ZUSERVER_QUERY>",
         "line 1, column 83: this end tag does not close <ZUSERVER_QUERY_LIST>"},
        {list(""), "line 1, column 1: ZUSERVER_QUERY_LIST without ZUSERVER_QUERY"},
        {"<ZUSERVER_QUERY_LIST/>", "line 1, column 1: ZUSERVER_QUERY_LIST without ZUSERVER_QUERY"},
        {list("<FPDATA/>"), "line 1, column 22: <FPDATA> inside ZUSERVER_QUERY_LIST"},
        {list(" text " + query("1", "")), "line 1, column 23: text inside ZUSERVER_QUERY_LIST"},
        {list(query("&bogus;", "")), "line 1, column 42: unknown reference &bogus;"},
        {list(query("&#0;", "")),
         "line 1, column 42: a reference to a character XML does not allow"},
        {list(query("a&b", "")), "line 1, column 43: '&' that does not begin a reference"},
        {list(query("&g\nt;", "")), "line 1, column 42: '&' that does not begin a reference"},
        {list("<ZUSERVER_QUERY ID=1/>"), "line 1, column 41: an attribute's value must be quoted"},
        {list("<ZUSERVER_QUERY ID='1' ID='2'/>"), "line 1, column 45: attribute ID twice"},
        {list("<ZUSERVER_QUERY ID='<'/>"), "line 1, column 42: '<' inside an attribute's value"},
        {list("<ZUSERVER_QUERY" + attributes(33) + "/>"),
         "line 1, column 306: more than 32 attributes"},
        {list(query("1", "<!DOCTYPE x>")),
         "line 1, column 66: a processing instruction or declaration"},
        {list(query("1", "]]>")), "line 1, column 66: ']]>' in character data"},
        {list(query("1", "<!-- c")), "line 1, column 66: a comment that does not end"},
        {list(query("1", repeated("<a>", 15) + repeated("</a>", 15))),
         "line 1, column 108: elements nested deeper than 16"},
        {list(repeated("<ZUSERVER_QUERY ID='1'/>", 1001)),
         "line 1, column 24022: more than 1000 queries"},
        {repeated(good, 1001), "line 1, column 104022: more than 1000 queries in one body"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body.substr(0, 120));
        try {
            parseLookupBody(c.body);
            ADD_FAILURE() << "no LookupBodyError";
        } catch (const LookupBodyError &error) {
            EXPECT_EQ(0u, std::string(error.what()).rfind(c.error, 0)) << error.what();
            EXPECT_EQ(nullptr, std::strchr(error.what(), '\n'));
        }
    }
    // The boundaries, just inside.
    EXPECT_EQ(1000u, parseLookupBody(repeated(good, 1000)).size());
    EXPECT_EQ(1u,
              parseLookupBody(list(query("1", repeated("<a>", 14) + repeated("</a>", 14)))).size());
    EXPECT_EQ(1u, parseLookupBody(list("<ZUSERVER_QUERY" + attributes(32) + "/>")).size());
}

// --- The response --------------------------------------------------------------

LookupMatch match(uint32_t rank, uint64_t track, double offset, double ber, double confidence,
                  std::vector<std::string> texts)
{
    texts.resize(4);
    LookupMatch made;
    made.rank = rank;
    made.trackId = track;
    made.offsetSeconds = offset;
    made.ber = ber;
    made.confidence = confidence;
    made.title = texts[0];
    made.artist = texts[1];
    made.album = texts[2];
    made.path = texts[3];
    return made;
}

const std::vector<LookupAnswer> &answers()
{
    static const std::vector<LookupAnswer> all = {
        {"1",
         LookupStatus::Ok,
         false,
         "",
         {match(1, 17, 83.25, 0.081, 0.97, {"Title", "Artist", "Album", "/music/a.flac"}),
          match(2, 18446744073709551615u, -0.0001, 0, 1, {"", "Only artist"})}},
        {"q&<>\"'", LookupStatus::NoMatch, true, "", {}},
        {"3", LookupStatus::Error, false, "line 1: bad & <worse>", {}},
        {"4",
         LookupStatus::Ok,
         true,
         "",
         {match(1, 5, 1234.5678, 0.1239, 0.0005,
                {"a\nb\r\tc", "\x01\x7f\xc0\xaf\xed\xa0\x80\xef\xbf\xbe\xf0\x9f\x8e\xb5",
                 "caf\xc3\xa9\xe2", ""})}},
    };
    return all;
}

TEST(LookupResponse, WritesEachStatusByteForByte)
{
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
        "<ZUSERVER_RESPONSE_LIST>\n"
        "<ZUSERVER_RESPONSE ID=\"1\" STATUS=\"OK\">\n"
        "<ALBUM_RESPONSE>\n"
        "<MATCH RANK=\"1\" TRACK_ID=\"17\" OFFSET=\"83.250\" BER=\"0.081\" CONFIDENCE=\"0.970\">"
        "<TITLE>Title</TITLE><ARTIST>Artist</ARTIST><ALBUM>Album</ALBUM>"
        "<PATH>/music/a.flac</PATH></MATCH>\n"
        "<MATCH RANK=\"2\" TRACK_ID=\"18446744073709551615\" OFFSET=\"0.000\" BER=\"0.000\" "
        "CONFIDENCE=\"1.000\"><ARTIST>Only artist</ARTIST></MATCH>\n"
        "</ALBUM_RESPONSE>\n"
        "</ZUSERVER_RESPONSE>\n"
        "<ZUSERVER_RESPONSE ID=\"q&amp;&lt;&gt;&quot;&apos;\" STATUS=\"NO_MATCH\" PARTIAL=\"1\">\n"
        "<ALBUM_RESPONSE>\n"
        "</ALBUM_RESPONSE>\n"
        "</ZUSERVER_RESPONSE>\n"
        "<ZUSERVER_RESPONSE ID=\"3\" STATUS=\"ERROR\">\n"
        "<MESSAGE>line 1: bad &amp; &lt;worse&gt;</MESSAGE>\n"
        "</ZUSERVER_RESPONSE>\n"
        "<ZUSERVER_RESPONSE ID=\"4\" STATUS=\"OK\" PARTIAL=\"1\">\n"
        "<ALBUM_RESPONSE>\n"
        "<MATCH RANK=\"1\" TRACK_ID=\"5\" OFFSET=\"1234.568\" BER=\"0.124\" CONFIDENCE=\"0.001\">"
        "<TITLE>a&#10;b&#13;&#9;c</TITLE>"
        "<ARTIST>\xef\xbf\xbd\x7f\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"
        "\xef\xbf\xbd\xf0\x9f\x8e\xb5</ARTIST>"
        "<ALBUM>caf\xc3\xa9\xef\xbf\xbd</ALBUM></MATCH>\n"
        "</ALBUM_RESPONSE>\n"
        "</ZUSERVER_RESPONSE>\n"
        "</ZUSERVER_RESPONSE_LIST>\n";
    EXPECT_EQ(expected, vokid::writeLookupResponse(answers()));
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<ZUSERVER_RESPONSE_LIST>\n"
              "</ZUSERVER_RESPONSE_LIST>\n",
              vokid::writeLookupResponse({}));
    // Where in the query and at what pace a streaming match is heard; why
    // there is no match.
    LookupMatch heard = match(1, 9, 2.5, 0.05, 0.9, {});
    heard.clipStart = 4.2;
    heard.clipEnd = 12.0004;
    heard.tempo = 1.03;
    const LookupAnswer none{"n", LookupStatus::NoMatch, false, "margin_too_small", {}};
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<ZUSERVER_RESPONSE_LIST>\n"
              "<ZUSERVER_RESPONSE ID=\"h\" STATUS=\"OK\">\n<ALBUM_RESPONSE>\n"
              "<MATCH RANK=\"1\" TRACK_ID=\"9\" OFFSET=\"2.500\" BER=\"0.050\" "
              "CONFIDENCE=\"0.900\" CLIP_START=\"4.200\" CLIP_END=\"12.000\" SPEED=\"1.000\" "
              "TEMPO=\"1.030\"></MATCH>\n"
              "</ALBUM_RESPONSE>\n</ZUSERVER_RESPONSE>\n"
              "<ZUSERVER_RESPONSE ID=\"n\" STATUS=\"NO_MATCH\" REASON=\"margin_too_small\">\n"
              "<ALBUM_RESPONSE>\n</ALBUM_RESPONSE>\n</ZUSERVER_RESPONSE>\n"
              "</ZUSERVER_RESPONSE_LIST>\n",
              vokid::writeLookupResponse({{"h", LookupStatus::Ok, false, "", {heard}}, none}));
    // A spectral match: the L1 distance of its values in place of BER.
    LookupMatch spectral = match(1, 9, 0, 0.5, 0.75, {"T"});
    spectral.distance = 1250;
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<ZUSERVER_RESPONSE_LIST>\n"
              "<ZUSERVER_RESPONSE ID=\"s\" STATUS=\"OK\">\n<ALBUM_RESPONSE>\n"
              "<MATCH RANK=\"1\" TRACK_ID=\"9\" OFFSET=\"0.000\" DISTANCE=\"1250\" "
              "CONFIDENCE=\"0.750\"><TITLE>T</TITLE></MATCH>\n"
              "</ALBUM_RESPONSE>\n</ZUSERVER_RESPONSE>\n</ZUSERVER_RESPONSE_LIST>\n",
              vokid::writeLookupResponse({{"s", LookupStatus::Ok, false, "", {spectral}}}));
}

TEST(LookupResponse, RefusesAnswersThatContradictThemselves)
{
    const LookupMatch good = match(1, 1, 0, 0, 0, {});
    LookupMatch rank0 = good, nan = good, inf = good, pace = good;
    rank0.rank = 0;
    pace.clipStart = 0;
    pace.tempo = std::nan("");
    nan.offsetSeconds = std::nan("");
    inf.ber = HUGE_VAL;
    const LookupAnswer cases[] = {
        {"1", LookupStatus::Ok, false, "", {}},
        {"1", LookupStatus::NoMatch, false, "", {good}},
        {"1", LookupStatus::Error, false, "why", {good}},
        {"1", LookupStatus::Ok, false, "", {good, rank0}},
        {"1", LookupStatus::Ok, false, "", {nan}},
        {"1", LookupStatus::Ok, false, "", {inf}},
        {"1", LookupStatus::Ok, false, "", {pace}},
    };
    for (const LookupAnswer &answer : cases)
        EXPECT_THROW(vokid::writeLookupResponse({answers()[0], answer}), std::invalid_argument);
}

// python3's XML parser reads the response back: the attributes and texts
// of every answer, as JSON.
nlohmann::json readBack(const std::string &response)
{
    vok_test::TempDir dir;
    vok_test::write_file(dir.file("response.xml"),
                         vok_test::Bytes(response.begin(), response.end()));
    const char *script =
        "import json, sys, xml.etree.ElementTree as T\n"
        "root = T.parse(sys.argv[1]).getroot()\n"
        "out = []\n"
        "for r in root:\n"
        "    a = dict(r.attrib)\n"
        "    a['children'] = [[c.tag, c.text or '', [dict(m.attrib, **{e.tag: e.text for e in m})\n"
        "                                           for m in c]] for c in r]\n"
        "    out.append(a)\n"
        "print(json.dumps(out))\n";
    const vok_test::RunResult run =
        vok_test::run_program("/usr/bin/env", {"python3", "-c", script, dir.file("response.xml")});
    EXPECT_EQ(0, run.exit_code) << run.err;
    return nlohmann::json::parse(run.out);
}

TEST(LookupResponse, ReadsBackWithAnIndependentParser)
{
    // Every single byte, and every pair of a lead byte with a following one,
    // as a title: whatever the strings hold, the response stays well-formed.
    std::vector<LookupAnswer> all = answers();
    LookupAnswer bytes{"bytes", LookupStatus::Ok, false, "", {}};
    for (int lead = 0; lead < 256; ++lead) {
        std::string text(1, static_cast<char>(lead));
        for (int next : {0x00, 0x41, 0x80, 0xBF, 0xC0})
            text += std::string(1, static_cast<char>(lead)) + static_cast<char>(next);
        bytes.matches.push_back(match(lead + 1, lead, 0, 0, 0, {text, text, text, text}));
    }
    all.push_back(bytes);
    const nlohmann::json read = readBack(vokid::writeLookupResponse(all));
    ASSERT_EQ(all.size(), read.size());
    EXPECT_EQ("q&<>\"'", read[1]["ID"]);
    EXPECT_EQ("1", read[1]["PARTIAL"]);
    EXPECT_EQ(nlohmann::json::array({"MESSAGE", "line 1: bad & <worse>", nlohmann::json::array()}),
              read[2]["children"][0]);
    const nlohmann::json first = read[0]["children"][0][2];
    EXPECT_EQ("83.250", first[0]["OFFSET"]);
    EXPECT_EQ("/music/a.flac", first[0]["PATH"]);
    EXPECT_FALSE(first[1].contains("TITLE"));
    EXPECT_EQ("a\nb\r\tc", read[3]["children"][0][2][0]["TITLE"]);
    const nlohmann::json &titles = read[4]["children"][0][2];
    ASSERT_EQ(256u, titles.size());
    // Worked out by hand: 'A' alone and with each follower, then 0xC3 (a
    // lead byte that needs one follower from 0x80 to 0xBF).
    const std::string r = "\xef\xbf\xbd";
    EXPECT_EQ("AA" + r + "AAA" + r + "A" + r + "A" + r, titles[0x41]["TITLE"]);
    EXPECT_EQ(r + r + r + r + "A\xc3\x80\xc3\xbf" + r + r, titles[0xC3]["TITLE"]);
    EXPECT_EQ(r + r + r + r + "A" + r + r + r + r + r + r, titles[0xFF]["ARTIST"]);
}

} // namespace
