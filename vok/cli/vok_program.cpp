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
#include "cli/output_file.h"
#include "cli/run_extraction.h"
#include "cli/usage.h"
#include "driver/algorithm_flags.h"

namespace Zuvanti {

namespace {

// What the command line asks for, once validated.
struct Settings {
    AlgorithmFlags flags = 0;
    int32_t blocks = 2;
    std::string input;
    std::string outputMode;
    std::string outputName; // empty: standard output
};

// One run of the program: parse, validate, open the output, extract,
// finish. Each step answers false when the run ends there, with the exit
// code set.
class Program {
public:
    Program(std::FILE *standardOutput, std::FILE *standardError)
        : out(standardOutput), err(standardError)
    {
    }
    int Run(int argc, const char *const *argv);

private:
    bool Parse(int argc, const char *const *argv);
    bool Validate();
    bool ChooseAlgorithm();
    bool ReadBlockCount();
    bool ReadInput();
    bool ReadOutputMode();
    bool ReadOutputName();
    bool OpenOutput();
    int Finish(int code, int writeError);

    // One message line on standard error, flushed before anything else is written.
    void Message(const std::string &line)
    {
        std::fputs(line.c_str(), err);
        std::fputc('\n', err);
        std::fflush(err);
    }
    bool Stop(int code)
    {
        exitCode = code;
        return false;
    }
    bool ErrorWithUsage(const std::string &line)
    {
        Message(line);
        printUsage(out);
        return Stop(1);
    }
    bool Given(const char *identifier) { return parser->getValues(identifier, values); }
    std::FILE *Output() const { return file ? file->Stream() : out; }

    std::FILE *out;
    std::FILE *err;
    std::unique_ptr<InputParser> parser;
    std::vector<std::string> values;
    Settings settings;
    std::unique_ptr<OutputFile> file;
    int exitCode = 0;
};

// True when the two names are one file: the same name, or the same file
// reached through another path or a link.
bool SameFile(const std::string &first, const std::string &second)
{
    if (first == second)
        return true;
    struct stat a, b;
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
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
    if (!Parse(argc, argv) || !Validate() || !OpenOutput())
        return exitCode;
    int writeError = 0;
    const int code = runExtraction(settings.input, Output(), settings.blocks, settings.flags,
                                   settings.outputMode, err, &writeError);
    return Finish(code, writeError);
}

bool Program::Parse(int argc, const char *const *argv)
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
        return Stop(1);
    }
    return true;
}

// The checks run in this order, and the first that fails ends the run.
bool Program::Validate()
{
    if (Given("-help")) {
        printUsage(out);
        return Stop(0);
    }
    if (Given("-c"))
        settings.flags |= Continuous;
    return ChooseAlgorithm() && ReadBlockCount() && ReadInput() && ReadOutputMode() &&
           ReadOutputName();
}

bool Program::ChooseAlgorithm()
{
    if (!Given("-a")) {
        settings.flags |= Stream1;
        return true;
    }
    if (values.empty())
        return ErrorWithUsage("Error: Algorithm not correctly specified");
    const std::string &name = values[0];
    if (name == "FileFixed")
        settings.flags |= FileFixed;
    else if (name == "FileFloat")
        settings.flags |= FileFloat;
    else if (name == "Stream1")
        settings.flags |= Stream1;
    else if (name == "Stream4")
        settings.flags |= Stream4;
    else
        return ErrorWithUsage("Error: Unknown algorithm specified '" + name + "'");
    if ((settings.flags & Continuous) && (settings.flags & (FileFixed | FileFloat)))
        return ErrorWithUsage(
            "Error: Continuous mode only valid when algorithm is Stream1 or Stream4.");
    return true;
}

bool Program::ReadBlockCount()
{
    if (!Given("-n"))
        return true;
    if (values.empty())
        return ErrorWithUsage("Error: Number of fingerprint blocks not correctly specified");
    // Leading white space and a sign are accepted; reading stops at the
    // first character that cannot continue the number.
    std::istringstream number(values[0]);
    if (!(number >> settings.blocks))
        return ErrorWithUsage("Error: Number of fingerprint blocks must be an integer");
    return true;
}

bool Program::ReadInput()
{
    if (!Given("-f") || values.empty() || values[0].empty())
        return ErrorWithUsage("Error: No input file specified");
    settings.input = values[0];
    return true;
}

bool Program::ReadOutputMode()
{
    if (!Given("-om"))
        return true;
    if (values.empty())
        return ErrorWithUsage("Error: Output mode property not specified.");
    settings.outputMode = values[0];
    return true;
}

bool Program::ReadOutputName()
{
    if (!Given("-o"))
        return true;
    if (values.empty() || values[0].empty())
        return ErrorWithUsage("Error: Ouput file not properly specified");
    settings.outputName = values[0];
    return true;
}

// The output is opened before the input is read, so that a destination
// that cannot take the fingerprints costs no extraction.
bool Program::OpenOutput()
{
    const std::string &name = settings.outputName;
    if (name.empty()) {
        if (Writable(out))
            return true;
        std::fputs("Error: Unable to write to stdout", err);
        std::fflush(err);
        return Stop(1);
    }
    if (SameFile(name, settings.input)) {
        Message("Error: Output file is the same as the input file " + name);
        return Stop(1);
    }
    file.reset(new OutputFile(name));
    if (!file->Stream()) {
        Message("Error: Unable to open output file " + name);
        return Stop(1);
    }
    return true;
}

// A fingerprint that never reached its destination (a full disk, a broken
// device) is a failure, not a success. An output file takes the place of
// the old one only when the run succeeded.
int Program::Finish(int code, int writeError)
{
    bool lost = false;
    if (file) {
        if (code == 0) {
            lost = !file->Commit();
            if (lost && writeError == 0)
                writeError = errno;
        }
        file->Abandon();
    } else {
        errno = 0;
        lost = std::fflush(out) != 0 || std::ferror(out) != 0;
        if (lost && writeError == 0)
            writeError = errno;
    }
    if (!lost || code != 0)
        return code;
    // A reader that stopped reading (vok ... | head) ends the run quietly,
    // as it would end any command-line tool.
    if (writeError != EPIPE)
        Message(file ? "Error: Unable to write to output file " + settings.outputName
                     : std::string("Error: Unable to write to stdout"));
    return 1;
}

} // namespace

int runProgram(int argc, const char *const *argv, std::FILE *standardOutput,
               std::FILE *standardError)
{
    Program program(standardOutput, standardError);
    return program.Run(argc, argv);
}

} // namespace Zuvanti
