// The built vokid on an index in PostgreSQL: add and identify answer as
// on an index folder, and a location that cannot be used is refused in one
// line that names it without its password.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/pg_cluster.h"
#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/index/postgres_stores.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::vokid;

constexpr uint32_t kRate = 22050;

TEST(VokidPostgres, IdentifiesAsOnAnIndexFolder)
{
    vok_test::TempDir dir;
    std::vector<std::string> files;
    for (uint32_t t = 0; t < 3; ++t) {
        files.push_back(dir.file("t" + std::to_string(t + 1) + ".wav"));
        vok_test::write_recording(files.back(), 501 + t, 20, kRate, 1);
    }
    const std::vector<int16_t> music = vok_test::recording(502, 20, kRate, 1);
    const std::string clip = dir.file("clip.wav");
    vok_test::write_wav(clip, 1, 1, kRate, 16,
                        vok_test::pcm16(std::vector<int16_t>(music.begin() + 6 * kRate,
                                                             music.begin() + 14 * kRate)));
    const std::string folder = dir.file("index"), uri = vokid_test::newDatabase();
    std::vector<std::string> answers;
    for (const std::string &db : {folder, uri}) {
        std::vector<std::string> add = {"add", db};
        add.insert(add.end(), files.begin(), files.end());
        const vok_test::RunResult added = vokid(add);
        ASSERT_EQ(0, added.exit_code) << db << ": " << added.err;
        for (const auto &args : std::vector<std::vector<std::string>>{
                 {"identify", "--json", db, clip}, {"list", db}}) {
            const vok_test::RunResult run = vokid(args);
            EXPECT_EQ(0, run.exit_code) << db << ": " << run.err;
            answers.push_back(run.out);
        }
    }
    EXPECT_EQ(answers[0], answers[2]);
    EXPECT_EQ(answers[1], answers[3]);
    EXPECT_EQ(2, vokid_test::jsonOf(vokid({"identify", "--json", uri, clip}))["match"]["track"]);
    EXPECT_NE(std::string::npos, vokid({"stats", uri}).out.find("kind: postgresql"));
}

TEST(VokidPostgres, NamesTheLocationWithoutItsPassword)
{
    vok_test::TempDir dir;
    const std::string clip = dir.file("clip.wav");
    vok_test::write_recording(clip, 601, 5, kRate, 1);
    const std::string host = "127.0.0.1:" + std::to_string(vok_test::unused_loopback_port());
    const std::string shown = "postgresql://postgres@" + host + "/db";
    const std::string empty = vokid_test::newDatabase();
    const struct {
        std::string db;
        std::string expected; // the start of the one line
    } cases[] = {
        {"postgresql://postgres:secret@" + host + "/db",
         "vokid: " + shown + ": cannot connect to the PostgreSQL server: "},
        {shown + "?password=secret", "vokid: " + shown + ": cannot connect to the PostgreSQL "},
        {empty, "vokid: " + empty + ": no vokid index in this database (vokid add creates one)\n"},
    };
    for (const auto &c : cases)
        for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
                 {"list", c.db}, {"identify", c.db, clip}, {"stats", c.db}}) {
            const vok_test::RunResult run = vokid(args);
            EXPECT_EQ(1, run.exit_code) << args[0] << " " << c.db;
            EXPECT_EQ(c.expected, run.err.substr(0, c.expected.size())) << run.err;
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
            EXPECT_EQ(std::string::npos, run.err.find("secret")) << run.err;
        }
}

} // namespace

namespace {

// backup and compact are PostgreSQL's own tools' work there: they say
// which, touch nothing (no server is asked) and exit 2.
TEST(VokidPostgres, BackupAndCompactPointToPostgresTools)
{
    vok_test::TempDir dir;
    const std::string uri = "postgresql://me:secret@/db?host=" + dir.path();
    const std::string shown = "postgresql://me@/db?host=" + dir.path();
    const std::string copy = dir.file("copy");
    const struct {
        std::vector<std::string> args;
        std::string shown;
        std::string advice;
    } cases[] = {
        {{"backup", uri, copy}, shown, "is backed up with pg_dump (pg_dump --schema=vokid"},
        {{"compact", uri}, shown, "gives its free space back with VACUUM (VACUUM FULL vokid."},
        {{"compact", "--into", copy, "postgres://dbhost/music"}, "postgres://dbhost/music",
         "gives its free space back with VACUUM"},
    };
    for (const auto &c : cases) {
        const vok_test::RunResult run = vokid(c.args);
        EXPECT_EQ(2, run.exit_code) << c.args[0];
        EXPECT_EQ("", run.out) << c.args[0];
        const std::string expected = "vokid: " + c.shown + ": a PostgreSQL index " + c.advice;
        EXPECT_EQ(expected, run.err.substr(0, expected.size())) << c.args[0];
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("secret")) << run.err;
        EXPECT_FALSE(std::filesystem::exists(copy)) << c.args[0];
    }
}

} // namespace
