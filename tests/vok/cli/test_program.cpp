// The whole program run in-process over WAVE files written by the test,
// with the stand-in algorithm family in place of a real algorithm: output
// modes, continuous mode and its exit codes, block counts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/vok_program.h"
#include "engine/eng_memory.h"
#include "tests/libvok/engine/test_family.h"
#include "tests/support/alloc_faults.h"
#include "tests/support/wav_writer.h"

namespace {

using test_family::behaviour;
using test_family::calls;
using vok_test::Bytes;
using vok_test::WavWriter;

// What the stand-in family's documents look like as text.
const std::string kText = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<T A=\"1\">x&lt;y</T>\n";
const std::string kEscaped =
    "&lt;?xml version=&quot;1.0&quot; encoding=&quot;UTF-8&quot; ?&gt;\n&lt;T "
    "A=&quot;1&quot;&gt;x&lt;y&lt;/T&gt;\n";
const std::string kOpening =
    "<ZUSERVER_QUERY_LIST><ZUSERVER_QUERY ID=\"1\" OUT=\"ALBUM_RESPONSE\">";
const std::string kClosing = "</FPDATA></ZUSERVER_QUERY></ZUSERVER_QUERY_LIST>\n\n\n\n\n";

struct Outcome {
    std::string out, err;
    int code;
};

std::string contents(std::FILE *file)
{
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

class Program : public test_family::StandInFamilyTest {
protected:
    Outcome run(std::vector<std::string> args)
    {
        args.insert(args.begin(), "vok");
        std::vector<const char *> argv;
        for (const std::string &arg : args)
            argv.push_back(arg.c_str());
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        const int code = Zuvanti::runProgram(static_cast<int>(argv.size()), argv.data(), out, err);
        return {contents(out), contents(err), code};
    }

    vok_test::TempDir dir;
    std::string wav = dir.file("in.wav");
};

TEST_F(Program, RawAndServerQueryOutput)
{
    vok_test::write_wav(wav, 1, 2, 44100, 16, Bytes(4000, 1));
    struct Row {
        std::vector<std::string> args;
        std::string out;
        uint32_t id;
    };
    const std::vector<Row> rows = {
        {{"-f", wav}, kText, 3},
        {{"-f", wav, "-om", "xml"}, kText, 3},
        {{"-f", wav, "-om", "ZUSERVER"}, kText, 3},
        {{"-f", wav, "-om", "zuserver"},
         kOpening + "<FPDATA TYPE=\"ZUVOK\">" + kEscaped + kClosing,
         3},
        {{"-f", wav, "-a", "Stream4", "-om", "zuserver"},
         kOpening + "<FPDATA TYPE=\"QDV\">" + kEscaped + kClosing,
         4},
        {{"-a", "FileFixed", "-om", "zuserver", "-f", wav, "-n", "7"},
         kOpening + "<FPDATA TYPE=\"QDV\">" + kEscaped + kClosing,
         1},
        {{"-a", "FileFloat", "-f", wav}, kText, 2},
    };
    for (const Row &row : rows) {
        const Outcome outcome = run(row.args);
        EXPECT_EQ(row.out, outcome.out) << row.args.back();
        EXPECT_EQ("", outcome.err);
        EXPECT_EQ(0, outcome.code);
        EXPECT_EQ(row.id, calls.id);
    }
}

TEST_F(Program, AnOutputFileTakesTheFingerprint)
{
    vok_test::write_wav(wav, 1, 1, 8000, 8, Bytes(100, 0x80));
    const std::string out = dir.file("out.txt");
    vok_test::write_file(out, Bytes(10000, 'z'));
    const Outcome outcome = run({"-f", wav, "-o", out});
    EXPECT_EQ(0, outcome.code);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ(kText, vok_test::read_file(out)) << "the old content is truncated";
}

TEST_F(Program, AnOutputThatCannotBeWrittenIsAFailure)
{
    vok_test::write_wav(wav, 1, 1, 8000, 8, Bytes(100, 0x80));
    Outcome outcome = run({"-f", wav, "-o", "/dev/full"});
    EXPECT_EQ("Error: Unable to write to output file /dev/full\n", outcome.err);
    EXPECT_EQ(1, outcome.code);

    // Standard output on a full device.
    const char *argv[] = {"vok", "-f", wav.c_str()};
    std::FILE *full = std::fopen("/dev/full", "w");
    ASSERT_NE(nullptr, full);
    std::FILE *err = std::tmpfile();
    EXPECT_EQ(1, Zuvanti::runProgram(3, argv, full, err));
    std::fclose(full);
    EXPECT_EQ("Error: Unable to write to stdout\n", contents(err));

    // A failed extraction keeps its own message and code.
    outcome = run({"-f", dir.file("missing.wav"), "-o", "/dev/full"});
    EXPECT_EQ(0u, outcome.err.find("Error: Unable to extract fingerprint.\n"));
    EXPECT_EQ(std::string::npos, outcome.err.find("write"));
    EXPECT_EQ(1, outcome.code);
}

TEST_F(Program, ContinuousModeStopsAtTheFirstLostFingerprint)
{
    WavWriter()
        .fmt(1, 1, 8000, 8)
        .data(Bytes(100, 1))
        .data(Bytes(100, 2))
        .data(Bytes(100, 3))
        .write(wav);
    const Outcome outcome = run({"-c", "-n", "0", "-f", wav, "-o", "/dev/full"});
    EXPECT_EQ("Error: Unable to write to output file /dev/full\n", outcome.err);
    EXPECT_EQ(1, outcome.code);
    EXPECT_EQ(1, calls.creates) << "no fingerprint is made after one was lost";
}

TEST_F(Program, AReaderThatClosesThePipeEndsTheRunQuietly)
{
    vok_test::write_wav(wav, 1, 1, 8000, 8, Bytes(100, 0x80));
    // In-process the pipe's signal is ignored, so the write fails instead.
    void (*previous)(int) = std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    close(ends[0]);
    std::FILE *pipe_out = fdopen(ends[1], "w");
    ASSERT_NE(nullptr, pipe_out);
    const char *argv[] = {"vok", "-f", wav.c_str()};
    std::FILE *err = std::tmpfile();
    EXPECT_EQ(1, Zuvanti::runProgram(3, argv, pipe_out, err));
    std::fclose(pipe_out);
    std::signal(SIGPIPE, previous);
    EXPECT_EQ("", contents(err));
}

TEST_F(Program, ContinuousModeWritesOneFingerprintPerCall)
{
    // With -n 0 every call takes one data stretch.
    WavWriter()
        .fmt(1, 2, 44100, 16)
        .data(Bytes(400, 1))
        .chunk("LIST", Bytes(3, 'x'))
        .data(Bytes(800, 2))
        .data(Bytes(12, 3))
        .write(wav);
    Outcome outcome = run({"-f", wav, "-c", "-n", "0"});
    EXPECT_EQ(kText + kText + kText, outcome.out);
    EXPECT_EQ(0, outcome.code);
    EXPECT_EQ(4, calls.creates) << "the fourth call finds the end";

    outcome = run({"-f", wav, "-c", "-n", "0", "-om", "zuserver", "-a", "Stream4"});
    const std::string query = kOpening + "<FPDATA TYPE=\"QDV\">" + kEscaped + kClosing;
    EXPECT_EQ(query + query + query, outcome.out);
    EXPECT_EQ("", outcome.err);

    // Without -c the driver is asked once.
    outcome = run({"-f", wav, "-n", "0"});
    EXPECT_EQ(kText, outcome.out);
    EXPECT_EQ(0, outcome.code);
}

TEST_F(Program, ContinuousModeExitCodes)
{
    // One good stretch, then one whose data is cut short.
    WavWriter()
        .fmt(1, 2, 44100, 16)
        .data(Bytes(400, 1))
        .header("data", 800)
        .raw(Bytes(10, 0))
        .write(wav);
    const std::string failure = "Error: Unable to extract fingerprint.\n"
                                " Unable to get audio sample.\n"
                                " Error getting audio sample: File format invalid\n";

    // A failure after a written fingerprint ends a continuous run quietly.
    Outcome outcome = run({"-c", "-n", "0", "-f", wav});
    EXPECT_EQ(kText, outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(0, outcome.code);

    // Without -c, or before anything was written, it is reported.
    outcome = run({"-n", "-5", "-f", wav});
    EXPECT_EQ(kText, outcome.out);
    EXPECT_EQ(0, outcome.code) << "one call only: the failure is never met";
    outcome = run({"-f", wav});
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ(failure, outcome.err);
    EXPECT_EQ(1, outcome.code);
    outcome = run({"-f", wav, "-c"});
    EXPECT_EQ(failure, outcome.err);
    EXPECT_EQ(1, outcome.code);
}

TEST_F(Program, BlockCountsGiveTheReadSize)
{
    // 44100 Hz stereo 16-bit: one block reads 617400 bytes.
    vok_test::write_wav(wav, 1, 2, 44100, 16, Bytes(4 * 617400, 5));
    struct Row {
        const char *blocks;
        int adds;
    };
    for (const Row &row : {Row{"1", 4}, Row{"2", 2}, Row{"3x", 2}, Row{" +4", 1}, Row{"0", 1},
                           Row{"-1", 1}, Row{"-2147483648", 1}, Row{"2147483647", 1}}) {
        test_family::install();
        const Outcome outcome = run({"-f", wav, "-n", row.blocks});
        EXPECT_EQ(0, outcome.code) << row.blocks;
        EXPECT_EQ(row.adds, calls.adds) << "-n '" << row.blocks << "'";
    }
}

TEST_F(Program, EngineFailuresAreReportedWithTheirCodes)
{
    vok_test::write_wav(wav, 1, 2, 44100, 16, Bytes(400, 1));
    behaviour.create_result = 0x900e0004u;
    Outcome outcome = run({"-f", wav});
    EXPECT_EQ("Error: Unable to extract fingerprint.\n"
              " Unable to create fingerprint. Error code:900e0004.\n",
              outcome.err);
    EXPECT_EQ(1, outcome.code);

    test_family::install();
    behaviour.add_done = 0;
    outcome = run({"-f", wav, "-c"});
    EXPECT_EQ("Error: Unable to extract fingerprint.\n"
              " Not enough audio to generate a fingerprint.\n",
              outcome.err);
    EXPECT_EQ(1, outcome.code);
}

} // namespace
