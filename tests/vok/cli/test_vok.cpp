// The built program, run as a child process: standard output, standard
// error and the exit code compared exactly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <set>

#include <string>
#include <vector>

#include "tests/support/reachable_copy.h"
#include "tests/support/subprocess.h"
#include "tests/support/wav_writer.h"

namespace {

using vok_test::Bytes;
using vok_test::RunOptions;
using vok_test::RunResult;

std::string spaces(int count)
{
    return std::string(static_cast<size_t>(count), ' ');
}

// The usage text, put together from its definition: leading spaces, tabs
// and runs of spaces counted out one by one.
std::string usage()
{
    const std::string indent = spaces(19);
    const std::vector<std::string> lines = {
        "Usage: vok [-help] [-a ALGORITHM] [-n NUMFPBLOCKS]",
        spaces(11) + "-f AUDIOFILE [-c] [-om outputmode] [-o output_file]",
        "",
        "Extract fingerprint from AUDIOFILE.",
        "",
        "-help\t" + spaces(11) + "Displays this message on stdout.",
        "-a ALGORITHM\t" + spaces(3) + "Specifies the algorithm that will be used to generate the",
        indent + "fingerprint. Valid values are FileFixed, FileFloat, Stream1",
        indent + "and Stream4.",
        indent + "Optional. If omitted Stream1 is used.",
        "-n NUMFPBLOCKS\t" + spaces(3) + "Specifies the number of fingerprint blocks the resulting",
        indent + "fingerprint should have. If the audio sample is large enough",
        indent + "the resulting fingerprint will has at least this many fingerprint",
        indent + "blocks. Only applicable to algorithms Stream1 and Stream4.",
        indent + "Optional. If omitted 2 is used.",
        "-f AUDIOFILE\t" + spaces(3) +
            "Specifies the standard WAVE format audio file that will be used to",
        indent + "generate the fingerprint. Required.",
        "-c" + spaces(17) +
            "Specifies that the entire file should be processed. Fingerprints will be",
        indent + "generated for the entire file. Only valid if algorithm is Stream1 or Stream4.",
        indent + "Optional.",
        "-om OUTPUTMETHOD" + spaces(3) + "Specifies the output mode of the application.",
        indent + "Optional. If omitted output is raw fingerprint(s).",
        "-o OUTPUTFILE\t" + spaces(3) +
            "Specifies the file used to write the generated fingerprint or ZUServer",
        indent + "query to. Optional. If omitted the output is written to stdout.",
    };
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    return text;
}

RunResult vok(const std::vector<std::string> &args, const RunOptions &options = RunOptions())
{
    return vok_test::run_program(VOK_PROGRAM, args, options);
}

Bytes cut(Bytes bytes, size_t keep)
{
    bytes.resize(keep);
    return bytes;
}

class Vok : public ::testing::Test {
protected:
    vok_test::TempDir dir;
    std::string missing = dir.file("missing.wav");
};

TEST_F(Vok, TheUsageTextByteForByte)
{
    const std::string text = usage();
    EXPECT_EQ(24, std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(5, std::count(text.begin(), text.end(), '\t'));
    const RunResult help = vok({"-help"});
    EXPECT_EQ(text, help.out);
    EXPECT_EQ("", help.err);
    EXPECT_EQ(0, help.exit_code);
}

TEST_F(Vok, EveryValidationFailure)
{
    const std::string no_dir = dir.file("no/such/folder/out.txt");
    struct Row {
        std::vector<std::string> args;
        std::string err;
        bool usage;
        int code;
    };
    const std::vector<Row> rows = {
        {{}, "Error: No arguments provided\n", true, 1},
        {{"-x"}, "Error: Unable to parse inputs\nUnrecognized identifier. '-x'\n", true, 1},
        {{"-c", "a.wav"},
         "Error: Unable to parse inputs\nUnrecognized identifier. 'a.wav'\n",
         true,
         1},
        {{""}, "Error: Unable to parse inputs\nUnrecognized identifier. ''\n", true, 1},
        {{"-f", "a", "-f", "b"},
         "Error: Unable to parse inputs\nIdentifier specified more than once.\n",
         true,
         1},
        // -help wins over every invalid value, but not over a parse failure
        {{"-help"}, "", true, 0},
        {{"-help", "-a", "Bogus", "-n", "x", "-om"}, "", true, 0},
        {{"-a", "Bogus", "-help"}, "", true, 0},
        {{"-help", "-x"},
         "Error: Unable to parse inputs\nUnrecognized identifier. '-x'\n",
         true,
         1},
        {{"-f", "a.wav", "-a"}, "Error: Algorithm not correctly specified\n", true, 1},
        {{"-a", "stream1", "-f", "a.wav"},
         "Error: Unknown algorithm specified 'stream1'\n",
         true,
         1},
        {{"-a", "", "-f", "a.wav"}, "Error: Unknown algorithm specified ''\n", true, 1},
        {{"-a", "Bogus", "-n", "x"}, "Error: Unknown algorithm specified 'Bogus'\n", true, 1},
        {{"-f", "a.wav", "-c", "-a", "FileFixed"},
         "Error: Continuous mode only valid when algorithm is Stream1 or Stream4.\n",
         true,
         1},
        {{"-c", "-a", "FileFloat", "-n"},
         "Error: Continuous mode only valid when algorithm is Stream1 or Stream4.\n",
         true,
         1},
        {{"-f", "a.wav", "-n"},
         "Error: Number of fingerprint blocks not correctly specified\n",
         true,
         1},
        {{"-f", "a.wav", "-n", "x"},
         "Error: Number of fingerprint blocks must be an integer\n",
         true,
         1},
        {{"-f", "a.wav", "-n", ""},
         "Error: Number of fingerprint blocks must be an integer\n",
         true,
         1},
        {{"-f", "a.wav", "-n", "2147483648"},
         "Error: Number of fingerprint blocks must be an integer\n",
         true,
         1},
        {{"-f", "a.wav", "-n", "-2147483649"},
         "Error: Number of fingerprint blocks must be an integer\n",
         true,
         1},
        {{"-n", "x", "-om"}, "Error: Number of fingerprint blocks must be an integer\n", true, 1},
        {{"-a", "FileFixed"}, "Error: No input file specified\n", true, 1},
        {{"-f"}, "Error: No input file specified\n", true, 1},
        {{"-f", ""}, "Error: No input file specified\n", true, 1},
        {{"-om", "zuserver", "-o", "x"}, "Error: No input file specified\n", true, 1},
        {{"-f", "a.wav", "-om"}, "Error: Output mode property not specified.\n", true, 1},
        // -o taken as the output mode's value
        {{"-f", missing, "-om", "-o"},
         "Error: Unable to extract fingerprint.\n Get audio type error\n Error parsing WAV file: "
         "Could not open file\n",
         false,
         1},
        {{"-f", "a.wav", "-o"}, "Error: Ouput file not properly specified\n", true, 1},
        {{"-f", "a.wav", "-o", ""}, "Error: Ouput file not properly specified\n", true, 1},
        {{"-f", "a.wav", "-o", no_dir},
         "Error: Unable to open output file " + no_dir + "\n",
         false,
         1},
        {{"-f", missing},
         "Error: Unable to extract fingerprint.\n Get audio type error\n Error parsing WAV file: "
         "Could not open file\n",
         false,
         1},
        {{"-f", dir.path(), "-c"},
         "Error: Unable to extract fingerprint.\n Get audio type error\n Error parsing WAV file: "
         "Could not open file\n",
         false,
         1},
    };
    for (const Row &row : rows) {
        std::string shown;
        for (const std::string &arg : row.args)
            shown += "[" + arg + "]";
        const RunResult result = vok(row.args);
        EXPECT_EQ(row.err, result.err) << shown;
        EXPECT_EQ(row.usage ? usage() : "", result.out) << shown;
        EXPECT_EQ(row.code, result.exit_code) << shown;
    }
}

TEST_F(Vok, QuotedValues)
{
    const std::string folder = dir.file("my folder");
    mkdir(folder.c_str(), 0755);
    const std::string spaced = folder + "/not a wave.wav";
    vok_test::write_file(spaced, Bytes(64, 'x'));
    const std::string invalid = "Error: Unable to extract fingerprint.\n Get audio type error\n"
                                " Error parsing WAV file: File format invalid\n";
    const std::string absent = "Error: Unable to extract fingerprint.\n Get audio type error\n"
                               " Error parsing WAV file: Could not open file\n";
    struct Row {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Row> rows = {
        {{"-f", "\"" + spaced + "\""}, invalid},
        {{"-f", "\"" + dir.file("my"), "folder/not", "a", "wave.wav\""}, invalid},
        {{"-f", "\"\"", spaced}, invalid},
        {{"-a", "\"Bogus", "name\"", "-f", spaced},
         "Error: Unknown algorithm specified 'Bogus name'\n"},
        {{"-a", "\"FileFixed\"", "-c", "-f", spaced},
         "Error: Continuous mode only valid when algorithm is Stream1 or Stream4.\n"},
        // the quoted value swallows -o: the input is named "<spaced> -o x"
        {{"-f", "\"" + spaced, "-o", "x\""}, absent},
        {{"-f", spaced + "\""}, absent},
    };
    for (const Row &row : rows) {
        const RunResult result = vok(row.args);
        EXPECT_EQ(row.err, result.err) << row.args[0] << row.args[1];
        const bool validation = row.err != invalid && row.err != absent;
        EXPECT_EQ(validation ? usage() : "", result.out);
        EXPECT_EQ(1, result.exit_code);
    }
}

TEST_F(Vok, StandardOutputUnavailable)
{
    RunOptions closed;
    closed.close_stdout = true;
    const RunResult result = vok({"-f", missing}, closed);
    EXPECT_EQ("Error: Unable to write to stdout", result.err);
    EXPECT_EQ(1, result.exit_code);

    // An output file does not need standard output.
    const RunResult to_file = vok({"-f", missing, "-o", dir.file("out.txt")}, closed);
    EXPECT_EQ(0u, to_file.err.find("Error: Unable to extract fingerprint.\n"));
}

// An output file is replaced only by a run that succeeds; a failed run
// leaves the old file as it was and nothing new behind.
TEST_F(Vok, AnOutputFileIsReplacedOnlyByARunThatSucceeds)
{
    const std::string wav = dir.file("in.wav"), brief = dir.file("brief.wav");
    vok_test::write_wav(wav, 1, 2, 44100, 16,
                        vok_test::pcm16(vok_test::music(4 * 44100, 2, 44100)));
    vok_test::write_wav(brief, 1, 2, 44100, 16, vok_test::pcm16(vok_test::music(4410, 2, 44100)));
    const std::string document = vok({"-f", wav}).out;
    ASSERT_FALSE(document.empty());
    const std::string out = dir.file("fp.xml"), twin = dir.file("twin.xml");
    const Bytes yesterday(300, 'y');
    const std::string full_disk = "Error: Unable to write to output file " + out + "\n";

    struct Row {
        const char *what;
        std::string input;
        bool old_file; // an output file exists before the run
        uint64_t disk; // bytes a file may grow to; 0: no limit
        int exit_code;
    };
    const Row rows[] = {
        {"missing input", missing, true, 0, 1},
        {"too little audio", brief, true, 0, 1},
        {"a full disk", wav, true, 1000, 1},
        {"missing input, no old file", missing, false, 0, 1},
        {"success", wav, true, 0, 0},
        {"success, no old file", wav, false, 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.old_file) {
            vok_test::write_file(out, yesterday);
            ASSERT_EQ(0, chmod(out.c_str(), 0640));
            ASSERT_EQ(0, link(out.c_str(), twin.c_str()));
        }
        RunOptions options;
        options.file_size_limit = row.disk;
        const RunResult result = vok({"-f", row.input, "-o", out}, options);
        EXPECT_EQ(row.exit_code, result.exit_code);
        if (row.disk) {
            EXPECT_EQ(full_disk, result.err);
        }
        std::set<std::string> left = {"in.wav", "brief.wav"};
        if (row.exit_code == 0) {
            EXPECT_EQ(document, vok_test::read_file(out));
        } else if (row.old_file) {
            EXPECT_EQ(std::string(yesterday.begin(), yesterday.end()), vok_test::read_file(out));
        }
        if (row.old_file || row.exit_code == 0)
            left.insert("fp.xml");
        if (row.old_file) {
            // The replacement keeps the mode; it is a new file, so a hard
            // link still holds the old content.
            struct stat info;
            ASSERT_EQ(0, stat(out.c_str(), &info));
            EXPECT_EQ(0640u, info.st_mode & 07777);
            EXPECT_EQ(std::string(yesterday.begin(), yesterday.end()), vok_test::read_file(twin));
            left.insert("twin.xml");
        }
        EXPECT_EQ(left, vok_test::folder_entries(dir.path()));
        unlink(out.c_str());
        unlink(twin.c_str());
    }
}

// A symbolic link stays a link: the file it names is replaced, or created
// when the link dangles.
TEST_F(Vok, AnOutputReachedThroughALink)
{
    const std::string wav = dir.file("in.wav");
    vok_test::write_wav(wav, 1, 2, 44100, 16,
                        vok_test::pcm16(vok_test::music(4 * 44100, 2, 44100)));
    const std::string document = vok({"-f", wav}).out;
    ASSERT_EQ(0, mkdir(dir.file("real").c_str(), 0755));
    for (const bool dangling : {false, true}) {
        const std::string target = dir.file("real/fp.xml"), link_name = dir.file("fp.xml");
        if (!dangling)
            vok_test::write_file(target, Bytes(10, 'y'));
        ASSERT_EQ(0, symlink("real/fp.xml", link_name.c_str()));
        const RunResult result = vok({"-f", wav, "-o", link_name});
        EXPECT_EQ(0, result.exit_code) << result.err;
        struct stat info;
        ASSERT_EQ(0, lstat(link_name.c_str(), &info));
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        EXPECT_EQ(document, vok_test::read_file(target));
        EXPECT_EQ(std::set<std::string>{"fp.xml"}, vok_test::folder_entries(dir.file("real")));
        unlink(target.c_str());
        unlink(link_name.c_str());
    }
}

// A folder that cannot take another file: an existing writable output is
// written in place, as it must be to be written at all; a read-only one is
// refused before anything is read.
TEST_F(Vok, AnOutputInAFolderThatTakesNoNewFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run vok as another user";
    const std::string wav = dir.file("in.wav"), out = dir.file("fp.xml");
    vok_test::write_wav(wav, 1, 2, 44100, 16,
                        vok_test::pcm16(vok_test::music(4 * 44100, 2, 44100)));
    const std::string document = vok({"-f", wav}).out;
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    ASSERT_EQ(0, chmod(wav.c_str(), 0644));
    const vok_test::ReachableCopy program(VOK_PROGRAM);
    for (const mode_t mode : {0666, 0444}) {
        vok_test::write_file(out, Bytes(10, 'y'));
        ASSERT_EQ(0, chmod(out.c_str(), mode));
        const RunResult result = program.run_as_user({"-f", wav, "-o", out});
        if (mode == 0666) {
            EXPECT_EQ(0, result.exit_code) << result.err;
            EXPECT_EQ(document, vok_test::read_file(out));
        } else {
            EXPECT_EQ("Error: Unable to open output file " + out + "\n", result.err);
            EXPECT_EQ(1, result.exit_code);
            EXPECT_EQ("yyyyyyyyyy", vok_test::read_file(out));
        }
        EXPECT_EQ((std::set<std::string>{"in.wav", "fp.xml"}),
                  vok_test::folder_entries(dir.path()));
    }
}

// A run ended by SIGINT or SIGTERM while it waits for its input removes its
// unfinished output and leaves the old file as it was.
TEST_F(Vok, AnInterruptedRunLeavesTheOldOutput)
{
    const std::string fifo = dir.file("in.fifo"), out = dir.file("fp.xml");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    for (const int signal_number : {SIGINT, SIGTERM}) {
        vok_test::write_file(out, Bytes(10, 'y'));
        RunOptions options;
        options.while_running = [&](pid_t child) {
            // Holding the FIFO open without writing keeps vok waiting for
            // its header, with its output already open.
            const int writer = open(fifo.c_str(), O_WRONLY);
            for (int waited = 0; waited < 5000 && vok_test::folder_entries(dir.path()).size() < 3;
                 ++waited)
                usleep(1000);
            EXPECT_EQ(3u, vok_test::folder_entries(dir.path()).size()) << "no unfinished output";
            kill(child, signal_number);
            close(writer);
        };
        const RunResult result = vok({"-f", fifo, "-o", out}, options);
        EXPECT_EQ(signal_number, result.signal);
        EXPECT_EQ("yyyyyyyyyy", vok_test::read_file(out));
        EXPECT_EQ((std::set<std::string>{"in.fifo", "fp.xml"}),
                  vok_test::folder_entries(dir.path()));
    }
}

TEST_F(Vok, TheOutputFileMayNotBeTheInputFile)
{
    const std::string wav = dir.file("in.wav");
    const Bytes audio = vok_test::WavWriter()
                            .fmt(1, 2, 44100, 16)
                            .data(vok_test::pcm16(vok_test::music(1000, 2, 44100)))
                            .bytes();
    vok_test::write_file(wav, audio);
    ASSERT_EQ(0, link(wav.c_str(), dir.file("hard.wav").c_str()));
    ASSERT_EQ(0, symlink(wav.c_str(), dir.file("soft.wav").c_str()));
    const std::string dotted = dir.path() + "/./in.wav";
    for (const std::string &name : {wav, dotted, dir.file("hard.wav"), dir.file("soft.wav")}) {
        const RunResult result = vok({"-f", wav, "-o", name});
        EXPECT_EQ("Error: Output file is the same as the input file " + name + "\n", result.err);
        EXPECT_EQ("", result.out);
        EXPECT_EQ(1, result.exit_code);
        EXPECT_EQ(audio.size(), vok_test::read_file(wav).size()) << "the input was truncated";
    }
    // The same name that names no file yet is refused as well.
    const RunResult result = vok({"-f", missing, "-o", missing});
    EXPECT_EQ("Error: Output file is the same as the input file " + missing + "\n", result.err);
    EXPECT_EQ(1, result.exit_code);
}

TEST_F(Vok, EveryRefusalOfTheWaveInput)
{
    using vok_test::WavWriter;
    const Bytes audio(4000, 0x11);
    const std::string parse = "Error: Unable to extract fingerprint.\n Get audio type error\n";
    const std::string invalid = parse + " Error parsing WAV file: File format invalid\n";
    Bytes not_riff = WavWriter().fmt(1, 2, 44100, 16).data(audio).bytes();
    not_riff[3] = 'X';
    Bytes not_wave = WavWriter().fmt(1, 2, 44100, 16).data(audio).bytes();
    not_wave[8] = 'w';
    const Bytes fmt = vok_test::fmt_body(1, 2, 44100, 16);
    struct Row {
        const char *what;
        Bytes file;
        std::string err;
    };
    const std::vector<Row> rows = {
        {"empty", {}, invalid},
        {"not RIFF", not_riff, invalid},
        {"not WAVE", not_wave, invalid},
        {"no fmt chunk", WavWriter().chunk("LIST", Bytes(10, 1)).data(audio).bytes(), invalid},
        {"ADPCM", WavWriter().fmt(2, 2, 44100, 4).data(audio).bytes(), invalid},
        {"extensible", WavWriter().fmt(0xFFFE, 2, 44100, 16).data(audio).bytes(), invalid},
        {"fmt of 12 bytes",
         WavWriter().chunk("fmt ", Bytes(fmt.begin(), fmt.begin() + 12)).data(audio).bytes(),
         invalid},
        {"cut inside fmt", cut(WavWriter().fmt(1, 2, 44100, 16).bytes(), 12 + 8 + 10), invalid},
        {"24-bit PCM", WavWriter().fmt(1, 2, 44100, 24).data(audio).bytes(),
         parse + " Unsupported bits per sample\n"},
        {"32-bit float", WavWriter().fmt(3, 2, 44100, 32).data(audio).bytes(),
         parse + " Unknown encoding type\n"},
    };
    const std::string wav = dir.file("in.wav");
    for (const Row &row : rows) {
        vok_test::write_file(wav, row.file);
        const RunResult result = vok({"-f", wav});
        EXPECT_EQ(row.err, result.err) << row.what;
        EXPECT_EQ("", result.out) << row.what;
        EXPECT_EQ(1, result.exit_code) << row.what;
    }
}

} // namespace
