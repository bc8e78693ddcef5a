// vokid monitor through the program: recordings composed with sox from
// generated tracks (cut, looped, restarted, with gaps, played fast, their
// tempo changed) and their segments; raw PCM on standard input; a mix fed
// through a pipe at 20 times real time, its segments read while the writer
// still writes; a file followed as it is written; an HTTP stream on
// loopback cut and restored; an FFmpeg device.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"

namespace {

using vokid_test::shell;
using vokid_test::jsonLines;
using vokid_test::vokid;

constexpr uint32_t kRate = 22050;
constexpr double kTrackSeconds = 45;
constexpr int kSilence = -1;
constexpr int kSpeech = -2;

// A piece of a recording: `seconds` of track `track` (0 to 3) from `from`,
// played `speed` times fast or its tempo `tempo` times fast; or silence,
// or speech.
struct Part {
    int track;
    double from;
    double seconds;
    double speed = 1;
    double tempo = 1;
};

struct Expected {
    int track; // 0 to 3
    double start, end;
    double speed = 1;
    double tempo = 1;
};

std::string quoted(const std::string &text)
{
    return "'" + text + "'";
}

std::string script(const char *name)
{
    return quoted(std::string(VOKID_TEST_SCRIPTS) + "/" + name);
}

class VokidMonitor : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!vokid_test::haveFfmpeg() || shell("command -v sox && command -v espeak-ng").exit_code)
            return;
        dir = new vok_test::TempDir();
        std::vector<std::string> args = {"add", dir->file("index")};
        for (int t = 0; t < 4; ++t) {
            const std::string file = dir->file("t" + std::to_string(t) + ".wav");
            vok_test::write_recording(file, 401 + t, kTrackSeconds, kRate, 1);
            args.push_back(file);
        }
        ready = vokid(args).exit_code == 0;
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override
    {
        if (!ready)
            GTEST_SKIP() << "ffmpeg, sox or espeak-ng is not installed";
    }

    static std::string db() { return dir->file("index"); }

    // The recording of the parts, as a 22050-Hz mono WAVE file.
    static std::string compose(const std::string &name, const std::vector<Part> &parts)
    {
        std::string command = "set -e; cd " + quoted(dir->path()) + "; ";
        std::string pieces;
        for (size_t p = 0; p < parts.size(); ++p) {
            const Part &part = parts[p];
            const std::string piece = name + "-" + std::to_string(p) + ".wav";
            std::ostringstream step;
            if (part.track == kSilence)
                step << "sox -n -r 22050 -c 1 -b 16 " << piece << " trim 0 " << part.seconds;
            else if (part.track == kSpeech)
                step << "espeak-ng -w speech.wav 'And now, the news and the weather.' && sox "
                        "speech.wav -r 22050 -c 1 -b 16 "
                     << piece << " pad 0 " << part.seconds << " trim 0 " << part.seconds;
            else
                step << "sox t" << part.track << ".wav " << piece << " trim " << part.from << " "
                     << part.seconds << (part.speed != 1 ? " speed " : "")
                     << (part.speed != 1 ? std::to_string(part.speed) : "")
                     << (part.tempo != 1 ? " tempo -m " : "")
                     << (part.tempo != 1 ? std::to_string(part.tempo) : "") << " rate 22050";
            command += step.str() + "; ";
            pieces += " " + piece;
        }
        const std::string out = name + ".wav";
        command += "sox" + pieces + " " + out + " && rm" + pieces;
        const vok_test::RunResult made = shell(command);
        EXPECT_EQ(0, made.exit_code) << made.err;
        return dir->file(out);
    }

    static vok_test::TempDir *dir;
    static bool ready;
};

vok_test::TempDir *VokidMonitor::dir = nullptr;
bool VokidMonitor::ready = false;

void expectSegments(const std::vector<Expected> &expected, const std::vector<nlohmann::json> &got,
                    const std::string &label)
{
    ASSERT_EQ(expected.size(), got.size()) << label << ": " << nlohmann::json(got).dump();
    for (size_t s = 0; s < expected.size(); ++s) {
        const nlohmann::json &segment = got[s];
        SCOPED_TRACE(label + ", segment " + std::to_string(s) + ": " + segment.dump());
        EXPECT_EQ(expected[s].track + 1, segment["track"]);
        // Ends to a second, as a listener hears them.
        EXPECT_NEAR(expected[s].start, segment["start"].get<double>(), 1.0);
        EXPECT_NEAR(expected[s].end, segment["end"].get<double>(), 1.0);
        EXPECT_NEAR(expected[s].speed, segment["speed"].get<double>(), 1e-9);
        EXPECT_NEAR(expected[s].tempo, segment["tempo"].get<double>(), 1e-9);
    }
}

TEST_F(VokidMonitor, SegmentsAsAListenerHearsThem)
{
    const double fast = kTrackSeconds / 1.02;
    const struct {
        const char *name;
        std::vector<Part> parts;
        std::vector<std::string> options;
        std::vector<Expected> expected;
    } cases[] = {
        {"a loop point continues the play",
         {{0, 0, 20}, {0, 10, 20}, {kSilence, 0, 8}}, {}, {{0, 0, 40}}},
        {"a restart after the end is a new play",
         {{1, 0, 45}, {1, 0, 15}, {kSilence, 0, 8}}, {}, {{1, 0, 45}, {1, 45, 60}}},
        {"a gap of 2 s is bridged",
         {{2, 0, 15}, {kSilence, 0, 2}, {2, 17, 20}, {kSilence, 0, 8}}, {}, {{2, 0, 37}}},
        {"a gap of 4 s parts the plays",
         {{2, 0, 15}, {kSilence, 0, 4}, {2, 19, 20}, {kSilence, 0, 8}}, {},
         {{2, 0, 15}, {2, 19, 39}}},
        {"one track after another",
         {{0, 5, 20}, {3, 0, 20}, {kSpeech, 0, 4}}, {}, {{0, 0, 20}, {3, 20, 40}}},
        {"a 5-s play with --min-length 4",
         {{kSilence, 0, 3}, {3, 10, 5}, {kSilence, 0, 10}}, {"--min-length", "4"},
         {{3, 3, 8}}},
        {"a 5-s play is too short by default",
         {{kSilence, 0, 3}, {3, 10, 5}, {kSilence, 0, 10}}, {}, {}},
        {"played 2% fast", {{0, 0, 45, 1.02}, {kSilence, 0, 8}}, {}, {{0, 0, fast, 1.02}}},
        {"played 2% fast after 1.0 s", {{kSilence, 0, 1.0}, {0, 0, 45, 1.02}, {kSilence, 0, 8}},
         {}, {{0, 1.0, 1.0 + fast, 1.02}}},
        {"played 2% fast after 1.7 s", {{kSilence, 0, 1.7}, {0, 0, 45, 1.02}, {kSilence, 0, 8}},
         {}, {{0, 1.7, 1.7 + fast, 1.02}}},
        {"played 2% fast after 2.5 s", {{kSilence, 0, 2.5}, {0, 0, 45, 1.02}, {kSilence, 0, 8}},
         {}, {{0, 2.5, 2.5 + fast, 1.02}}},
        {"its tempo 3% faster",
         {{kSpeech, 0, 3}, {1, 0, 30, 1, 1.03}, {kSilence, 0, 8}}, {},
         {{1, 3, 3 + 30 / 1.03, 1, 1.03}}},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string file = compose("case" + std::to_string(n++), c.parts);
        std::vector<std::string> args = {"monitor", "--json", db(), file};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const vok_test::RunResult run = vokid(args);
        ASSERT_EQ(0, run.exit_code) << c.name << ": " << run.err;
        expectSegments(c.expected, jsonLines(run.out), c.name);
    }
}

TEST_F(VokidMonitor, RawPcmOnStandardInput)
{
    const std::string file = compose("raw", {{kSilence, 0, 2}, {2, 5, 20}, {kSilence, 0, 8}});
    const struct {
        const char *format;
        const char *channels;
        const char *sox;
    } cases[] = {{"s16le", "1", "-e signed -b 16 -L -c 1"},
                 {"s16be", "2", "-e signed -b 16 -B -c 2"},
                 {"f32le", "1", "-e floating-point -b 32 -L -c 1"}};
    for (const auto &c : cases) {
        const vok_test::RunResult run =
            shell(std::string("sox ") + quoted(file) + " -t raw " + c.sox + " - | \"$VOKID\" " +
                  "monitor --json " + quoted(db()) + " --pcm " + c.format +
                  " --rate 22050 --channels " + c.channels + " -");
        ASSERT_EQ(0, run.exit_code) << c.format << ": " << run.err;
        const std::vector<nlohmann::json> got = jsonLines(run.out);
        expectSegments({{2, 2, 22}}, got, c.format);
        // Standard input is live: each segment has its time of day.
        if (!got.empty()) {
            EXPECT_EQ('Z', got[0]["start_time"].get<std::string>().back());
            EXPECT_LE(got[0]["start_time"].get<std::string>(), got[0]["end_time"].get<std::string>());
        }
    }
    // A file is not live: no times of day.
    const vok_test::RunResult fromFile = vokid({"monitor", "--json", db(), file});
    EXPECT_EQ(std::string::npos, fromFile.out.find("start_time")) << fromFile.out;
    const vok_test::RunResult text = vokid({"monitor", db(), file});
    EXPECT_NE(std::string::npos, text.out.find(" s: track 3 from ")) << text.out;
}

// FFmpeg's devices (libavdevice, loaded when one is asked for), through
// the one every build has: lavfi, here reading a recording as a sound
// card would deliver it. A device is live and retried when it ends; an
// input format FFmpeg does not have is refused.
TEST_F(VokidMonitor, ReadsAnFfmpegDevice)
{
    const std::string file = compose("device", {{kSilence, 0, 2}, {1, 5, 20}, {kSilence, 0, 8}});
    const vok_test::RunResult run = vokid({"monitor", "--json", "--retry-for", "0",
                                           "--input-format", "lavfi", db(), "amovie=" + file});
    const std::vector<nlohmann::json> got = jsonLines(run.out);
    expectSegments({{1, 2, 22}}, got, "lavfi");
    if (!got.empty()) {
        EXPECT_EQ('Z', got[0]["end_time"].get<std::string>().back());
    }
    EXPECT_EQ(1, run.exit_code);
    EXPECT_EQ("vokid: amovie=" + file + ": the stream ended; no more tries after 0 s\n", run.err);

    const vok_test::RunResult unknown =
        vokid({"monitor", "--input-format", "no-such-format", db(), file});
    EXPECT_EQ(1, unknown.exit_code);
    EXPECT_EQ("vokid: " + file + ": FFmpeg has no input format 'no-such-format'\n", unknown.err);
    EXPECT_EQ("", unknown.out);
}

// About 10 minutes: each track in turn, one played 2% fast, one with its
// tempo 3% slower, with speech and silence between them; then the first
// again.
std::vector<Part> tenMinutes(std::vector<Expected> &expected)
{
    std::vector<Part> parts;
    double at = 0;
    const auto play = [&](int track, double from, double seconds, double speed, double tempo) {
        parts.push_back(Part{track, from, seconds, speed, tempo});
        const double heard = seconds / speed / tempo;
        expected.push_back(Expected{track, at, at + heard, speed, tempo});
        at += heard;
    };
    const auto pause = [&](int kind, double seconds) {
        parts.push_back(Part{kind, 0, seconds});
        at += seconds;
    };
    for (int round = 0; round < 3; ++round) {
        play(0, 0, 45, 1, 1);
        pause(kSpeech, 4);
        play(1, 0, 45, 1.02, 1);
        pause(kSilence, 3);
        play(2, 0, 45, 1, 0.97);
        pause(kSpeech, 4);
        play(3, 0, 40, 1, 1);
        pause(kSilence, 2);
    }
    play(0, 0, 45, 1, 1);
    pause(kSilence, 10);
    return parts;
}

TEST_F(VokidMonitor, LivePipeReadAsItIsWritten)
{
    std::vector<Expected> expected;
    const std::string file = compose("mix", tenMinutes(expected));
    const std::string done = dir->file("written");
    // Each line marked by whether the writer had finished when it came.
    const vok_test::RunResult run = shell(
        "timeout 100 /usr/bin/python3 " + script("paced_writer.py") + " " + quoted(file) +
        " 20 " + quoted(done) + " | timeout 100 \"$VOKID\" monitor --json " + quoted(db()) +
        " - | while IFS= read -r line; do if [ -e " + quoted(done) +
        " ]; then echo \"after $line\"; else echo \"before $line\"; fi; done");
    ASSERT_EQ(0, run.exit_code) << run.err;
    std::vector<nlohmann::json> got;
    std::istringstream lines(run.out);
    std::string when, line;
    std::vector<std::string> whens;
    while (lines >> when && std::getline(lines, line)) {
        whens.push_back(when);
        got.push_back(nlohmann::json::parse(line));
    }
    ASSERT_FALSE(whens.empty()) << run.out << run.err;
    EXPECT_EQ("before", whens.front());
    EXPECT_EQ("before", whens[whens.size() - 2]);
    expectSegments(expected, got, "the mix");
}

TEST_F(VokidMonitor, LiveFollowedFileWithItsHeaderWrittenFirst)
{
    const std::string file = compose(
        "followed", {{kSilence, 0, 1}, {0, 0, 20}, {kSpeech, 0, 3}, {1, 10, 20}, {kSilence, 0, 12}});
    // The data size the header states while the file is written: none
    // yet, the largest, or what there was when it was last written.
    for (const char *size : {"0", "4294967295", "44100"}) {
        const std::string grown = dir->file("grown.wav");
        const vok_test::RunResult run = shell(
            "cd " + quoted(dir->path()) + "; rm -f grown.wav; " +
            "/usr/bin/python3 -c 'import struct,sys; d=open(sys.argv[1],\"rb\").read(); "
            "assert d[36:40]==b\"data\"; open(\"grown.wav\",\"wb\").write(d[:40]+struct.pack(\"<I\","
            "int(sys.argv[2])))' " + quoted(file) + " " + size + " && " +
            "(timeout 60 \"$VOKID\" monitor --follow --json " + quoted(db()) +
            " grown.wav > followed.out 2> followed.err & echo $! > follower.pid); " +
            "trap 'kill $(cat follower.pid) 2>/dev/null' EXIT; " +
            "/usr/bin/python3 -c 'import sys,time; d=open(sys.argv[1],\"rb\").read()[44:]\n"
            "for k in range(0, len(d), 88200):\n"
            "  f=open(\"grown.wav\",\"ab\"); f.write(d[k:k+88200]); f.close(); time.sleep(0.05)' " +
            quoted(file) + "; " +
            "for i in $(seq 300); do [ $(wc -l < followed.out) -ge 2 ] && break; sleep 0.1; done; "
            "cat followed.out; cat followed.err >&2");
        ASSERT_EQ(0, run.exit_code) << size << ": " << run.err;
        expectSegments({{0, 1, 21}, {1, 24, 44}}, jsonLines(run.out), std::string("size ") + size);
        EXPECT_EQ("", run.err);
        (void)grown;
    }
}

// Ctrl-C (or SIGTERM) on a source that has not ended: the play still
// open is reported, and the exit status is 0.
TEST_F(VokidMonitor, LiveStopOnSignalReportsTheOpenPlay)
{
    const std::string file =
        compose("stopped", {{kSilence, 0, 1}, {0, 0, 20}, {kSilence, 0, 12}, {1, 10, 20}});
    for (const char *signal : {"INT", "TERM"}) {
        // The first play's line shows the search has passed it; the second
        // play is then heard to the file's end and stays open, the file
        // being followed for more.
        const vok_test::RunResult run = shell(
            "cd " + quoted(dir->path()) + "; timeout 60 \"$VOKID\" monitor --follow --json " +
            quoted(db()) + " " + quoted(file) + " > stopped.out 2> stopped.err & pid=$!; " +
            "for i in $(seq 300); do [ -s stopped.out ] && break; sleep 0.1; done; sleep 3; " +
            "kill -" + signal + " $pid; wait $pid; rc=$?; " + // timeout hands the signal on
            "cat stopped.out; cat stopped.err >&2; exit $rc");
        ASSERT_EQ(0, run.exit_code) << signal << ": " << run.err;
        const std::vector<nlohmann::json> got = jsonLines(run.out);
        ASSERT_EQ(2u, got.size()) << signal << ": " << run.out;
        EXPECT_EQ(2, got[1]["track"]) << signal;
        EXPECT_NEAR(33, got[1]["start"].get<double>(), 1.0) << signal;
        EXPECT_EQ("", run.err) << signal;
        shell("cd " + quoted(dir->path()) + "; rm -f stopped.out stopped.err");
    }
}

TEST_F(VokidMonitor, LiveHttpStreamCutAndRestored)
{
    const std::string file =
        compose("stream", {{kSilence, 0, 1}, {0, 0, 30}, {kSpeech, 0, 3}, {3, 5, 30}, {kSilence, 0, 10}});
    // Served at 10 times real time: cut after 2 s (20 s of the stream),
    // restored 2 s later, cut for good once it has been heard whole; the
    // retries then run out after 4 s.
    const vok_test::RunResult run = shell(
        "cd " + quoted(dir->path()) + "; rm -f port; " +
        "serve() { timeout 60 /usr/bin/python3 " + script("stream_server.py") + " " +
        quoted(file) + " 10 $1 > port & echo $! > server.pid; " +
        "for i in $(seq 50); do [ -s port ] && break; sleep 0.1; done; }; " +
        "trap 'kill $(cat server.pid) 2>/dev/null' EXIT; serve 0; PORT=$(cat port); " +
        "timeout 60 \"$VOKID\" monitor --json --retry-for 4 " + quoted(db()) +
        " http://127.0.0.1:$PORT/stream.wav > stream.out 2> stream.err & V=$!; " +
        "sleep 2; kill $(cat server.pid); sleep 2; serve $PORT; sleep 7.5; kill $(cat server.pid); " +
        "wait $V; echo \"exit $?\" >> stream.err; cat stream.out; cat stream.err >&2");
    EXPECT_NE(std::string::npos, run.err.find("exit 1\n")) << run.err;
    const std::string url = "http://127.0.0.1:";
    EXPECT_NE(std::string::npos, run.err.find("; trying again in 1.0 s\n")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("; trying again in 2.0 s\n")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("connection refused")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("; no more tries after 4 s\n")) << run.err;
    EXPECT_EQ(0u, run.err.find("vokid: " + url)) << run.err;
    // The first connection's play, cut short; then the whole stream again
    // after the restore, its times counting on.
    const std::vector<nlohmann::json> got = jsonLines(run.out);
    ASSERT_GE(got.size(), 3u) << run.out;
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(1, got[0]["track"]);
    EXPECT_NEAR(1, got[0]["start"].get<double>(), 1);
    const double cut = got[0]["end"].get<double>();
    EXPECT_GT(cut, 3);
    EXPECT_LT(cut, 25);
    EXPECT_EQ(1, got[1]["track"]);
    EXPECT_NEAR(cut + 1, got[1]["start"].get<double>(), 1.5);
    EXPECT_EQ(4, got[2]["track"]);
    EXPECT_NEAR(got[1]["start"].get<double>() + 33, got[2]["start"].get<double>(), 1);
}

} // namespace
