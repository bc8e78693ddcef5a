// Every command that takes an index answers the same on an index in
// PostgreSQL as on an index folder holding the same tracks: identify,
// monitor, list, duplicates, check, remove, prune, stats' counts, upgrade,
// and the lookup server's answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/index/postgres_stores.h"
#include "tests/vokid/program/vokid_runs.h"
#include "tests/vokid/server/http_exchange.h"
#include "tests/vokid/server/served_index.h"

namespace {

using vokid_test::vokid;

constexpr uint32_t kRate = 22050;

std::vector<int16_t> part(const std::vector<int16_t> &music, double from, double seconds)
{
    const auto first = music.begin() + static_cast<long>(from * kRate);
    return std::vector<int16_t>(first, first + static_cast<long>(seconds * kRate));
}

// The lines of `text` that start with one of `starts`.
std::string linesStarting(const std::string &text, const std::vector<std::string> &starts)
{
    std::string kept, line;
    for (char c : text) {
        line.push_back(c);
        if (c != '\n')
            continue;
        for (const std::string &start : starts)
            if (line.rfind(start, 0) == 0)
                kept += line;
        line.clear();
    }
    return kept;
}

TEST(VokidPostgresCommands, AnswerAsOnAnIndexFolder)
{
    vok_test::TempDir dir;
    std::vector<std::vector<int16_t>> music;
    std::vector<std::string> files;
    for (uint32_t t = 0; t < 3; ++t) {
        music.push_back(vok_test::recording(700 + t, 20, kRate, 1));
        files.push_back(dir.file("t" + std::to_string(t + 1) + ".wav"));
        vok_test::write_wav(files.back(), 1, 1, kRate, 16, vok_test::pcm16(music.back()));
    }
    // The first track again under another name, for duplicates; a file
    // that goes, for prune.
    const std::string again = dir.file("again.wav"), gone = dir.file("gone.wav");
    std::filesystem::copy_file(files[0], again);
    vok_test::write_recording(gone, 710, 10, kRate, 1);
    const std::string clip = dir.file("clip.wav"), set = dir.file("set.wav");
    vok_test::write_wav(clip, 1, 1, kRate, 16, vok_test::pcm16(part(music[1], 6, 8)));
    std::vector<int16_t> played = part(music[2], 2, 15);
    const std::vector<int16_t> second = part(music[1], 1, 15);
    played.insert(played.end(), second.begin(), second.end());
    vok_test::write_wav(set, 1, 1, kRate, 16, vok_test::pcm16(played));
    // vok's lookup query of the clip, for the server.
    const vok_test::RunResult query = vokid_test::vok({"-om", "zuserver", "-f", clip});
    ASSERT_EQ(0, query.exit_code) << query.err;

    const std::string folder = dir.file("index"), uri = vokid_test::newDatabase();
    std::vector<std::vector<std::string>> answers(2);
    const std::vector<std::string> dbs = {folder, uri};
    std::filesystem::copy_file(gone, gone + ".kept");
    for (size_t d = 0; d < dbs.size(); ++d) {
        const std::string &db = dbs[d];
        std::filesystem::copy_file(gone + ".kept", gone,
                                   std::filesystem::copy_options::overwrite_existing);
        // In the order of their paths, as writers to PostgreSQL take them.
        const vok_test::RunResult added =
            vokid({"add", "--jobs", "1", db, again, gone, files[0], files[1], files[2]});
        ASSERT_EQ(0, added.exit_code) << db << ": " << added.err;
        answers[d].push_back(added.out);
        std::filesystem::remove(gone);
        const std::vector<std::vector<std::string>> runs = {
            {"identify", db, clip},
            {"identify", "--json", "--all", db, clip},
            {"monitor", "--json", db, set},
            {"list", "--json", db},
            {"duplicates", "--json", db},
            {"check", db},
            {"prune", "--dry-run", db},
            {"prune", db},
            {"remove", db, "3"},
            {"list", db},
        };
        for (const std::vector<std::string> &args : runs) {
            const vok_test::RunResult run = vokid(args);
            EXPECT_EQ(0, run.exit_code) << args[0] << " " << db << ": " << run.err;
            answers[d].push_back(run.out);
        }
        answers[d].push_back(linesStarting(vokid({"stats", db}).out,
                                           {"tracks:", "audio:", "sub-fingerprints:", "postings:"}));
        vokid_test::ServedIndex server(db);
        ASSERT_TRUE(server.started()) << server.log();
        for (const auto &[method, target] : std::vector<std::pair<std::string, std::string>>{
                 {"POST", "/query"}, {"GET", "/v1/tracks"}, {"GET", "/healthz"}}) {
            const vokid_test::HttpReply reply = vokid_test::httpCall(
                server.port(), method, target, method == "POST" ? query.out : "");
            EXPECT_EQ(200, reply.status) << target << " " << db << ": " << reply.body;
            answers[d].push_back(reply.body);
        }
    }
    ASSERT_EQ(answers[0].size(), answers[1].size());
    for (size_t i = 0; i < answers[0].size(); ++i)
        EXPECT_EQ(answers[0][i], answers[1][i]) << "answer " << i;
    // The answers are those of a search that found its tracks.
    EXPECT_NE(std::string::npos, answers[1][1].find("t2.wav")) << answers[1][1];
    EXPECT_EQ(2u, vokid_test::jsonLines(answers[1][3]).size()) << answers[1][3];
    EXPECT_NE(std::string::npos, answers[1][5].find("\"pairs\":[{\"a\":1,\"b\":3,")) << answers[1][5];
    const vok_test::RunResult upgraded = vokid({"upgrade", uri});
    EXPECT_EQ(0, upgraded.exit_code) << upgraded.err;
    EXPECT_EQ(uri + " has schema version 3 already (3 tracks)\n",
              upgraded.out.substr(0, upgraded.out.find('\n') + 1));
}

} // namespace
