// The identification index through the program, on a small library made
// here: add (with tags), identify (clean, noisy, played fast, and what
// must not match), monitor, list, stats, duplicates, remove, and adding
// again, unchanged or changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::jsonLines;
using vokid_test::vokid;

constexpr uint32_t kRate = 22050;

std::string canonical(const std::string &path)
{
    return std::filesystem::canonical(path).string();
}

std::string writeAudio(const vok_test::TempDir &dir, const std::string &name,
                       const std::vector<int16_t> &samples)
{
    const std::string path = dir.file(name);
    vok_test::write_wav(path, 1, 1, kRate, 16, vok_test::pcm16(samples));
    return path;
}

std::vector<int16_t> slice(const std::vector<int16_t> &samples, double from, double seconds)
{
    const auto begin = samples.begin() + static_cast<long>(from * kRate);
    return std::vector<int16_t>(begin, begin + static_cast<long>(seconds * kRate));
}

// White noise `snr` dB below the samples' power.
std::vector<int16_t> noisy(const std::vector<int16_t> &samples, double snr)
{
    double power = 0;
    for (int16_t sample : samples)
        power += static_cast<double>(sample) * sample;
    const double amplitude = std::sqrt(3 * power / samples.size() / std::pow(10.0, snr / 10));
    uint32_t state = 12345;
    std::vector<int16_t> out;
    for (int16_t sample : samples) {
        state = state * 1664525u + 1013904223u;
        const double value = sample + (state / 4294967296.0 * 2 - 1) * amplitude;
        out.push_back(static_cast<int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0))));
    }
    return out;
}

class VokidIndex : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vokid_test::haveFfmpeg())
            GTEST_SKIP() << "ffmpeg is not installed";
        for (uint32_t t = 0; t < 5; ++t) {
            music.push_back(vok_test::recording(201 + t, 25, kRate, 1));
            files.push_back(writeAudio(dir, "t" + std::to_string(t + 1) + ".wav", music.back()));
        }
        // The first track as FLAC, with tags.
        vokid_test::ffmpeg(files[0],
                           {"-metadata", "title=First", "-metadata", "artist=Someone",
                            "-metadata", "album=Album One"},
                           dir.file("t1.flac"));
        std::remove(files[0].c_str());
        files[0] = dir.file("t1.flac");
        db = dir.file("index");
        std::vector<std::string> args = {"add", db};
        args.insert(args.end(), files.begin(), files.end());
        const vok_test::RunResult added = vokid(args);
        ASSERT_EQ(0, added.exit_code) << added.err;
        EXPECT_EQ("5 added, 0 replaced, 0 unchanged, 0 failed (0.03 h of audio); the index holds 5 "
                  "tracks, 0.03 h\n",
                  added.out);
        EXPECT_EQ("", added.err);
    }

    nlohmann::json identify(const std::string &clip)
    {
        const std::vector<nlohmann::json> lines =
            jsonLines(vokid({"identify", "--json", db, clip}));
        return lines.size() == 1 ? lines.front() : nlohmann::json();
    }
    // Its first 4 seconds only.
    nlohmann::json identify4(const std::string &clip)
    {
        const std::vector<nlohmann::json> lines =
            jsonLines(vokid({"identify", "--json", "--length", "4", db, clip}));
        return lines.size() == 1 ? lines.front() : nlohmann::json();
    }

    vok_test::TempDir dir;
    std::vector<std::vector<int16_t>> music;
    std::vector<std::string> files;
    std::string db;
};

TEST_F(VokidIndex, ListsTracksWithTheirTags)
{
    const std::vector<nlohmann::json> tracks = jsonLines(vokid({"list", "--json", db}));
    ASSERT_EQ(5u, tracks.size());
    for (size_t t = 0; t < 5; ++t) {
        EXPECT_EQ(t + 1, tracks[t]["track"]);
        EXPECT_EQ(canonical(files[t]), tracks[t]["path"]);
        EXPECT_NEAR(25.0, tracks[t]["duration"].get<double>(), 0.01);
        EXPECT_EQ("Stream1", tracks[t]["algorithm"]);
        // Every third sub-fingerprint, quiet frames (at the very start) left out.
        EXPECT_NEAR(tracks[t]["sub_fingerprints"].get<int>() / 3, tracks[t]["postings"].get<int>(),
                    8);
    }
    EXPECT_EQ("First", tracks[0]["title"]);
    EXPECT_EQ("Someone", tracks[0]["artist"]);
    EXPECT_EQ("Album One", tracks[0]["album"]);
    EXPECT_TRUE(tracks[1]["title"].is_null());
    EXPECT_FALSE(tracks[1].contains("album")); // only when the track has one
    const nlohmann::json found = identify(files[0]);
    EXPECT_EQ("Album One", found["match"]["album"]);
    const vok_test::RunResult text = vokid({"list", db});
    EXPECT_EQ("1\t0:25.0\t" + canonical(files[0]) + "\tSomeone - First [Album One]\n2\t0:25.0\t" +
                  canonical(files[1]) + "\n",
              text.out.substr(0, text.out.find("3\t")));
}

TEST_F(VokidIndex, IdentifiesClipsAndNothingElse)
{
    // Played 2% fast and 3% slow, pitch and tempo together: 6.12 s of
    // track 2 and 5.82 s of track 5 in 6 s.
    const std::string fast = dir.file("fast.wav"), slow = dir.file("slow.wav");
    vokid_test::ffmpeg(writeAudio(dir, "fast-source.wav", slice(music[1], 7, 6.12)),
                       {"-af", "asetrate=22491,aresample=22050"}, fast);
    vokid_test::ffmpeg(writeAudio(dir, "slow-source.wav", slice(music[4], 12, 5.82)),
                       {"-af", "asetrate=21389,aresample=22050"}, slow);
    const struct {
        const char *name;
        std::string clip;
        int track;
        double offset;
        double speed;
        double orSpeed; // at 2%, the clip as played may be near enough
    } cases[] = {
        {"clean", writeAudio(dir, "clean.wav", slice(music[2], 10, 6)), 3, 10, 1, 1},
        {"noise at 20 dB", writeAudio(dir, "noisy.wav", noisy(slice(music[3], 4.5, 6), 20)), 4, 4.5,
         1, 1},
        {"the tagged one", writeAudio(dir, "first.wav", slice(music[0], 15, 6)), 1, 15, 1, 1},
        {"2% fast", fast, 2, 7, 1.02, 1},
        {"3% slow", slow, 5, 12, 0.97, 0.97},
        {"not in the index", writeAudio(dir, "other.wav", vok_test::recording(299, 6, kRate, 1)), 0,
         0, 0, 0},
        {"silence", writeAudio(dir, "silence.wav", std::vector<int16_t>(6 * kRate, 0)), 0, 0, 0, 0},
        {"near silence",
         writeAudio(dir, "hiss.wav", noisy(std::vector<int16_t>(6 * kRate, 3), -20)), 0, 0, 0, 0},
        {"a steady tone",
         writeAudio(dir, "tone.wav",
                    [] {
                        std::vector<int16_t> tone(6 * kRate);
                        for (size_t n = 0; n < tone.size(); ++n)
                            tone[n] =
                                static_cast<int16_t>(std::lround(9000 * std::sin(n * 0.1253)));
                        return tone;
                    }()),
         0, 0, 0, 0},
        {"the same piece, another recording",
         writeAudio(dir, "cover.wav",
                    slice(vok_test::recording(205, 25, kRate, 1, {1.06, 0, true}), 9, 6)),
         0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const nlohmann::json result = identify(c.clip);
        ASSERT_TRUE(result.is_object()) << c.name;
        EXPECT_EQ(c.clip, result["file"]);
        const nlohmann::json &match = result["match"];
        if (c.track == 0) {
            EXPECT_TRUE(match.is_null()) << c.name << ": " << result.dump();
            continue;
        }
        ASSERT_TRUE(match.is_object()) << c.name;
        EXPECT_EQ(c.track, match["track"]) << c.name;
        EXPECT_EQ(canonical(files[static_cast<size_t>(c.track - 1)]), match["path"]);
        // A clip starts between two sub-fingerprints (11.6 ms apart). The
        // first speed accepted stops the search: it may be 1% off, and the
        // clip then drifts by up to 5 sub-fingerprints.
        const double speed = match["speed"];
        EXPECT_TRUE(std::abs(speed - c.speed) < 0.011 || speed == c.orSpeed)
            << c.name << ": " << speed;
        EXPECT_NEAR(c.offset, match["offset_seconds"].get<double>(), speed == c.speed ? 0.02 : 0.06)
            << c.name;
        EXPECT_GT(match["matched_seconds"].get<double>(), 5.0) << c.name;
        EXPECT_GT(match["confidence"].get<double>(), 0.3) << c.name;
        EXPECT_LT(match["ber"].get<double>(), match["runner_up_ber"].get<double>());
    }
    // Text: one line a clip, in the order named, exit 0 whatever was found.
    const std::string &unknown = cases[5].clip;
    const vok_test::RunResult text = vokid({"identify", "--as-played", db, unknown, cases[0].clip});
    EXPECT_EQ(0, text.exit_code) << text.err;
    EXPECT_EQ(unknown + ": no match\n" + cases[0].clip + ": track 3 at ",
              text.out.substr(0, text.out.find(" at ") + 4));
    EXPECT_NE(std::string::npos, text.out.find(" s matched, confidence "));
    EXPECT_EQ(canonical(files[2]) + "\n", text.out.substr(text.out.rfind(": ") + 2));
    // A clip that cannot be read, or is too short, is named; the rest go on.
    const std::string shortClip = writeAudio(dir, "short.wav", slice(music[0], 0, 3));
    const vok_test::RunResult failed =
        vokid({"identify", db, dir.file("missing.wav"), shortClip, unknown});
    EXPECT_EQ(1, failed.exit_code);
    EXPECT_EQ(unknown + ": no match\n", failed.out);
    EXPECT_EQ("vokid: " + dir.file("missing.wav") + ": no such file\nvokid: " + shortClip +
                  ": 3.0 s of audio, identification needs at least 3.4 s\n",
              failed.err);
}

// vok's documents of a clip, raw or wrapped in a lookup-server query, are
// searched as played; other documents are refused, naming the file.
TEST_F(VokidIndex, IdentifiesFingerprintDocuments)
{
    const std::string clip = writeAudio(dir, "clip.wav", slice(music[2], 10, 8));
    const std::string other = writeAudio(dir, "other.wav", vok_test::recording(299, 8, kRate, 1));
    const auto document = [&](const std::string &audio, const std::vector<std::string> &options,
                              const std::string &name) {
        std::vector<std::string> args = {"-f", audio, "-o", dir.file(name)};
        args.insert(args.begin(), options.begin(), options.end());
        const vok_test::RunResult made = vokid_test::vok(args);
        EXPECT_EQ(0, made.exit_code) << made.err;
        return dir.file(name);
    };
    const struct {
        const char *name;
        std::string file;
        int track; // 0: no match
    } cases[] = {
        {"Stream1", document(clip, {"-a", "Stream1"}, "s1.xml"), 3},
        {"Stream1 query", document(clip, {"-a", "Stream1", "-om", "zuserver"}, "s1q.xml"), 3},
        {"Stream4", document(clip, {"-a", "Stream4"}, "s4.xml"), 3},
        {"Stream4 query", document(clip, {"-a", "Stream4", "-om", "zuserver"}, "s4q.xml"), 3},
        {"not in the index", document(other, {"-a", "Stream1"}, "other.xml"), 0},
    };
    for (const auto &c : cases) {
        const nlohmann::json result = identify(c.file);
        ASSERT_TRUE(result.is_object()) << c.name;
        const nlohmann::json &match = result["match"];
        if (c.track == 0) {
            EXPECT_TRUE(match.is_null()) << c.name << ": " << result.dump();
            continue;
        }
        ASSERT_TRUE(match.is_object()) << c.name << ": " << result.dump();
        EXPECT_EQ(c.track, match["track"]) << c.name;
        EXPECT_EQ(1.0, match["speed"]) << c.name;
        // Whole blocks of 256 sub-fingerprints, 11.6 ms apart: 5.94 s of 8.
        EXPECT_NEAR(10, match["offset_seconds"].get<double>(), 0.02) << c.name;
        EXPECT_NEAR(5.94, result["seconds"].get<double>(), 0.01) << c.name;
    }
    // --length takes the first seconds of the document too.
    const nlohmann::json first = identify4(cases[0].file);
    EXPECT_NEAR(4, first["seconds"].get<double>(), 0.02) << first.dump();
    EXPECT_EQ(3, first["match"]["track"]) << first.dump();
    // A document of the spectral kind, and a file of two documents.
    const std::string spectral = dir.file("spectral.xml");
    ASSERT_EQ(0, vokid_test::vok({"-a", "FileFloat", "-f", files[1], "-o", spectral}).exit_code);
    const std::string two = dir.file("two.xml");
    vok_test::write_file(two, [&] {
        const std::string text = vok_test::read_file(cases[0].file);
        const std::string both = text + text;
        return vok_test::Bytes(both.begin(), both.end());
    }());
    const vok_test::RunResult refused = vokid({"identify", db, spectral, two, cases[0].file});
    EXPECT_EQ(1, refused.exit_code);
    EXPECT_EQ("vokid: " + spectral +
                  ": a fingerprint document of this kind cannot be searched (only Stream1 and "
                  "Stream4 are)\nvokid: " +
                  two + ": holds 2 fingerprint documents; a clip is one\n",
              refused.err);
    EXPECT_EQ(cases[0].file + ": track 3 at ", refused.out.substr(0, refused.out.find(" at ") + 4));
}

TEST_F(VokidIndex, MonitorsALongRecording)
{
    // 9 s of track 2 from 5 s, 2 s of silence, 12 s of track 4 from 3 s,
    // 8 s of something else.
    std::vector<int16_t> recording = slice(music[1], 5, 9);
    recording.resize(recording.size() + 2 * kRate, 0);
    for (const auto &part : {slice(music[3], 3, 12), vok_test::recording(298, 8, kRate, 1)})
        recording.insert(recording.end(), part.begin(), part.end());
    const std::string file = writeAudio(dir, "log.wav", recording);
    const std::vector<nlohmann::json> segments = jsonLines(vokid({"monitor", "--json", db, file}));
    ASSERT_EQ(2u, segments.size()) << vokid({"monitor", db, file}).out;
    const struct {
        int track;
        double start, end, offset;
    } expected[] = {{2, 0, 9, 5}, {4, 11, 23, 3}};
    for (size_t s = 0; s < 2; ++s) {
        const nlohmann::json &segment = segments[s];
        EXPECT_EQ(expected[s].track, segment["track"]);
        // Ends are found to a third of a second, and a sub-fingerprint
        // looks 0.37 s ahead.
        EXPECT_NEAR(expected[s].start, segment["start"].get<double>(), 0.8) << s;
        EXPECT_NEAR(expected[s].end, segment["end"].get<double>(), 0.8) << s;
        const double offset =
            expected[s].offset + segment["start"].get<double>() - expected[s].start;
        EXPECT_NEAR(offset, segment["offset_seconds"].get<double>(), 0.05) << s;
        EXPECT_EQ(1.0, segment["speed"]);
    }
    const vok_test::RunResult text = vokid({"monitor", db, file});
    EXPECT_EQ(0, text.exit_code);
    EXPECT_NE(std::string::npos, text.out.find(": track 4 from ")) << text.out;
}

TEST_F(VokidIndex, StatsDuplicatesAndRemoval)
{
    // A re-encoding of track 3, and 10 s of track 5 from 8 s.
    const std::string copy = dir.file("t3-copy.mp3");
    vokid_test::ffmpeg(files[2], {"-c:a", "libmp3lame", "-b:a", "96k"}, copy);
    const std::string excerpt = writeAudio(dir, "t5-part.wav", slice(music[4], 8, 10));
    ASSERT_EQ(0, vokid({"add", db, copy, excerpt}).exit_code);

    const nlohmann::json stats = vokid_test::jsonOf(vokid({"stats", "--json", db}));
    EXPECT_EQ(7, stats["tracks"]);
    EXPECT_NEAR((5 * 25 + 25 + 10) / 3600.0, stats["hours"].get<double>(), 0.001);
    EXPECT_EQ(3, stats["step"]);
    EXPECT_GT(stats["postings"].get<int>(), stats["sub_fingerprints"].get<int>() * 3 / 10);
    EXPECT_NEAR(stats["bytes"].get<double>() / stats["hours"].get<double>(),
                stats["bytes_per_hour"].get<double>(), stats["bytes_per_hour"].get<double>() / 100);
    EXPECT_LE(stats["posting_bytes"].get<long>() + stats["sequence_bytes"].get<long>() +
                  stats["metadata_bytes"].get<long>() + stats["free_bytes"].get<long>(),
              stats["bytes"].get<long>());
    // The store's own figures: LMDB's pages, within the data file.
    const nlohmann::json &store = stats["store"];
    EXPECT_EQ("lmdb", store["kind"]);
    EXPECT_LE(store["pages_in_use"].get<long>() * store["page_size"].get<long>(),
              store["data_file_bytes"].get<long>());
    EXPECT_LE(store["data_file_bytes"].get<long>(), stats["bytes"].get<long>());
    const vok_test::RunResult text = vokid({"stats", db});
    EXPECT_EQ("tracks: 7\naudio: 0.04 h\n", text.out.substr(0, 24));
    EXPECT_NE(std::string::npos,
              text.out.find("\nstore:\n  kind: lmdb\n  page size: " +
                            std::to_string(store["page_size"].get<long>()) + " bytes\n"))
        << text.out;

    const std::vector<nlohmann::json> groups = jsonLines(vokid({"duplicates", "--json", db}));
    ASSERT_EQ(2u, groups.size());
    const struct {
        int a, b;
        double aStart, bStart, seconds;
    } expected[] = {{3, 6, 0, 0, 24.5}, {5, 7, 8, 0, 9.5}};
    for (size_t g = 0; g < 2; ++g) {
        ASSERT_EQ(2u, groups[g]["tracks"].size());
        EXPECT_EQ(expected[g].a, groups[g]["tracks"][0]["track"]);
        EXPECT_EQ(expected[g].b, groups[g]["tracks"][1]["track"]);
        const nlohmann::json &pair = groups[g]["pairs"][0];
        EXPECT_NEAR(expected[g].aStart, pair["a_start"].get<double>(), 0.8) << g;
        EXPECT_NEAR(pair["a_start"].get<double>() - expected[g].aStart,
                    pair["b_start"].get<double>() - expected[g].bStart, 0.02)
            << g;
        EXPECT_NEAR(expected[g].seconds, pair["seconds"].get<double>(), 1.5) << g;
        EXPECT_LT(pair["ber"].get<double>(), 0.2);
    }

    // By id and by path; an unknown one is named, the others go.
    const vok_test::RunResult removed = vokid({"remove", db, "6", excerpt, "99"});
    EXPECT_EQ(1, removed.exit_code);
    EXPECT_EQ("removed track 6: " + canonical(copy) + "\nremoved track 7: " + canonical(excerpt) +
                  "\n",
              removed.out);
    EXPECT_EQ("vokid: 99: no such track in the index\n", removed.err);
    EXPECT_EQ(5u, jsonLines(vokid({"list", "--json", db})).size());
    EXPECT_EQ("", vokid({"duplicates", db}).out);
    const nlohmann::json after = vokid_test::jsonOf(vokid({"stats", "--json", db}));
    EXPECT_EQ(5, after["tracks"]);
    EXPECT_LT(after["postings"].get<int>(), stats["postings"].get<int>() * 6 / 7);
}

TEST_F(VokidIndex, AddingAgainChangesOnlyChangedFiles)
{
    std::vector<std::string> args = {"add", db};
    args.insert(args.end(), files.begin(), files.end());
    EXPECT_EQ("0 added, 0 replaced, 5 unchanged, 0 failed (0.00 h of audio); the index holds 5 "
              "tracks, 0.03 h\n",
              vokid(args).out);
    // Another time, the same bytes; and new content under the old name.
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, files[1].c_str(), times, 0));
    vok_test::write_recording(files[3], 297, 20, kRate, 1);
    const vok_test::RunResult again = vokid(args);
    EXPECT_EQ("0 added, 2 replaced, 3 unchanged, 0 failed (0.01 h of audio); the index holds 5 "
              "tracks, 0.03 h\n",
              again.out);
    const std::vector<nlohmann::json> tracks = jsonLines(vokid({"list", "--json", db}));
    ASSERT_EQ(5u, tracks.size());
    EXPECT_NEAR(20.0, tracks[3]["duration"].get<double>(), 0.01); // same id, new content
    const nlohmann::json found =
        identify(writeAudio(dir, "new.wav", slice(vok_test::recording(297, 20, kRate, 1), 5, 6)));
    EXPECT_EQ(4, found["match"]["track"]);
    EXPECT_TRUE(identify(writeAudio(dir, "old.wav", slice(music[3], 5, 6)))["match"].is_null());
    // The same file named twice, or under another name, is one track.
    const std::string link = dir.file("link.wav");
    ASSERT_EQ(0, symlink(files[4].c_str(), link.c_str()));
    EXPECT_EQ("0 added, 0 replaced, 1 unchanged, 0 failed (0.00 h of audio); the index holds 5 "
              "tracks, 0.03 h\n",
              vokid({"add", db, files[4], link}).out);
}

} // namespace
