// `vokid serve` as a child process on a free loopback port, asked over
// plain sockets: vok's own lookup queries (Stream1 and Stream4, one
// document and the several of -c), matches, no matches and queries that
// cannot be used; the JSON API beside `vokid identify`, `list` and `stats`
// of the same index; the write routes with and without a token; tracks
// added and removed by other processes while it runs; health and metrics.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"
#include "tests/vokid/server/http_exchange.h"
#include "tests/vokid/server/served_index.h"

namespace {

namespace fs = std::filesystem;
using vokid_test::httpCall;
using vokid_test::HttpReply;
using vokid_test::ServedIndex;
using vokid_test::vok;
using vokid_test::vokid;

constexpr uint32_t kRate = 22050;
constexpr size_t kTracks = 4;

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string writeAudio(const std::string &path, const std::vector<int16_t> &samples)
{
    vok_test::write_wav(path, 1, 1, kRate, 16, vok_test::pcm16(samples));
    return path;
}

std::vector<int16_t> slice(const std::vector<int16_t> &samples, double from, double seconds)
{
    const auto begin = samples.begin() + static_cast<long>(from * kRate);
    return std::vector<int16_t>(begin, begin + static_cast<long>(seconds * kRate));
}

nlohmann::json jsonBody(const HttpReply &reply)
{
    const nlohmann::json value = nlohmann::json::parse(reply.body, nullptr, false);
    EXPECT_FALSE(value.is_discarded()) << "not JSON: " << reply.body.substr(0, 300);
    return value;
}

// The attributes of each ZUSERVER_RESPONSE and of the MATCHes under it.
struct Response {
    std::string id;
    std::string status;
    std::vector<std::map<std::string, std::string>> matches;
    std::string message;
    std::string reason; // of a NO_MATCH
};

// The NAME="value" attributes of a start tag's text. (Plain string search:
// std::regex trips -Wmaybe-uninitialized under the sanitizers.)
std::map<std::string, std::string> attributes(const std::string &tag)
{
    std::map<std::string, std::string> found;
    for (size_t at = tag.find("=\""); at != std::string::npos; at = tag.find("=\"", at)) {
        const size_t space = tag.rfind(' ', at);
        const size_t name = space == std::string::npos ? 0 : space + 1;
        const size_t end = tag.find('"', at + 2);
        if (end == std::string::npos)
            break;
        found[tag.substr(name, at - name)] = tag.substr(at + 2, end - at - 2);
        at = end + 1;
    }
    return found;
}

// The text between `open` (from `from`) and the next `close`; `from` moves past it.
std::optional<std::string> between(const std::string &text, const std::string &open,
                                   const std::string &close, size_t &from)
{
    const size_t start = text.find(open, from);
    const size_t end = start == std::string::npos ? start : text.find(close, start + open.size());
    if (end == std::string::npos)
        return std::nullopt;
    from = end + close.size();
    return text.substr(start + open.size(), end - start - open.size());
}

std::vector<Response> responses(const std::string &xml)
{
    std::vector<Response> all;
    size_t at = 0;
    while (const std::optional<std::string> element =
               between(xml, "<ZUSERVER_RESPONSE ", "</ZUSERVER_RESPONSE>", at)) {
        const size_t headEnd = element->find('>');
        const std::map<std::string, std::string> head = attributes(element->substr(0, headEnd));
        Response response{head.count("ID") ? head.at("ID") : "",
                          head.count("STATUS") ? head.at("STATUS") : "",
                          {},
                          "",
                          head.count("REASON") ? head.at("REASON") : ""};
        const std::string inner = element->substr(headEnd + 1);
        size_t in = 0;
        while (const std::optional<std::string> match = between(inner, "<MATCH ", ">", in))
            response.matches.push_back(attributes(*match));
        size_t said = 0;
        response.message = between(inner, "<MESSAGE>", "</MESSAGE>", said).value_or("");
        all.push_back(response);
    }
    return all;
}

// "0.081": digits, a point, three digits.
bool threeDecimals(const std::string &text)
{
    const size_t point = text.find('.');
    return point != std::string::npos && point > 0 && text.size() == point + 4 &&
           text.find_first_not_of("0123456789.") == std::string::npos &&
           text.find('.', point + 1) == std::string::npos;
}

// A log line: "2026-12-08T21:50:01Z 127.0.0.1:51234 GET /healthz 200 3.1 ms".
bool loggedAs(const std::string &log, const std::string &request)
{
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const bool stamped = line.size() > 21 && line[4] == '-' && line[10] == 'T' &&
                             line[19] == 'Z' && line.compare(20, 11, " 127.0.0.1:") == 0;
        const size_t asked = line.find(" " + request + " ");
        if (stamped && asked != std::string::npos && line.compare(line.size() - 3, 3, " ms") == 0)
            return true;
    }
    return false;
}

// Four indexed tracks of 30 s (the first as FLAC with tags), and a
// recording that is not in the index; made once for all the tests.
class ServedLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!vokid_test::haveFfmpeg())
            return;
        dir = new vok_test::TempDir();
        for (uint32_t t = 0; t < kTracks; ++t) {
            music.push_back(vok_test::recording(301 + t, 30, kRate, 1));
            files.push_back(writeAudio(dir->file("t" + std::to_string(t + 1) + ".wav"), music[t]));
        }
        vokid_test::ffmpeg(files[0],
                           {"-metadata", "title=First <&>", "-metadata", "artist=Someone"},
                           dir->file("t1.flac"));
        fs::remove(files[0]);
        files[0] = dir->file("t1.flac");
        outsider = vok_test::recording(399, 30, kRate, 1);
        db = dir->file("index");
        std::vector<std::string> args = {"add", db};
        args.insert(args.end(), files.begin(), files.end());
        const vok_test::RunResult added = vokid(args);
        ASSERT_EQ(0, added.exit_code) << added.err;
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
        music.clear();
        files.clear();
    }
    void SetUp() override
    {
        if (dir == nullptr)
            GTEST_SKIP() << "ffmpeg is not installed";
    }

    // Track `t` from `from` seconds in three stretches of 8 s, each its own
    // data chunk followed by an empty one: vok -c writes a document for each.
    std::string stretches(size_t t, double from, const std::string &name)
    {
        vok_test::WavWriter writer;
        writer.fmt(1, 1, kRate, 16);
        for (int i = 0; i < 3; ++i)
            writer.data(vok_test::pcm16(slice(music[t], from + 8 * i, 8))).data({});
        writer.write(work.file(name));
        return work.file(name);
    }
    // A clip of track `t` (from 0) from `from` seconds, as a WAVE file.
    std::string clip(size_t t, double from, double seconds, const std::string &name)
    {
        return writeAudio(work.file(name), slice(t < kTracks ? music[t] : outsider, from, seconds));
    }
    // vok's lookup query of a file.
    std::string query(const std::string &file, const std::vector<std::string> &options)
    {
        std::vector<std::string> args = {"-om", "zuserver", "-f", file};
        args.insert(args.begin(), options.begin(), options.end());
        const vok_test::RunResult run = vok(args);
        EXPECT_EQ(0, run.exit_code) << run.err;
        return run.out;
    }
    // A copy of the index that a test may change.
    std::string ownIndex()
    {
        const std::string copy = work.file("index");
        fs::copy(db, copy);
        return copy;
    }

    static vok_test::TempDir *dir;
    static std::vector<std::vector<int16_t>> music;
    static std::vector<std::string> files;
    static std::vector<int16_t> outsider;
    static std::string db;
    vok_test::TempDir work;
};

vok_test::TempDir *ServedLibrary::dir = nullptr;
std::vector<std::vector<int16_t>> ServedLibrary::music;
std::vector<std::string> ServedLibrary::files;
std::vector<int16_t> ServedLibrary::outsider;
std::string ServedLibrary::db;

TEST_F(ServedLibrary, StartsOnAFreePortAndLogsEachRequest)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.firstLine() << server.log();
    EXPECT_EQ("listening on http://127.0.0.1:" + std::to_string(server.port()) + "/",
              server.firstLine());
    const HttpReply health = httpCall(server.port(), "GET", "/healthz");
    EXPECT_EQ(200, health.status);
    EXPECT_EQ(kTracks, jsonBody(health)["tracks"]);
    EXPECT_EQ(0, server.stop(SIGTERM));
    EXPECT_TRUE(loggedAs(server.log(), "GET /healthz 200")) << server.log();
}

TEST_F(ServedLibrary, AnswersVoksStreamingQueries)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    struct Case {
        const char *algorithm;
        size_t track; // kTracks: the recording not in the index
        double from;
        const char *status;
    };
    const Case cases[] = {
        {"Stream1", 1, 8, "OK"},
        {"Stream4", 2, 12, "OK"},
        {"Stream1", 0, 3, "OK"},
        {"Stream1", kTracks, 5, "NO_MATCH"},
        {"Stream4", kTracks, 5, "NO_MATCH"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.algorithm) + " of track " + std::to_string(c.track));
        const std::string body =
            query(clip(c.track, c.from, 8, "clip.wav"), {"-a", c.algorithm, "-n", "2"});
        const HttpReply reply = httpCall(server.port(), "POST", "/query", body);
        ASSERT_EQ(200, reply.status) << reply.body;
        EXPECT_EQ("application/xml", reply.header("content-type"));
        EXPECT_EQ(0u, reply.body.find("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                                      "<ZUSERVER_RESPONSE_LIST>\n"));
        const std::vector<Response> answers = responses(reply.body);
        ASSERT_EQ(1u, answers.size()) << reply.body;
        EXPECT_EQ("1", answers[0].id);
        EXPECT_EQ(c.status, answers[0].status) << reply.body;
        if (std::string(c.status) == "NO_MATCH") {
            EXPECT_NE(std::string::npos, reply.body.find("<ALBUM_RESPONSE>\n</ALBUM_RESPONSE>\n"));
            EXPECT_EQ("ber_too_high", answers[0].reason) << reply.body;
            continue;
        }
        ASSERT_FALSE(answers[0].matches.empty());
        const auto &best = answers[0].matches[0];
        EXPECT_EQ("1", best.at("RANK"));
        EXPECT_EQ(std::to_string(c.track + 1), best.at("TRACK_ID"));
        EXPECT_NEAR(c.from, std::stod(best.at("OFFSET")), 0.1);
        EXPECT_TRUE(threeDecimals(best.at("BER"))) << best.at("BER");
        EXPECT_TRUE(threeDecimals(best.at("CONFIDENCE"))) << best.at("CONFIDENCE");
        // Heard through the whole query (its whole blocks: 5.94 s of 8), as played.
        EXPECT_EQ("0.000", best.at("CLIP_START"));
        EXPECT_NEAR(5.94, std::stod(best.at("CLIP_END")), 0.02);
        EXPECT_EQ("1.000", best.at("SPEED"));
        EXPECT_EQ("1.000", best.at("TEMPO"));
    }
}

TEST_F(ServedLibrary, AnswersVoksSpectralQueriesByTheTracksBeginnings)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    // The first 20 s of a track, as vok reads a file: its beginning's
    // FileFloat values are what the index keeps.
    struct Case {
        const char *algorithm;
        size_t track; // kTracks: the recording not in the index
        const char *status;
    };
    const Case cases[] = {
        {"FileFixed", 1, "OK"},
        {"FileFloat", 1, "OK"},
        {"FileFloat", 3, "OK"},
        {"FileFixed", kTracks, "NO_MATCH"},
        {"FileFloat", kTracks, "NO_MATCH"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.algorithm) + " of track " + std::to_string(c.track));
        const std::string body = query(clip(c.track, 0, 20, "start.wav"), {"-a", c.algorithm});
        ASSERT_NE(std::string::npos, body.find("TYPE=\"QDV\""));
        const HttpReply reply = httpCall(server.port(), "POST", "/query", body);
        ASSERT_EQ(200, reply.status) << reply.body;
        const std::vector<Response> answers = responses(reply.body);
        ASSERT_EQ(1u, answers.size()) << reply.body;
        EXPECT_EQ(c.status, answers[0].status) << reply.body;
        if (std::string(c.status) != "OK")
            continue;
        ASSERT_EQ(1u, answers[0].matches.size());
        const auto &best = answers[0].matches[0];
        EXPECT_EQ(std::to_string(c.track + 1), best.at("TRACK_ID"));
        EXPECT_EQ("0.000", best.at("OFFSET"));
        EXPECT_EQ(0u, best.count("BER"));
        EXPECT_LE(std::stoi(best.at("DISTANCE")), 2500);
    }
}

TEST_F(ServedLibrary, MatchesCarryTheTrackTagsEscapedAndPathsUnlessHidden)
{
    const std::string body = query(clip(0, 4, 8, "clip.wav"), {"-a", "Stream1"});
    {
        ServedIndex server(db);
        ASSERT_TRUE(server.started()) << server.log();
        const HttpReply reply = httpCall(server.port(), "POST", "/query", body);
        EXPECT_NE(std::string::npos,
                  reply.body.find("><TITLE>First &lt;&amp;&gt;</TITLE><ARTIST>Someone</ARTIST>"
                                  "<PATH>" +
                                  fs::canonical(files[0]).string() + "</PATH></MATCH>\n"))
            << reply.body;
    }
    ServedIndex hidden(db, {"--hide-paths"});
    ASSERT_TRUE(hidden.started()) << hidden.log();
    const HttpReply reply = httpCall(hidden.port(), "POST", "/query", body);
    EXPECT_NE(std::string::npos, reply.body.find("<ARTIST>Someone</ARTIST></MATCH>\n"))
        << reply.body;
    EXPECT_EQ(std::string::npos, reply.body.find("<PATH>"));
    const nlohmann::json listed = jsonBody(httpCall(hidden.port(), "GET", "/v1/tracks/1"));
    EXPECT_FALSE(listed.contains("path"));
}

TEST_F(ServedLibrary, AnswersEachDocumentOfAWholeFileQueryInOrder)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string body = query(stretches(3, 2, "clip.wav"), {"-a", "Stream1", "-n", "2", "-c"});
    const HttpReply reply = httpCall(server.port(), "POST", "/query", body);
    ASSERT_EQ(200, reply.status) << reply.body;
    const std::vector<Response> answers = responses(reply.body);
    ASSERT_EQ(3u, answers.size()) << reply.body;
    for (size_t i = 0; i < answers.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ("OK", answers[i].status);
        EXPECT_EQ("4", answers[i].matches[0].at("TRACK_ID"));
    }
    // Each stretch starts where the one before ended.
    EXPECT_LT(std::stod(answers[0].matches[0].at("OFFSET")),
              std::stod(answers[1].matches[0].at("OFFSET")));
}

TEST_F(ServedLibrary, AnswersAQueryThatCannotBeUsedWithAnErrorAndTheOthersStill)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string good = query(clip(1, 6, 8, "clip.wav"), {"-a", "Stream1"});
    std::string wrongType = good;
    wrongType.replace(wrongType.find("TYPE=\"ZUVOK\""), 12, "TYPE=\"MP3\"");
    std::string damaged = good;
    const size_t block = damaged.find("ORD=&quot;1&quot;&gt;") + 21;
    damaged.replace(block, 8, "*?*?*?*?");
    const HttpReply reply =
        httpCall(server.port(), "POST", "/query", good + wrongType + damaged + good);
    ASSERT_EQ(200, reply.status) << reply.body;
    const std::vector<Response> answers = responses(reply.body);
    ASSERT_EQ(4u, answers.size()) << reply.body;
    EXPECT_EQ("OK", answers[0].status);
    EXPECT_EQ("ERROR", answers[1].status);
    EXPECT_NE(std::string::npos, answers[1].message.find("MP3")) << answers[1].message;
    EXPECT_EQ("ERROR", answers[2].status);
    EXPECT_FALSE(answers[2].message.empty());
    EXPECT_EQ("OK", answers[3].status);
}

TEST_F(ServedLibrary, RefusesABodyThatIsNotQueriesWith400)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string good = query(clip(1, 6, 8, "clip.wav"), {"-a", "Stream1"});
    const std::pair<const char *, std::string> bodies[] = {
        {"empty", ""},
        {"white space", "  \n\n"},
        {"text", "hello"},
        {"JSON", "{\"query\": 1}"},
        {"half a query", good.substr(0, good.size() / 2)},
        {"something after it", good + "tail"},
        {"a fingerprint document without its query", "<?xml version=\"1.0\"?><ZUVOK_FP_QUERY/>"},
    };
    for (const auto &[what, body] : bodies) {
        SCOPED_TRACE(what);
        const HttpReply reply = httpCall(server.port(), "POST", "/query", body);
        EXPECT_EQ(400, reply.status) << reply.body;
        const nlohmann::json error = jsonBody(reply);
        EXPECT_EQ(400, error["status"]);
        EXPECT_FALSE(error["error"].get<std::string>().empty());
    }
    EXPECT_EQ(200, httpCall(server.port(), "GET", "/healthz").status);
}

TEST_F(ServedLibrary, IdentifiesUploadsAsIdentifyDoes)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string wav = clip(2, 10, 8, "clip.wav");
    vokid_test::ffmpeg(wav, {"-b:a", "128k"}, work.file("clip.mp3"));
    const std::string document = work.file("clip.xml");
    std::ofstream(document) << query(wav, {"-a", "Stream4"});
    for (const std::string &file : {work.file("clip.mp3"), document}) {
        SCOPED_TRACE(file);
        const nlohmann::json expected = vokid_test::jsonOf(vokid({"identify", "--json", db, file}));
        const HttpReply reply = httpCall(server.port(), "POST",
                                         "/v1/identify?name=" + fs::path(file).filename().string(),
                                         readFile(file), "Content-Type: audio/mpeg\r\n");
        ASSERT_EQ(200, reply.status) << reply.body;
        nlohmann::json answered = jsonBody(reply);
        EXPECT_EQ(fs::path(file).filename().string(), answered["file"]);
        answered["file"] = expected["file"];
        EXPECT_EQ(expected, answered);
        EXPECT_EQ(3, answered["match"]["track"]);
    }
    const std::string other = clip(kTracks, 3, 8, "other.wav");
    const nlohmann::json none =
        jsonBody(httpCall(server.port(), "POST", "/v1/identify", readFile(other)));
    EXPECT_TRUE(none["match"].is_null()) << none;
    EXPECT_EQ("ber_too_high", none["reason"]) << none;
    // all=1: "matches" too, as identify --all prints them.
    for (const std::string &file : {wav, other}) {
        nlohmann::json expected =
            vokid_test::jsonOf(vokid({"identify", "--json", "--all", db, file}));
        nlohmann::json answered = jsonBody(
            httpCall(server.port(), "POST", "/v1/identify?all=1&name=x", readFile(file)));
        answered["file"] = expected["file"];
        EXPECT_EQ(expected, answered);
        EXPECT_EQ(file == wav ? 1u : 0u, answered["matches"].size()) << answered;
    }
}

TEST_F(ServedLibrary, RefusesUploadsItCannotUse)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string audio = readFile(clip(1, 0, 8, "clip.wav"));
    struct Case {
        const char *what;
        std::string target;
        std::string body;
        int status;
    };
    const Case cases[] = {
        {"empty", "/v1/identify", "", 400},
        {"not audio", "/v1/identify", std::string(20000, '\x5a'), 415},
        {"several documents", "/v1/identify",
         query(stretches(1, 0, "long.wav"), {"-a", "Stream1", "-n", "2", "-c"}), 400},
        {"length too short", "/v1/identify?length=1", audio, 400},
        {"length not a number", "/v1/identify?length=ten", audio, 400},
        {"as_played not a flag", "/v1/identify?as_played=maybe", audio, 400},
        {"wrong method", "/v1/identify", "", 405},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string method = c.status == 405 ? "GET" : "POST";
        const HttpReply reply = httpCall(server.port(), method, c.target, c.body);
        EXPECT_EQ(c.status, reply.status) << reply.body;
        EXPECT_EQ(c.status, jsonBody(reply)["status"]);
    }
    EXPECT_EQ(200, httpCall(server.port(), "POST", "/v1/identify?as_played=1", audio).status);
}

TEST_F(ServedLibrary, ListsTracksByPagesAsListDoes)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    std::vector<nlohmann::json> listed;
    std::istringstream lines(vokid({"list", "--json", db}).out);
    for (std::string line; std::getline(lines, line);)
        listed.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(kTracks, listed.size());
    struct Case {
        std::string query;
        size_t first, count, limit;
    };
    const Case pages[] = {
        {"", 0, kTracks, 100},          {"?limit=2", 0, 2, 2},
        {"?offset=1&limit=2", 1, 2, 2}, {"?offset=3&limit=1000", 3, 1, 1000},
        {"?offset=4", 4, 0, 100},       {"?offset=99", 99, 0, 100},
    };
    for (const Case &page : pages) {
        SCOPED_TRACE(page.query);
        const nlohmann::json got =
            jsonBody(httpCall(server.port(), "GET", "/v1/tracks" + page.query));
        EXPECT_EQ(kTracks, got["total"]);
        EXPECT_EQ(page.first, got["offset"]);
        EXPECT_EQ(page.limit, got["limit"]);
        ASSERT_EQ(page.count, got["tracks"].size());
        for (size_t i = 0; i < page.count; ++i)
            EXPECT_EQ(listed[page.first + i], got["tracks"][i]);
    }
    EXPECT_EQ(listed[1], jsonBody(httpCall(server.port(), "GET", "/v1/tracks/2")));
    const std::pair<std::string, int> refused[] = {
        {"/v1/tracks?limit=1001", 400}, {"/v1/tracks?offset=-1", 400},
        {"/v1/tracks?limit=x", 400},    {"/v1/tracks/99", 404},
        {"/v1/tracks/two", 400},        {"/v1/tracks/4294967296", 400},
        {"/v1/nothing", 404},
    };
    for (const auto &[target, status] : refused) {
        SCOPED_TRACE(target);
        const HttpReply reply = httpCall(server.port(), "GET", target);
        EXPECT_EQ(status, reply.status) << reply.body;
        EXPECT_EQ(status, jsonBody(reply)["status"]);
    }
    EXPECT_EQ(vokid_test::jsonOf(vokid({"stats", "--json", db})),
              jsonBody(httpCall(server.port(), "GET", "/v1/stats")));
}

TEST_F(ServedLibrary, WriteRoutesNeedTheToken)
{
    const std::string index = ownIndex();
    const std::string upload = readFile(clip(kTracks, 0, 20, "new.wav"));
    {
        ServedIndex readOnly(index);
        ASSERT_TRUE(readOnly.started()) << readOnly.log();
        EXPECT_EQ(403, httpCall(readOnly.port(), "POST", "/v1/tracks?name=new", upload).status);
        EXPECT_EQ(403, httpCall(readOnly.port(), "DELETE", "/v1/tracks/1").status);
    }
    std::ofstream(work.file("token")) << "s3cret-token\n";
    fs::permissions(work.file("token"), fs::perms::owner_read | fs::perms::owner_write);
    ServedIndex server(index, {"--token-file", work.file("token")});
    ASSERT_TRUE(server.started()) << server.log();
    const std::pair<const char *, std::string> wrong[] = {
        {"none", ""},
        {"another token", "Authorization: Bearer s3cret-tokem\r\n"},
        {"a prefix of it", "Authorization: Bearer s3cret\r\n"},
        {"longer", "Authorization: Bearer s3cret-token2\r\n"},
        {"another scheme", "Authorization: Basic s3cret-token\r\n"},
    };
    for (const auto &[what, header] : wrong) {
        SCOPED_TRACE(what);
        const HttpReply reply =
            httpCall(server.port(), "POST", "/v1/tracks?name=new", upload, header);
        EXPECT_EQ(401, reply.status);
        EXPECT_EQ("Bearer", reply.header("www-authenticate"));
        EXPECT_EQ(401, httpCall(server.port(), "DELETE", "/v1/tracks/1", "", header).status);
    }
    EXPECT_EQ(kTracks, jsonBody(httpCall(server.port(), "GET", "/v1/tracks"))["total"]);
    const std::string token = "Authorization: Bearer s3cret-token\r\n";
    const HttpReply added =
        httpCall(server.port(), "POST", "/v1/tracks?name=%2Fup%2Fnew.wav", upload, token);
    ASSERT_EQ(201, added.status) << added.body;
    const nlohmann::json track = jsonBody(added);
    EXPECT_EQ("/up/new.wav", track["path"]);
    EXPECT_EQ(false, track["replaced"]);
    const nlohmann::json found = jsonBody(
        httpCall(server.port(), "POST", "/v1/identify", readFile(clip(kTracks, 5, 8, "c.wav"))));
    EXPECT_EQ(track["track"], found["match"]["track"]) << found;
    // The same name replaces the track, under its id.
    const nlohmann::json again =
        jsonBody(httpCall(server.port(), "POST", "/v1/tracks?name=%2Fup%2Fnew.wav", upload, token));
    EXPECT_EQ(track["track"], again["track"]);
    EXPECT_EQ(true, again["replaced"]);
    const std::string id = std::to_string(track["track"].get<int>());
    const HttpReply removed = httpCall(server.port(), "DELETE", "/v1/tracks/" + id, "", token);
    EXPECT_EQ(204, removed.status);
    EXPECT_EQ("", removed.body);
    EXPECT_EQ(404, httpCall(server.port(), "DELETE", "/v1/tracks/" + id, "", token).status);
    EXPECT_EQ(404, httpCall(server.port(), "GET", "/v1/tracks/" + id).status);
    const HttpReply unusable =
        httpCall(server.port(), "POST", "/v1/tracks?name=x", "garbage", token);
    EXPECT_EQ(415, unusable.status) << unusable.body;
    EXPECT_EQ(400, httpCall(server.port(), "POST", "/v1/tracks", upload, token).status);
}

TEST_F(ServedLibrary, SeesTracksAddedAndRemovedByOthersWhileItRuns)
{
    const std::string index = ownIndex();
    ServedIndex server(index);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string clipFile = clip(kTracks, 6, 8, "clip.wav");
    EXPECT_TRUE(
        jsonBody(httpCall(server.port(), "POST", "/v1/identify", readFile(clipFile)))["match"]
            .is_null());
    const std::string track = writeAudio(work.file("later.wav"), outsider);
    ASSERT_EQ(0, vokid({"add", index, track}).exit_code);
    const nlohmann::json found =
        jsonBody(httpCall(server.port(), "POST", "/v1/identify", readFile(clipFile)));
    EXPECT_EQ(kTracks + 1, found["match"]["track"]) << found;
    EXPECT_EQ(kTracks + 1, jsonBody(httpCall(server.port(), "GET", "/v1/tracks"))["total"]);
    ASSERT_EQ(0, vokid({"remove", index, std::to_string(kTracks + 1)}).exit_code);
    EXPECT_TRUE(
        jsonBody(httpCall(server.port(), "POST", "/v1/identify", readFile(clipFile)))["match"]
            .is_null());
    // A compacted index is a new data file: the server reads it from then on.
    ASSERT_EQ(0, vokid({"add", index, track}).exit_code);
    ASSERT_EQ(0, vokid({"compact", index}).exit_code);
    EXPECT_EQ(kTracks + 2, jsonBody(httpCall(server.port(), "POST", "/v1/identify",
                                             readFile(clipFile)))["match"]["track"]);
}

TEST_F(ServedLibrary, CountsRequestsAndQueriesForPrometheus)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string body = query(clip(1, 6, 8, "clip.wav"), {"-a", "Stream1"});
    httpCall(server.port(), "POST", "/query", body);
    httpCall(server.port(), "POST", "/query",
             query(clip(kTracks, 6, 8, "o.wav"), {"-a", "Stream1"}));
    httpCall(server.port(), "GET", "/v1/tracks/77");
    httpCall(server.port(), "GET", "/no/such/thing/" + std::string(100, 'x'));
    const HttpReply metrics = httpCall(server.port(), "GET", "/metrics");
    ASSERT_EQ(200, metrics.status);
    EXPECT_EQ(0u, metrics.header("content-type").find("text/plain; version=0.0.4"));
    const std::string &text = metrics.body;
    for (const char *line : {
             "vokid_http_requests_total{route=\"/query\",status=\"200\"} 2\n",
             "vokid_http_requests_total{route=\"/v1/tracks/{id}\",status=\"404\"} 1\n",
             "vokid_http_requests_total{route=\"other\",status=\"404\"} 1\n",
             "vokid_queries_total{result=\"match\"} 1\n",
             "vokid_queries_total{result=\"no_match\"} 1\n",
             "vokid_queries_total{result=\"error\"} 0\n",
             "vokid_http_request_duration_seconds_count 4\n",
             "vokid_http_request_duration_seconds_bucket{le=\"+Inf\"} 4\n",
             "vokid_index_tracks 4\n",
             "# TYPE vokid_http_request_duration_seconds histogram\n",
         })
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
    const size_t bytes = text.find("\nvokid_index_bytes ");
    ASSERT_NE(std::string::npos, bytes);
    EXPECT_GT(std::stoll(text.substr(bytes + 19)), 0);
}

TEST_F(ServedLibrary, ServesItsPageAndRefusesOtherMethods)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const HttpReply page = httpCall(server.port(), "GET", "/");
    ASSERT_EQ(200, page.status);
    EXPECT_EQ("text/html; charset=utf-8", page.header("content-type"));
    EXPECT_NE(std::string::npos, page.body.find("<html"));
    for (const char *asset : {"/app.js", "/style.css"})
        EXPECT_EQ(200, httpCall(server.port(), "GET", asset).status) << asset;
    const HttpReply wrong = httpCall(server.port(), "DELETE", "/query");
    EXPECT_EQ(405, wrong.status);
    EXPECT_EQ("POST", wrong.header("allow"));
    EXPECT_EQ(404, httpCall(server.port(), "GET", "/index.htm").status);
}

} // namespace
