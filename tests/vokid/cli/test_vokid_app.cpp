// runVokid called in-process with an argument vector: a command line that
// asks for something impossible ends with exit code 2 and one message on
// standard error, before any input is opened; --help and --version print
// to standard output and succeed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/subprocess.h"
#include "vokid/cli/vokid_app.h"
#include <vok/vok_engine.h>

namespace {

struct Outcome {
    int code;
    std::string out, err;
};


Outcome vokid(const std::vector<std::string> &args)
{
    std::vector<const char *> argv = {"vokid"};
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    Outcome run;
    run.code = vokid::runVokid(static_cast<int>(argv.size()), argv.data(), out, err);
    run.out = vok_test::stream_contents(out);
    run.err = vok_test::stream_contents(err);
    std::fclose(out);
    std::fclose(err);
    return run;
}

TEST(VokidApp, UsageErrors)
{
    const std::string tail = " (vokid --help shows the usage)\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{}, "A subcommand is required"},
        {{"bogus"}, "A subcommand is required"},
        {{"print"}, "FILE is required"},
        {{"print", "--nope", "a.wav"}, "The following argument was not expected: --nope"},
        {{"print", "--raw", "a.wav"}, "--raw goes with --format json"},
        {{"print", "-", "-"}, "standard input ('-') can be named once"},
        {{"print", "--format", "yaml", "a.wav"}, "--format: yaml not in {xml,json,text}"},
        {{"print", "-a", "Stream9", "a.wav"},
         "--algorithm: Stream9 not in {FileFixed,FileFloat,Stream1,Stream4}"},
        {{"print", "-j", "0", "a.wav"}, "--jobs: Value 0 not in range 1 to 1024"},
        {{"decode", "a", "b"}, "The following argument was not expected: b"},
        {{"compare", "a"}, "B is required"},
        {{"compare", "-", "-"}, "standard input can be A or B, not both"},
        {{"compare", "--threshold", "2", "a", "b"},
         "--threshold: Value 2 not in range 0.000000 to 1.000000"},
        {{"identify", "db"}, "FILE is required"},
        {{"identify", "db", "-", "-"}, "standard input ('-') can be named once"},
        {{"identify", "db", "--length", "1", "a.wav"},
         "--length: Value 1 is neither 0 (all) nor from 3.4 to 3600"},
        {{"monitor", "db", "a.wav", "b.wav"}, "SOURCE: At Most 1 required but received 2"},
        {{"monitor", "db", "--pcm", "s16le", "--rate", "22050", "-"},
         "--pcm requires --channels"},
        {{"monitor", "db", "--rate", "22050", "-"}, "--rate requires --pcm"},
        {{"monitor", "db", "--pcm", "mp3", "--rate", "8000", "--channels", "1", "-"},
         "--pcm: mp3 not in {s16le,s16be,s24le,s32le,f32le,f64le,u8}"},
        {{"monitor", "db", "--pcm", "s16le", "--rate", "100", "--channels", "1", "-"},
         "--rate: Value 100 not in range 8000 to 384000"},
        {{"monitor", "db", "--retry-for", "-1", "http://x"},
         "--retry-for: Value -1 not in range 0.000000 to 10000000.000000"},
        {{"remove"}, "DB is required"},
        {{"add", "db", "-"}, "add: standard input ('-') needs --name NAME, the track's path"},
        {{"add", "db", "a.wav", "--name", "x"}, "--name goes with standard input ('-')"},
    };
    for (const auto &[args, message] : rows) {
        const Outcome run = vokid(args);
        const std::string line = args.empty() ? "(none)" : args[0];
        EXPECT_EQ(2, run.code) << line;
        EXPECT_EQ("vokid: " + message + tail, run.err) << line;
        EXPECT_EQ("", run.out) << line;
    }
}

// Every numeric option of every command: nan, the infinities, numbers
// that overflow, and each end of its range just outside.
TEST(VokidApp, NumericOptionsRefuseWhatIsNotInRange)
{
    const std::string tail = " (vokid --help shows the usage)\n";
    const std::string notFinite = " is not a finite number";
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"print", "--length", "nan", "a.wav"}, "--length: Value nan" + notFinite},
        {{"print", "--length", "inf", "a.wav"}, "--length: Value inf" + notFinite},
        {{"print", "--length", "-inf", "a.wav"}, "--length: Value -inf" + notFinite},
        {{"print", "--length", "1e999", "a.wav"}, "--length: Value 1e999" + notFinite},
        {{"print", "--length", "0", "a.wav"},
         "--length: Value 0 is not above 0 and at most 10000000"},
        {{"print", "--length", "10000000.5", "a.wav"},
         "--length: Value 10000000.5 is not above 0 and at most 10000000"},
        {{"compare", "--threshold", "nan", "a", "b"}, "--threshold: Value nan" + notFinite},
        {{"compare", "--threshold", "-inf", "a", "b"}, "--threshold: Value -inf" + notFinite},
        {{"compare", "--threshold", "-0.001", "a", "b"},
         "--threshold: Value -0.001 not in range 0.000000 to 1.000000"},
        {{"identify", "db", "--length", "NaN", "a.wav"}, "--length: Value NaN" + notFinite},
        {{"identify", "db", "--length", "infinity", "a.wav"},
         "--length: Value infinity" + notFinite},
        {{"identify", "db", "--length", "3.39", "a.wav"},
         "--length: Value 3.39 is neither 0 (all) nor from 3.4 to 3600"},
        {{"identify", "db", "--length", "3600.01", "a.wav"},
         "--length: Value 3600.01 is neither 0 (all) nor from 3.4 to 3600"},
        {{"identify", "db", "--length", "-0.01", "a.wav"},
         "--length: Value -0.01 is neither 0 (all) nor from 3.4 to 3600"},
        {{"print", "-j", "nan", "a.wav"}, "--jobs: Value nan not in range 1 to 1024"},
        {{"add", "db", "-j", "inf", "a.wav"}, "--jobs: Value inf not in range 1 to 1024"},
        {{"identify", "db", "-j", "1025", "a.wav"}, "--jobs: Value 1025 not in range 1 to 1024"},
        {{"monitor", "db", "-j", "-1", "a.wav"}, "--jobs: Value -1 not in range 1 to 1024"},
        {{"duplicates", "db", "-j", "99999999999999999999"},
         "--jobs: Value 99999999999999999999 not in range 1 to 1024"},
        {{"duplicates", "db", "--min-coverage", "2"},
         "--min-coverage: Value 2 not in range 0.000000 to 1.000000"},
        {{"duplicates", "db", "--min-coverage", "-0.001"},
         "--min-coverage: Value -0.001 not in range 0.000000 to 1.000000"},
        {{"duplicates", "db", "--min-coverage", "nan"}, "--min-coverage: Value nan" + notFinite},
        {{"add", "db", "--batch", "nan", "a.wav"}, "--batch: Value nan not in range 1 to 100000"},
        {{"add", "db", "--batch", "0", "a.wav"}, "--batch: Value 0 not in range 1 to 100000"},
        {{"add", "db", "--batch", "100001", "a.wav"},
         "--batch: Value 100001 not in range 1 to 100000"},
    };
    for (const auto &[args, message] : rows) {
        const Outcome run = vokid(args);
        EXPECT_EQ(2, run.code) << args[0] << " " << args[args.size() - 2];
        EXPECT_EQ("vokid: " + message + tail, run.err);
        EXPECT_EQ("", run.out);
    }
}

TEST(VokidApp, HelpAndVersion)
{
    const Outcome help = vokid({"--help"});
    EXPECT_EQ(0, help.code);
    EXPECT_EQ("", help.err);
    for (const char *command : {"print", "decode", "compare", "add", "identify", "monitor", "list",
                                "remove", "stats", "duplicates", "Exit codes: 0 success"})
        EXPECT_NE(std::string::npos, help.out.find(command)) << command;
    const Outcome version = vokid({"--version"});
    EXPECT_EQ(0, version.code);
    EXPECT_EQ(std::string("vokid ") + eng_version() + "\n", version.out);
}

} // namespace
