// A collection as users keep it, through the program: names and tags with
// control characters and bytes that are not UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::vokid;

std::string canonical(const std::string &path)
{
    return std::filesystem::canonical(path).string();
}

// A path holding ESC, a tab and a Latin-1 byte: text output spells them
// out, JSON escapes them and replaces the byte with U+FFFD, in every
// command that shows a path.
TEST(VokidCollection, ControlCharactersAndBytesThatAreNotUtf8InPaths)
{
    vok_test::TempDir dir;
    const std::string name = "red\x1b[31m\ttab caf\xe9.wav";
    const std::string path = dir.file(name);
    vok_test::write_recording(path, 31, 12, 11025, 1);
    const std::string db = dir.file("db");
    ASSERT_EQ(0, vokid({"add", db, path}).exit_code);
    const std::string folder = canonical(dir.path());
    const std::string shown = folder + "/red\\x1b[31m\\x09tab caf\\xe9.wav";
    const std::string escaped = folder + "/red\\u001b[31m\\ttab caf\xef\xbf\xbd.wav";
    const struct {
        std::vector<std::string> args;
        std::string expected; // a part of the output
    } runs[] = {
        {{"list", db}, "\t" + shown + "\n"},
        {{"list", db, "--json"}, "\"path\":\"" + escaped + "\""},
        {{"identify", db, path}, path.substr(0, path.size() - name.size()) +
                                     "red\\x1b[31m\\x09tab caf\\xe9.wav: track 1 at 0.000 s"},
        {{"identify", db, path, "--json"}, "\"path\":\"" + escaped + "\""},
        {{"duplicates", db}, ""},
    };
    for (const auto &run : runs) {
        const vok_test::RunResult result = vokid(run.args);
        EXPECT_EQ(0, result.exit_code) << run.args[0] << result.err;
        EXPECT_NE(std::string::npos, result.out.find(run.expected)) << run.args[0] << result.out;
        EXPECT_EQ(std::string::npos, result.out.find('\x1b')) << run.args[0];
        EXPECT_EQ(std::string::npos, result.out.find('\xe9')) << run.args[0];
    }
    const vok_test::RunResult missing = vokid({"print", dir.file("gone\x1b.wav")});
    EXPECT_EQ("vokid: " + dir.file("gone") + "\\x1b.wav: no such file\n", missing.err);
}

// Audio from standard input is a track named by --name: the same name
// again replaces it, another name is another track, and it is found by
// its audio.
TEST(VokidCollection, AddsStandardInputUnderAName)
{
    vok_test::TempDir dir;
    const std::string first = dir.file("first.wav"), second = dir.file("second.wav");
    vok_test::write_recording(first, 41, 12, 11025, 1);
    vok_test::write_recording(second, 42, 14, 11025, 1);
    const std::string db = dir.file("db");
    const auto add = [&](const std::string &file, const std::string &name) {
        return vokid_test::shell("\"$VOKID\" add " + db + " - --name '" + name + "' < " + file);
    };
    const struct {
        std::string file, name, summary;
    } steps[] = {
        {first, "live/set 1", "1 added, 0 replaced"},
        {first, "live/set 1", "0 added, 1 replaced"},
        {second, "live/set 1", "0 added, 1 replaced"},
        {first, "live/set 2", "1 added, 0 replaced"},
    };
    for (const auto &step : steps) {
        const vok_test::RunResult run = add(step.file, step.name);
        EXPECT_EQ(0, run.exit_code) << run.err;
        EXPECT_EQ(0u, run.out.find(step.summary)) << run.out;
    }
    EXPECT_EQ("1\t0:14.0\tlive/set 1\n2\t0:12.0\tlive/set 2\n", vokid({"list", db}).out);
    const vok_test::RunResult found = vokid({"identify", db, second});
    EXPECT_NE(std::string::npos, found.out.find(": track 1 at ")) << found.out;
    EXPECT_NE(std::string::npos, found.out.find(": live/set 1\n")) << found.out;
}

// The fmt chunk of WAVE_FORMAT_EXTENSIBLE 16-bit PCM with a channel mask.
vok_test::Bytes extensibleFmt(uint16_t channels, uint32_t rate, uint32_t mask)
{
    vok_test::Bytes body = vok_test::fmt_body(0xFFFE, channels, rate, 16, 24);
    body[16] = 22; // cbSize
    body[18] = 16; // valid bits
    for (int i = 0; i < 4; ++i)
        body[20 + i] = static_cast<uint8_t>(mask >> (8 * i));
    const uint8_t pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71};
    std::copy(pcm, pcm + 16, body.begin() + 24);
    return body;
}

// Any channel count FFmpeg decodes, with a layout it knows or none (sox
// writes 9, 32 or 64 channels without one): every channel the same
// recording gives the mono recording's fingerprint, or all but a few bits.
TEST(VokidCollection, TakesAnyChannelCount)
{
    vok_test::TempDir dir;
    const uint32_t rate = 11025;
    const std::vector<int16_t> mono = vok_test::recording(51, 8, rate, 1);
    vok_test::write_wav(dir.file("mono.wav"), 1, 1, rate, 16, vok_test::pcm16(mono));
    const nlohmann::json expected = vokid_test::jsonOf(
        vokid({"print", "--format", "json", "--raw", dir.file("mono.wav")}))["sub_fingerprints"];
    // The share of bits that differ from the mono recording's: a mix by the
    // channels' places (a layout with LFE) rounds a little differently.
    const auto errorRate = [&](const nlohmann::json &words) {
        size_t bits = 0;
        for (size_t i = 0; i < expected.size() && i < words.size(); ++i)
            bits += static_cast<size_t>(
                __builtin_popcount(expected[i].get<uint32_t>() ^ words[i].get<uint32_t>()));
        return static_cast<double>(bits) / (32.0 * static_cast<double>(expected.size()));
    };
    const struct {
        uint16_t channels;
        bool extensible;
        uint32_t mask;
    } cases[] = {{3, false, 0},  {3, true, 0x7},    {9, false, 0},  {9, true, 0},
                 {32, false, 0}, {32, true, 0},     {64, false, 0}, {64, true, 0},
                 {6, true, 0x3f}, {9, true, 0x1ff}};
    for (const auto &c : cases) {
        std::vector<int16_t> samples;
        for (int16_t sample : mono)
            samples.insert(samples.end(), c.channels, sample);
        const std::string path = dir.file("many.wav");
        vok_test::WavWriter writer;
        if (c.extensible)
            writer.chunk("fmt ", extensibleFmt(c.channels, rate, c.mask));
        else
            writer.fmt(1, c.channels, rate, 16);
        writer.data(vok_test::pcm16(samples)).write(path);
        const vok_test::RunResult run = vokid({"print", "--format", "json", "--raw", path});
        ASSERT_EQ(0, run.exit_code) << c.channels << " " << c.mask << ": " << run.err;
        const nlohmann::json printed = nlohmann::json::parse(run.out);
        EXPECT_EQ(c.channels, printed["channels"]) << c.channels;
        EXPECT_EQ(expected.size(), printed["sub_fingerprints"].size()) << c.channels;
        EXPECT_LT(errorRate(printed["sub_fingerprints"]), 0.02) << c.channels << " " << c.mask;
    }
}

std::string utf16(const std::string &ascii, bool little)
{
    std::string out;
    for (char c : ascii)
        out += little ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
}

// A document with a byte-order mark, in UTF-16 of either order, or after
// 10 kB of white space: decode gives what it gives for the plain text,
// compare and add take it as a document, from a file and from a pipe.
TEST(VokidCollection, DocumentsInEveryEncoding)
{
    vok_test::TempDir dir;
    const std::string music = dir.file("music.wav");
    vok_test::write_recording(music, 61, 10, 11025, 1);
    const std::string document = vokid_test::vok({"-c", "-f", music}).out;
    vok_test::write_file(dir.file("plain.xml"), vok_test::Bytes(document.begin(), document.end()));
    const nlohmann::json plain = vokid_test::jsonOf(vokid({"decode", dir.file("plain.xml")}));
    const std::string spaces(10240, ' ');
    const struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"mark", "\xEF\xBB\xBF" + document},
        {"utf16le", "\xFF\xFE" + utf16(document, true)},
        {"utf16be", "\xFE\xFF" + utf16(document, false)},
        {"utf16le-unmarked", utf16("\n" + document, true)},
        {"spaces", spaces + "\n" + document},
        {"utf16le-spaces", "\xFF\xFE" + utf16(spaces + document, true)},
    };
    const std::string db = dir.file("db");
    for (const auto &c : cases) {
        const std::string path = dir.file(std::string(c.name) + ".xml");
        vok_test::write_file(path, vok_test::Bytes(c.bytes.begin(), c.bytes.end()));
        EXPECT_EQ(plain["documents"], vokid_test::jsonOf(vokid({"decode", path}))["documents"])
            << c.name;
        const vok_test::RunResult piped =
            vokid_test::shell("\"$VOKID\" compare --json - " + music + " < " + path);
        EXPECT_EQ(0, piped.exit_code) << c.name << piped.err;
        EXPECT_EQ("same recording", vokid_test::jsonOf(piped)["verdict"]) << c.name;
        const vok_test::RunResult added = vokid({"add", db, path});
        EXPECT_EQ(0u, added.out.find("1 added")) << c.name << added.out << added.err;
    }
}

// A folder walked: nested folders, links to files taken, links to folders
// and hidden files and folders left out, files that are not audio skipped
// and counted, documents taken, silence warned about and not indexed.
TEST(VokidCollection, AddsAFolder)
{
    vok_test::TempDir dir;
    const std::string lib = dir.file("lib"), other = dir.file("other");
    for (const std::string folder : {"lib", "lib/a", "lib/a/b", "lib/.hidden", "other"})
        std::filesystem::create_directory(dir.file(folder));
    const struct {
        const char *name;
        uint32_t seed;
    } recordings[] = {{"lib/one.wav", 1},         {"lib/a/two.wav", 2},
                      {"lib/a/b/three.wav", 3},   {"lib/.hidden/four.wav", 4},
                      {"lib/.five.wav", 5},       {"other/six.wav", 6},
                      {"other/seven.wav", 7}};
    for (const auto &r : recordings)
        vok_test::write_recording(dir.file(r.name), r.seed, 10, 11025, 1);
    std::filesystem::create_symlink("../../other/six.wav", dir.file("lib/a/six.wav"));
    std::filesystem::create_symlink("../other", dir.file("lib/other"));
    vok_test::write_file(dir.file("lib/notes.txt"), {'h', 'i', '\n'});
    vok_test::write_file(dir.file("lib/a/empty.mp3"), {});
    const std::string document = vokid_test::vok({"-c", "-f", dir.file("lib/one.wav")}).out;
    vok_test::write_file(dir.file("lib/a/b/one.xml"),
                         vok_test::Bytes(document.begin(), document.end()));
    vok_test::write_wav(dir.file("lib/silence.wav"), 1, 1, 11025, 16,
                        vok_test::Bytes(11025 * 2 * 10, 0));

    const std::string db = dir.file("db");
    const vok_test::RunResult run = vokid({"add", db, lib});
    EXPECT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ(0u, run.out.find("5 added, 0 replaced, 0 unchanged, 0 failed, 2 skipped (not "
                               "audio), 1 without usable audio ("))
        << run.out;
    EXPECT_EQ("vokid: " + lib + "/silence.wav: no usable audio (0 sub-fingerprints that are not "
                                "quiet, fewer than 256); not indexed\n",
              run.err);
    const std::string root = canonical(dir.path());
    std::vector<std::string> paths;
    std::istringstream lines(vokid({"list", db, "--json"}).out);
    for (std::string line; std::getline(lines, line);)
        paths.push_back(nlohmann::json::parse(line)["path"]);
    EXPECT_EQ((std::vector<std::string>{root + "/lib/a/b/one.xml", root + "/lib/a/b/three.wav",
                                        root + "/other/six.wav", root + "/lib/a/two.wav",
                                        root + "/lib/one.wav"}),
              paths);
    // Named alone, a file that is not audio still fails.
    EXPECT_EQ(1, vokid({"add", db, dir.file("lib/notes.txt")}).exit_code);
}

// Stereo in anti-phase (its mix near silence) is indexed and identified by
// its louder channel; print keeps the mix. Stereo whose mix is loud enough
// is taken as it is.
TEST(VokidCollection, FingerprintsTheLouderChannelOfAntiPhaseStereo)
{
    vok_test::TempDir dir;
    const uint32_t rate = 11025;
    const std::vector<int16_t> mono = vok_test::recording(71, 12, rate, 1);
    vok_test::write_wav(dir.file("mono.wav"), 1, 1, rate, 16, vok_test::pcm16(mono));
    const auto stereo = [&](const std::string &name, double left, double right) {
        std::vector<int16_t> samples;
        for (int16_t sample : mono) {
            samples.push_back(static_cast<int16_t>(sample * left));
            samples.push_back(static_cast<int16_t>(sample * right));
        }
        vok_test::write_wav(dir.file(name), 1, 2, rate, 16, vok_test::pcm16(samples));
        return dir.file(name);
    };
    const auto wordsOf = [&](const std::vector<std::string> &args) {
        return vokid_test::jsonOf(vokid(args))["sub_fingerprints"];
    };
    const struct {
        const char *name;
        double left, right; // the mix 20 dB or more below the louder, or 6 dB
    } cases[] = {{"anti.wav", 1, -1}, {"anti-quieter-right.wav", -1, 0.9}, {"half.wav", 1, -0.5}};
    for (const auto &c : cases) {
        const std::string path = stereo(c.name, c.left, c.right);
        const std::string db = dir.file(std::string(c.name) + ".db");
        const vok_test::RunResult added = vokid({"add", db, path});
        EXPECT_EQ(0u, added.out.find("1 added, 0 replaced, 0 unchanged, 0 failed ("))
            << c.name << added.out << added.err;
        const vok_test::RunResult found = vokid({"identify", db, dir.file("mono.wav")});
        EXPECT_NE(std::string::npos, found.out.find(": track 1 at 0.000 s")) << c.name << found.out;
    }
    // print takes the mix: silence.
    stereo("silence.wav", 0, 0);
    EXPECT_EQ(wordsOf({"print", "--format", "json", "--raw", dir.file("silence.wav")}),
              wordsOf({"print", "--format", "json", "--raw", dir.file("anti.wav")}));
    // The same audio in phase is the mix, as print gives it.
    const std::string db = dir.file("phase.db");
    ASSERT_EQ(0, vokid({"add", db, stereo("phase.wav", 0.5, 0.5)}).exit_code);
    EXPECT_EQ(0, vokid({"add", db, dir.file("anti.wav")}).exit_code);
    const vok_test::RunResult duplicates = vokid({"duplicates", db});
    EXPECT_NE(std::string::npos, duplicates.out.find("tracks 1 and 2")) << duplicates.out;
}

// prune: a gone file's track goes, a changed file's with --changed, a dry
// run changes nothing; tracks from documents (gone or changed) and from
// standard input stay.
TEST(VokidCollection, PrunesTracksWhoseFilesAreGone)
{
    vok_test::TempDir dir;
    for (uint32_t i = 1; i <= 3; ++i)
        vok_test::write_recording(dir.file("t" + std::to_string(i) + ".wav"), 80 + i, 10, 11025, 1);
    const std::string document = vokid_test::vok({"-c", "-f", dir.file("t3.wav")}).out;
    for (const char *name : {"gone.xml", "changed.xml"})
        vok_test::write_file(dir.file(name), vok_test::Bytes(document.begin(), document.end()));
    const std::string db = dir.file("db");
    ASSERT_EQ(0, vokid({"add", db, dir.file("t1.wav"), dir.file("t2.wav"), dir.file("t3.wav"),
                        dir.file("gone.xml"), dir.file("changed.xml")})
                     .exit_code);
    ASSERT_EQ(0, vokid_test::shell("\"$VOKID\" add " + db + " - --name piped < " +
                                   dir.file("t1.wav"))
                     .exit_code);
    std::filesystem::remove(dir.file("t1.wav"));
    std::filesystem::remove(dir.file("gone.xml"));
    for (const char *name : {"t2.wav", "changed.xml"}) {
        const std::string path = dir.file(name);
        std::filesystem::last_write_time(
            path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
    }
    const std::string root = canonical(dir.path());
    const std::string gone = "track 1 (gone): " + root + "/t1.wav\n";
    const std::string changed = "track 2 (changed): " + root + "/t2.wav\n";
    const struct {
        std::vector<std::string> options;
        std::string out;
        size_t tracks; // left in the index
    } steps[] = {
        {{"--dry-run"}, "would remove " + gone + "1 would be removed, 5 kept\n", 6},
        {{"--changed", "--dry-run"},
         "would remove " + gone + "would remove " + changed + "2 would be removed, 4 kept\n", 6},
        {{}, "removed " + gone + "1 removed, 5 kept\n", 5},
        {{"--changed"}, "removed " + changed + "1 removed, 4 kept\n", 4},
        {{"--changed"}, "0 removed, 4 kept\n", 4},
    };
    for (const auto &step : steps) {
        std::vector<std::string> args = {"prune", db};
        args.insert(args.end(), step.options.begin(), step.options.end());
        const vok_test::RunResult run = vokid(args);
        EXPECT_EQ(0, run.exit_code) << run.err;
        EXPECT_EQ(step.out, run.out);
        const std::string list = vokid({"list", db}).out;
        EXPECT_EQ(step.tracks, static_cast<size_t>(std::count(list.begin(), list.end(), '\n')));
    }
}

} // namespace
