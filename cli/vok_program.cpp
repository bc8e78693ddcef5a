#include "cli/vok_program.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/input_parser.h"
#include "cli/run_extraction.h"
#include "cli/usage.h"
#include "driver/algorithm_flags.h"

namespace Zuvanti {

namespace {

class Program {
public:
    Program(std::FILE *out, std::FILE *err) : out(out), err(err) {}
    int Run(int argc, const char *const *argv);

private:
    // One message line on standard error, flushed before anything else is written.
    void Message(const std::string &line)
    {
        std::fputs(line.c_str(), err);
        std::fputc('\n', err);
        std::fflush(err);
    }
    int ErrorWithUsage(const std::string &line)
    {
        Message(line);
        printUsage(out);
        return 1;
    }
    bool Given(const char *identifier) { return parser->getValues(identifier, values); }

    std::FILE *out;
    std::FILE *err;
    std::unique_ptr<InputParser> parser;
    std::vector<std::string> values;
};

// True when the two names are one file: the same name, or the same file
// reached through another path or a link.
bool SameFile(const std::string &first, const std::string &second)
{
    if (first == second)
        return true;
    struct stat a, b;
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Standard output can take the fingerprints only when its descriptor is
// open for writing.
bool Writable(std::FILE *stream)
{
    const int descriptor = fileno(stream);
    if (descriptor < 0)
        return false;
    const int mode = fcntl(descriptor, F_GETFL);
    return mode != -1 && (mode & O_ACCMODE) != O_RDONLY;
}

int Program::Run(int argc, const char *const *argv)
{
    if (argc <= 1 || !argv)
        return ErrorWithUsage("Error: No arguments provided");

    try {
        parser.reset(new InputParser(argc, argv));
    } catch (GetInputsException *caught) {
        const std::unique_ptr<GetInputsException> owned(caught);
        Message("Error: Unable to parse inputs");
        Message(owned->Message());
        printUsage(out);
        return 1;
    }

    if (Given("-help")) {
        printUsage(out);
        return 0;
    }

    AlgorithmFlags flags = 0;
    if (Given("-c"))
        flags |= Continuous;

    if (!Given("-a")) {
        flags |= Stream1;
    } else {
        if (values.empty())
            return ErrorWithUsage("Error: Algorithm not correctly specified");
        const std::string &name = values[0];
        if (name == "FileFixed")
            flags |= FileFixed;
        else if (name == "FileFloat")
            flags |= FileFloat;
        else if (name == "Stream1")
            flags |= Stream1;
        else if (name == "Stream4")
            flags |= Stream4;
        else
            return ErrorWithUsage("Error: Unknown algorithm specified '" + name + "'");
        if ((flags & Continuous) && (flags & (FileFixed | FileFloat)))
            return ErrorWithUsage(
                "Error: Continuous mode only valid when algorithm is Stream1 or Stream4.");
    }

    int32_t blocks = 2;
    if (Given("-n")) {
        if (values.empty())
            return ErrorWithUsage("Error: Number of fingerprint blocks not correctly specified");
        // Leading white space and a sign are accepted; reading stops at the
        // first character that cannot continue the number.
        std::istringstream number(values[0]);
        if (!(number >> blocks))
            return ErrorWithUsage("Error: Number of fingerprint blocks must be an integer");
    }

    if (!Given("-f") || values.empty() || values[0].empty())
        return ErrorWithUsage("Error: No input file specified");
    const std::string input = values[0];

    std::string outputMode;
    if (Given("-om")) {
        if (values.empty())
            return ErrorWithUsage("Error: Output mode property not specified.");
        outputMode = values[0];
    }

    std::FILE *output = out;
    bool ownOutput = false;
    std::string outputName;
    if (Given("-o")) {
        if (values.empty() || values[0].empty())
            return ErrorWithUsage("Error: Ouput file not properly specified");
        const std::string &name = values[0];
        // Opening the output truncates it: never let that destroy the input.
        if (SameFile(name, input)) {
            Message("Error: Output file is the same as the input file " + name);
            return 1;
        }
        output = std::fopen(name.c_str(), "w");
        if (!output) {
            Message("Error: Unable to open output file " + name);
            return 1;
        }
        ownOutput = true;
        outputName = name;
    } else if (!Writable(out)) {
        std::fputs("Error: Unable to write to stdout", err);
        std::fflush(err);
        return 1;
    }

    int writeError = 0;
    int code = runExtraction(input, output, blocks, flags, outputMode, err, &writeError);
    // A fingerprint that never reached its destination (a full disk, a
    // broken device) is a failure, not a success.
    errno = 0;
    bool lost = std::fflush(output) != 0 || std::ferror(output) != 0;
    if (lost && writeError == 0)
        writeError = errno;
    if (ownOutput && std::fclose(output) != 0 && !lost) {
        lost = true;
        writeError = errno;
    }
    if (lost && code == 0) {
        // A reader that stopped reading (vok ... | head) ends the run
        // quietly, as it would end any command-line tool.
        if (writeError != EPIPE)
            Message(ownOutput ? "Error: Unable to write to output file " + outputName
                              : std::string("Error: Unable to write to stdout"));
        code = 1;
    }
    return code;
}

} // namespace

int runProgram(int argc, const char *const *argv, std::FILE *standardOutput,
               std::FILE *standardError)
{
    Program program(standardOutput, standardError);
    return program.Run(argc, argv);
}

} // namespace Zuvanti
