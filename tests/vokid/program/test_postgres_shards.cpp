// The built vokid on a sharded index (a coordinator and two shards, each
// a cluster of its own) and vokid init: the full answer, the partial one
// while a shard is down (named, no wrong track, exit 0), add refused then
// with nothing kept, the full answer again once the shard is back; and
// init on a folder and in PostgreSQL, with its step and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "tests/support/pg_cluster.h"
#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/index/postgres_stores.h"
#include "tests/vokid/program/vokid_runs.h"
#include "tests/vokid/server/http_exchange.h"
#include "tests/vokid/server/served_index.h"

namespace {

using vokid_test::vokid;

constexpr uint32_t kRate = 22050;
constexpr uint32_t kTracks = 6;

size_t lineCount(const std::string &text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The track ids a shard holds, from its own table.
std::set<uint32_t> tracksOn(const vok_test::PgCluster &shard)
{
    std::istringstream lines(shard.query("postgres", "SELECT track FROM vokid.sequences"));
    std::set<uint32_t> ids;
    for (uint32_t id = 0; lines >> id;)
        ids.insert(id);
    return ids;
}

struct Library {
    vok_test::TempDir dir;
    std::vector<std::string> tracks; // track i + 1
    std::vector<std::string> clips;  // 6 s of each, from 7 s on
    std::string extra;               // a track not added
};

void makeLibrary(Library &library)
{
    for (uint32_t t = 0; t < kTracks; ++t) {
        library.tracks.push_back(library.dir.file("t" + std::to_string(t + 1) + ".wav"));
        vok_test::write_recording(library.tracks.back(), 811 + t, 20, kRate, 1);
        const std::vector<int16_t> music = vok_test::recording(811 + t, 20, kRate, 1);
        library.clips.push_back(library.dir.file("clip" + std::to_string(t + 1) + ".wav"));
        vok_test::write_wav(library.clips.back(), 1, 1, kRate, 16,
                            vok_test::pcm16(std::vector<int16_t>(music.begin() + 7 * kRate,
                                                                 music.begin() + 13 * kRate)));
    }
    library.extra = library.dir.file("extra.wav");
    vok_test::write_recording(library.extra, 899, 20, kRate, 1);
}

std::vector<std::string> identifyArgs(const std::string &db, const Library &library, bool json)
{
    std::vector<std::string> args = {"identify", db};
    if (json)
        args.push_back("--json");
    args.insert(args.end(), library.clips.begin(), library.clips.end());
    return args;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every clip found as its own track, and nothing said of shards.
void expectFullAnswers(const std::string &db, const Library &library)
{
    const std::vector<nlohmann::json> answers =
        vokid_test::jsonLines(vokid(identifyArgs(db, library, true)));
    ASSERT_EQ(kTracks, answers.size());
    for (uint32_t t = 0; t < kTracks; ++t) {
        EXPECT_EQ(t + 1, answers[t]["match"]["track"]) << answers[t].dump();
        EXPECT_FALSE(answers[t].contains("partial")) << answers[t].dump();
        EXPECT_FALSE(answers[t].contains("shards_down")) << answers[t].dump();
    }
}

TEST(VokidShards, PartialAnswerWhileAShardIsDown)
{
    const std::string missing = vok_test::postgres_missing();
    if (!missing.empty())
        GTEST_SKIP() << missing;
    Library library;
    makeLibrary(library);
    vok_test::PgCluster coordinator, first, second; // stopped however the test ends
    const std::string db = coordinator.uri("postgres");
    const std::string shard1 = first.uri("postgres"), shard2 = second.uri("postgres");

    const vok_test::RunResult made =
        vokid({"init", db, "--shard", shard1, "--shard", shard2, "--step", "3"});
    ASSERT_EQ(0, made.exit_code) << made.err;
    EXPECT_EQ("created an empty index in " + db + " (step 3) on 2 shards: " + shard1 + " " +
                  shard2 + "\n",
              made.out);
    std::vector<std::string> add = {"add", db};
    add.insert(add.end(), library.tracks.begin(), library.tracks.end());
    const vok_test::RunResult added = vokid(add);
    ASSERT_EQ(0, added.exit_code) << added.err;

    // Both shards hold tracks, every track on one of them.
    const std::set<uint32_t> onFirst = tracksOn(first), onSecond = tracksOn(second);
    ASSERT_FALSE(onFirst.empty());
    ASSERT_FALSE(onSecond.empty());
    EXPECT_EQ(kTracks, onFirst.size() + onSecond.size());
    const nlohmann::json stats = vokid_test::jsonOf(vokid({"stats", "--json", db}));
    EXPECT_EQ(3, stats["step"]);
    EXPECT_EQ(kTracks, stats["tracks"]);
    EXPECT_EQ(2, stats["store"]["shards"]);
    EXPECT_EQ(onFirst.size(), stats["store"]["shard_1_tracks"]);
    EXPECT_EQ(onSecond.size(), stats["store"]["shard_2_tracks"]);
    EXPECT_GT(stats["posting_bytes"].get<uint64_t>(), 0u);
    expectFullAnswers(db, library);
    const uint32_t kept = *onFirst.begin(), lost = *onSecond.begin();
    vokid_test::ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    const std::string keptQuery =
        vokid_test::vok({"-om", "zuserver", "-f", library.clips[kept - 1]}).out;
    const vokid_test::HttpReply whole =
        vokid_test::httpCall(server.port(), "POST", "/query", keptQuery);
    EXPECT_EQ(std::string::npos, whole.body.find("PARTIAL")) << whole.body;

    second.stop();
    const vok_test::RunResult partial = vokid(identifyArgs(db, library, true));
    EXPECT_EQ(0, partial.exit_code) << partial.err;
    EXPECT_EQ("", partial.err);
    const std::vector<nlohmann::json> answers = vokid_test::jsonLines(partial.out);
    ASSERT_EQ(kTracks, answers.size());
    for (uint32_t t = 0; t < kTracks; ++t) {
        const nlohmann::json &answer = answers[t];
        EXPECT_EQ(true, answer["partial"]) << answer.dump();
        EXPECT_EQ(nlohmann::json::array({shard2}), answer["shards_down"]) << answer.dump();
        if (onFirst.count(t + 1))
            EXPECT_EQ(t + 1, answer["match"]["track"]) << answer.dump();
        else // its postings and sequence are on the shard down: no track at all
            EXPECT_TRUE(answer["match"].is_null()) << answer.dump();
    }
    const vok_test::RunResult text = vokid(identifyArgs(db, library, false));
    EXPECT_EQ(0, text.exit_code) << text.err;
    std::istringstream lines(text.out);
    size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        const std::string end = " (partial: 1 of 2 shards)";
        ASSERT_GE(line.size(), end.size()) << line;
        EXPECT_EQ(end, line.substr(line.size() - end.size())) << line;
    }
    EXPECT_EQ(kTracks, count) << text.out;

    // The lookup server: PARTIAL="1" in vok's queries, and in its JSON API
    // as identify --json says it.
    const vokid_test::HttpReply query =
        vokid_test::httpCall(server.port(), "POST", "/query", keptQuery);
    EXPECT_EQ(200, query.status);
    EXPECT_NE(std::string::npos, query.body.find("STATUS=\"OK\" PARTIAL=\"1\"")) << query.body;
    EXPECT_NE(std::string::npos, query.body.find("TRACK_ID=\"" + std::to_string(kept) + "\""))
        << query.body;
    for (const uint32_t id : {kept, lost}) {
        const vokid_test::HttpReply reply = vokid_test::httpCall(
            server.port(), "POST", "/v1/identify?name=x", readFile(library.clips[id - 1]));
        ASSERT_EQ(200, reply.status) << reply.body;
        const nlohmann::json served = nlohmann::json::parse(reply.body);
        EXPECT_EQ(true, served["partial"]) << reply.body;
        EXPECT_EQ(nlohmann::json::array({shard2}), served["shards_down"]) << reply.body;
        if (id == kept)
            EXPECT_EQ(id, served["match"]["track"]) << reply.body;
        else
            EXPECT_TRUE(served["match"].is_null()) << reply.body;
    }

    // add asks every shard first: refused in one line naming the shard.
    const vok_test::RunResult refused = vokid({"add", db, library.extra});
    EXPECT_EQ(1, refused.exit_code);
    EXPECT_EQ("vokid: " + db + ": cannot begin a batch: could not connect to shard 2 (" + shard2 +
                  ")\n",
              refused.err);
    const nlohmann::json down = vokid_test::jsonOf(vokid({"stats", "--json", db}));
    EXPECT_EQ(1, down["store"]["shard_2_down"]) << down.dump();
    EXPECT_EQ(onFirst.size(), down["store"]["shard_1_tracks"]) << down.dump();

    second.start();
    EXPECT_EQ(kTracks, lineCount(vokid({"list", db}).out));
    EXPECT_EQ(onFirst, tracksOn(first));
    EXPECT_EQ(onSecond, tracksOn(second));
    expectFullAnswers(db, library);
}

// A shard URI's password goes into the user mapping alone: never printed,
// and the shards table keeps the location without it.
TEST(VokidShards, ShardPasswordIsNotShown)
{
    const std::string missing = vok_test::postgres_missing();
    if (!missing.empty())
        GTEST_SKIP() << missing;
    vok_test::PgCluster coordinator, shard;
    const std::string db = coordinator.uri("postgres");
    const std::string plain = shard.uri("postgres");
    // "postgresql://postgres@/..." with a password after the user.
    const std::string secret = "postgresql://postgres:secret@" + plain.substr(22);
    const vok_test::RunResult made = vokid({"init", db, "--shard", secret});
    ASSERT_EQ(0, made.exit_code) << made.err;
    EXPECT_EQ("created an empty index in " + db + " (step 3) on 1 shard: " + plain + "\n",
              made.out);
    EXPECT_EQ(plain + "\n", coordinator.query("postgres", "SELECT location FROM vokid.shards"));
    EXPECT_EQ("secret\n",
              coordinator.query("postgres", "SELECT option_value FROM "
                                            "pg_options_to_table((SELECT umoptions FROM "
                                            "pg_user_mappings)) WHERE option_name = 'password'"));
    const nlohmann::json stats = vokid_test::jsonOf(vokid({"stats", "--json", db}));
    EXPECT_EQ(1, stats["store"]["shards"]);
    EXPECT_EQ(std::string::npos, vokid({"stats", db}).out.find("secret"));
}

TEST(VokidInit, MakesAnEmptyIndexOrRefuses)
{
    const std::string missing = vok_test::postgres_missing();
    if (!missing.empty())
        GTEST_SKIP() << missing;
    vok_test::TempDir dir;
    const std::string folder = dir.file("index"), existing = dir.file("existing");
    const std::string uri = vokid_test::newDatabase(), taken = vokid_test::newDatabase();
    const std::string coordinator = vokid_test::newDatabase();
    const std::string used = vokid_test::newDatabase(), fresh = vokid_test::newDatabase();
    ASSERT_EQ(0, vokid({"init", existing}).exit_code);
    ASSERT_EQ(0, vokid({"init", taken}).exit_code);
    ASSERT_EQ(0, vokid({"init", vokid_test::newDatabase(), "--shard", used}).exit_code);
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out;
        std::string err; // the start of the one line
        std::string madeAt;
        int step; // stats shows it
    } cases[] = {
        {{"init", folder, "--step", "5"},
         0,
         "created an empty index in " + folder + " (step 5)\n",
         "",
         folder,
         5},
        {{"init", uri, "--step", "4"},
         0,
         "created an empty index in " + uri + " (step 4)\n",
         "",
         uri,
         4},
        {{"init", existing}, 1, "", "vokid: " + existing + ": an index is there already\n", "", 0},
        {{"init", taken, "--step", "1"},
         1,
         "",
         "vokid: " + taken + ": an index is there already\n",
         "",
         0},
        {{"init", dir.file("other"), "--shard", fresh},
         2,
         "",
         "vokid: init: --shard goes with an index in PostgreSQL (a postgresql:// DB)",
         "",
         0},
        {{"init", coordinator, "--shard", dir.file("shard")},
         2,
         "",
         "vokid: init: a shard is a postgresql:// URI, not " + dir.file("shard"),
         "",
         0},
        {{"init", coordinator, "--shard", used},
         1,
         "",
         "vokid: " + coordinator + ": shard 1 (" + used +
             "): its database has vokid's tables "
             "already\n",
         "",
         0},
        {{"init", coordinator, "--shard", fresh, "--shard", fresh},
         1,
         "",
         "vokid: " + coordinator + ": shard 2 (" + fresh + ") is named twice\n",
         "",
         0},
        {{"init", dir.file("zero"), "--step", "0"},
         2,
         "",
         "vokid: --step: Value 0 not in range",
         "",
         0},
        {{"init", dir.file("big"), "--step", "17"},
         2,
         "",
         "vokid: --step: Value 17 not in range",
         "",
         0},
        {{"init", dir.file("word"), "--step", "two"}, 2, "", "vokid: --step: ", "", 0},
    };
    for (const auto &c : cases) {
        const vok_test::RunResult run = vokid(c.args);
        const std::string what = c.args[1] + " " + std::to_string(c.args.size());
        EXPECT_EQ(c.code, run.exit_code) << what << ": " << run.err;
        EXPECT_EQ(c.out, run.out) << what;
        EXPECT_EQ(c.err, run.err.substr(0, c.err.size())) << what;
        EXPECT_EQ(c.err.empty() ? 0u : 1u, lineCount(run.err)) << what << ": " << run.err;
        if (!c.madeAt.empty()) {
            const nlohmann::json stats = vokid_test::jsonOf(vokid({"stats", "--json", c.madeAt}));
            EXPECT_EQ(c.step, stats["step"]) << what;
            EXPECT_EQ(0, stats["tracks"]) << what;
        }
    }
    // Nothing was made where init refused.
    for (const char *path : {"other", "shard", "zero", "big", "word"})
        EXPECT_FALSE(std::filesystem::exists(dir.file(path))) << path;
    EXPECT_EQ(1, vokid({"list", coordinator}).exit_code);
    EXPECT_EQ(1, vokid({"list", fresh}).exit_code);
}

} // namespace
