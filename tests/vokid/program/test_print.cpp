// `vokid print` as a child process: the documents byte for byte as vok
// writes them, the JSON and text formats, parallel runs in order, and the
// exit codes with their messages.
#include <gtest/gtest.h>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/document_text.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::vok;
using vokid_test::vokid;

bool streaming(const std::string &algorithm)
{
    return algorithm.compare(0, 6, "Stream") == 0;
}

// What vok writes for a whole file.
std::string vokDocument(const std::string &algorithm, const std::string &file)
{
    std::vector<std::string> args = {"-a", algorithm, "-f", file};
    if (streaming(algorithm))
        args.push_back("-c");
    const vok_test::RunResult run = vok(args);
    EXPECT_EQ(0, run.exit_code) << run.err;
    return run.out;
}

TEST(VokidPrint, WritesVoksDocumentsByteForByte)
{
    vok_test::TempDir dir;
    const struct {
        const char *algorithm;
        uint32_t rate, channels;
    } cases[] = {
        {"Stream1", 44100, 2},   {"Stream1", 8000, 1},    {"Stream1", 48000, 2},
        {"Stream4", 22050, 1},   {"Stream4", 32000, 2},   {"FileFixed", 44100, 2},
        {"FileFixed", 11025, 1}, {"FileFloat", 48000, 2}, {"FileFloat", 16000, 1},
    };
    for (const auto &c : cases) {
        const std::string file =
            dir.file(std::string(c.algorithm) + std::to_string(c.rate) + ".wav");
        vok_test::write_recording(file, c.rate, streaming(c.algorithm) ? 8 : 15, c.rate,
                                  c.channels);
        const std::string expected = vokDocument(c.algorithm, file);
        const vok_test::RunResult run = vokid({"print", "-a", c.algorithm, file});
        EXPECT_EQ(0, run.exit_code) << run.err;
        EXPECT_EQ("", run.err);
        EXPECT_EQ(expected, run.out) << c.algorithm << " " << c.rate;
        if (c.channels == 2) { // and from a pipe
            const vok_test::RunResult piped = vokid_test::shell(
                "\"$VOKID\" print -a " + std::string(c.algorithm) + " - < " + file);
            EXPECT_EQ(expected, piped.out) << c.algorithm << " " << c.rate << " " << piped.err;
        }
    }
}

TEST(VokidPrint, KeepsTheOrderOfTheFilesWhateverFails)
{
    vok_test::TempDir dir;
    std::vector<std::string> args = {"print", "-j", "3"};
    std::string expected;
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        const std::string file = dir.file(std::to_string(seed) + ".wav");
        vok_test::write_recording(file, seed, 3.5 + seed, 11025, 1);
        args.push_back(file);
        if (seed == 3)
            args.push_back(dir.file("missing.wav"));
        expected += vokDocument("Stream1", file);
    }
    const vok_test::RunResult run = vokid(args);
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ(expected, run.out);
    EXPECT_EQ("vokid: " + dir.file("missing.wav") + ": no such file\n", run.err);
}

TEST(VokidPrint, JsonHoldsTheBlocksOrTheValues)
{
    vok_test::TempDir dir;
    const std::string file = dir.file("music.wav");
    vok_test::write_recording(file, 4, 15, 22050, 2);
    for (const char *algorithm : {"Stream4", "FileFloat"}) {
        const std::string document = vokDocument(algorithm, file);
        const nlohmann::json json = vokid_test::jsonOf(
            vokid({"print", "--format", "json", "--raw", "-a", algorithm, file}));
        EXPECT_EQ(file, json["file"]);
        EXPECT_EQ(15.0, json["duration"]);
        EXPECT_EQ(22050, json["sample_rate"]);
        EXPECT_EQ(2, json["channels"]);
        EXPECT_EQ(algorithm, json["algorithm"]);
        // The document's own names stay in the document.
        EXPECT_FALSE(json.contains("algorithm_name"));
        if (streaming(algorithm)) {
            const std::vector<std::string> blocks = vokid_test::elementTexts(document, "FP_BLOCK");
            EXPECT_EQ(blocks, json["blocks"].get<std::vector<std::string>>());
            EXPECT_EQ(256 * blocks.size(), json["sub_fingerprints"].size());
            EXPECT_EQ(86 * blocks.size(), json["masks"].size());
            for (uint32_t mask : json["masks"])
                EXPECT_EQ(8, __builtin_popcount(mask));
        } else {
            const std::vector<uint32_t> values =
                vokid_test::numbers(vokid_test::elementTexts(document, "FP_BLOCK").at(0));
            EXPECT_EQ(30u, values.size());
            EXPECT_EQ(values, json["values"].get<std::vector<uint32_t>>());
        }
    }
}

TEST(VokidPrint, TextIsKeyValueLinesPerFile)
{
    vok_test::TempDir dir;
    const std::string file = dir.file("music.wav");
    vok_test::write_recording(file, 5, 7.5, 11025, 1);
    const std::vector<std::string> blocks =
        vokid_test::elementTexts(vokDocument("Stream1", file), "FP_BLOCK");
    std::string joined;
    for (const std::string &block : blocks)
        joined += (joined.empty() ? "" : ",") + block;
    const std::string record =
        "FILE=" + file + "\nDURATION=7.50\nALGORITHM=Stream1\nFINGERPRINT=" + joined + "\n";
    const vok_test::RunResult run = vokid({"print", "--format", "text", file, file});
    EXPECT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ(record + "\n" + record, run.out);
}

TEST(VokidPrint, ExitCodesAndMessages)
{
    vok_test::TempDir dir;
    const std::string good = dir.file("good.wav"), shortFile = dir.file("short.wav");
    vok_test::write_recording(good, 1, 16, 11025, 1);
    vok_test::write_recording(shortFile, 1, 1.25, 11025, 1);
    vok_test::write_file(dir.file("text.wav"), vok_test::Bytes(5000, 'x'));
    vok_test::write_file(dir.file("empty.wav"), vok_test::Bytes());
    const std::string usage = " (vokid --help shows the usage)\n";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string err; // empty: not checked beyond "vokid: "
    } cases[] = {
        {{"print", good}, 0, ""},
        {{"print", "-a", "FileFixed", "--length", "20", good}, 0, ""},
        {{"print", shortFile},
         1,
         "vokid: " + shortFile + ": unsupported: 1.2 s of audio, Stream1 needs at least 3.4 s\n"},
        {{"print", "--length", "2.5", good},
         1,
         "vokid: " + good + ": unsupported: 2.5 s of audio, Stream1 needs at least 3.4 s\n"},
        {{"print", "-a", "FileFloat", "--length", "10", good},
         1,
         "vokid: " + good +
             ": unsupported: 10.0 s of audio, FileFloat needs at least 14.3 s of "
             "sound after leading silence\n"},
        {{"print", dir.path()}, 1, "vokid: " + dir.path() + ": a folder, not a file\n"},
        {{"print", dir.file("text.wav")},
         1,
         "vokid: " + dir.file("text.wav") + ": not audio in any format FFmpeg can read\n"},
        {{"print", dir.file("empty.wav")},
         1,
         "vokid: " + dir.file("empty.wav") + ": an empty file\n"},
        {{"print"}, 2, ""},
        {{"print", "-a", "Stream2", good}, 2, ""},
        {{"print", "--format", "yaml", good}, 2, ""},
        {{"print", "--length", "0", good}, 2, ""},
        {{"print", "-j", "0", good}, 2, ""},
        {{"print", "--raw", good}, 2, "vokid: --raw goes with --format json" + usage},
        {{"print", "-", "-"}, 2, "vokid: standard input ('-') can be named once" + usage},
        {{"identify", good}, 2, ""},
        {{}, 2, ""},
        {{"--help"}, 0, ""},
        {{"print", "--help"}, 0, ""},
        {{"--version"}, 0, ""},
    };
    for (const auto &c : cases) {
        const vok_test::RunResult run = vokid(c.args);
        std::string line;
        for (const std::string &arg : c.args)
            line += arg + " ";
        EXPECT_EQ(c.code, run.exit_code) << line << run.err;
        if (!c.err.empty()) {
            EXPECT_EQ(c.err, run.err) << line;
        } else if (c.code != 0) {
            EXPECT_EQ(0u, run.err.rfind("vokid: ", 0)) << line << run.err;
        } else {
            EXPECT_EQ("", run.err) << line;
        }
        if (c.code != 0) {
            EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << line << run.err;
        }
    }
}

} // namespace
