// Fuzzes the whole program in-process: option parsing, validation, the
// output destination, the extraction over a few small WAVE files and the
// exit code, through Zuvanti::runProgram on argument vectors built from the
// input (known options, values and file names, and arbitrary strings).
//
// File names are confined to a scratch folder: the process works inside
// it, and no argument may hold a '/', so every -f and -o names a file
// there. The inputs are put back after a run that overwrote one (-o may
// name them) and any other file a run created is removed.
//
// Layout of an input: the argument count and the choice of each argument
// are integers, consumed from the end; arbitrary strings come from the
// front.
#include <fuzzer/FuzzedDataProvider.h>

#include <dirent.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/vok_program.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Input {
    const char *name;
    Bytes bytes;
};

std::string scratch;
std::vector<Input> inputs;
std::FILE *standard_output = nullptr;
std::FILE *standard_error = nullptr;

// The options, the values they know, the inputs, and the tokens that open
// and close quoted values.
const char *const kTokens[] = {
    "-help",     "-f",        "-a",         "-n",      "-o",          "-c",    "-om",
    "FileFixed", "FileFloat", "Stream1",    "Stream4", "zuserver",    "s.wav", "l.wav",
    "t.wav",     "k.wav",     "w.wav",      "out.xml", "missing.wav", "\"",    "\"\"",
    "\"s.wav",   "x\"",       "",           "0",       "1",           "3",     "-1",
    "3x",        " 7",        "2147483648", ".",       "..",          "-x",    "-F"};
constexpr size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

[[noreturn]] void fail(const char *what, int code)
{
    std::fprintf(stderr, "program check failed: %s (%d)\n", what, code);
    std::abort();
}

void put16(Bytes &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(Bytes &out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A WAVE file: fmt chunk then one data chunk of the given samples; the
// data chunk's size field may claim more than follows.
Bytes wave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &data,
           uint32_t extra_claimed = 0)
{
    Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    put32(out, 16);
    put16(out, tag);
    put16(out, channels);
    put32(out, rate);
    put32(out, rate * channels * bits / 8);
    put16(out, static_cast<uint16_t>(channels * bits / 8));
    put16(out, bits);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, static_cast<uint32_t>(data.size()) + extra_claimed);
    out.insert(out.end(), data.begin(), data.end());
    const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return out;
}

// 8-bit samples of a changing chord: neither silent nor flat, so that both
// algorithm families produce fingerprints. bytes_per_sample 2 gives 16-bit.
Bytes signal(uint32_t samples, uint32_t rate, int bytes_per_sample)
{
    Bytes out;
    for (uint32_t n = 0; n < samples; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double f = 180.0 + 40.0 * (static_cast<int>(t * 3) % 5);
        const double w = 6.2831853 * f * t;
        const double v = 0.5 * std::sin(w) + 0.3 * std::sin(2.7 * w);
        if (bytes_per_sample == 1) {
            out.push_back(static_cast<uint8_t>(128 + std::lround(v * 120)));
        } else {
            put16(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 30000))));
        }
    }
    return out;
}

void write_bytes(const char *name, const Bytes &bytes)
{
    std::FILE *file = std::fopen(name, "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0)
        fail("cannot write a scratch input", 0);
}

bool same_contents(const char *name, const Bytes &bytes)
{
    std::FILE *file = std::fopen(name, "rb");
    if (!file)
        return false;
    Bytes read(bytes.size() + 1);
    const size_t got = std::fread(read.data(), 1, read.size(), file);
    std::fclose(file);
    return got == bytes.size() && std::memcmp(read.data(), bytes.data(), got) == 0;
}

bool is_input(const char *name)
{
    for (const Input &input : inputs)
        if (std::strcmp(name, input.name) == 0)
            return true;
    return false;
}

// Back to the scratch folder as it was: the inputs intact, nothing else.
void restore_scratch()
{
    DIR *folder = opendir(".");
    if (!folder)
        fail("cannot list the scratch folder", 0);
    std::vector<std::string> strays;
    while (const dirent *entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
            !is_input(entry->d_name))
            strays.push_back(entry->d_name);
    }
    closedir(folder);
    for (const std::string &stray : strays)
        if (std::remove(stray.c_str()) != 0)
            fail("cannot remove a file the program wrote", 0);
    for (const Input &input : inputs)
        if (!same_contents(input.name, input.bytes))
            write_bytes(input.name, input.bytes);
}

void reset(std::FILE *stream)
{
    std::fflush(stream);
    if (ftruncate(fileno(stream), 0) != 0)
        fail("cannot empty a capture file", 0);
    std::rewind(stream);
}

std::string contents(std::FILE *stream)
{
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        text.append(chunk, got);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/vok-fuzz-cli-XXXXXX";
    if (!mkdtemp(pattern.data()))
        fail("cannot create the scratch folder", 0);
    scratch = pattern;
    if (chdir(scratch.c_str()) != 0)
        fail("cannot enter the scratch folder", 0);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    });

    // Standard output and error of the runs: files outside the scratch
    // folder, emptied before every run.
    standard_output = std::tmpfile();
    standard_error = std::tmpfile();
    if (!standard_output || !standard_error)
        fail("cannot create the capture files", 0);

    // s: a streaming fingerprint's worth (4 s), too short for the spectral
    // one; l: long enough for every algorithm (15 s); t: far too short;
    // k: its data chunk claims more than the file holds; w: 24-bit PCM.
    inputs = {
        {"s.wav", wave(1, 1, 8000, 8, signal(32000, 8000, 1))},
        {"l.wav", wave(7, 1, 8000, 8, signal(120000, 8000, 1))},
        {"t.wav", wave(1, 2, 44100, 16, signal(2000, 44100, 2))},
        {"k.wav", wave(1, 1, 11025, 8, signal(40000, 11025, 1), 5000)},
        {"w.wav", wave(1, 1, 8000, 24, Bytes(300, 1))},
    };
    for (const Input &input : inputs)
        write_bytes(input.name, input.bytes);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::vector<std::string> args = {"vok"};
    for (int n = in.ConsumeIntegralInRange<int>(0, 10); n > 0; --n) {
        const size_t choice = in.ConsumeIntegralInRange<size_t>(0, kTokenCount);
        std::string arg = choice < kTokenCount ? kTokens[choice] : in.ConsumeRandomLengthString(24);
        arg.resize(std::strlen(arg.c_str())); // argv ends a string at its first NUL
        for (char &c : arg)
            if (c == '/')
                c = '_'; // no way out of the scratch folder
        args.push_back(arg);
    }
    std::vector<const char *> argv;
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);

    reset(standard_output);
    reset(standard_error);
    const int code = Zuvanti::runProgram(static_cast<int>(args.size()), argv.data(),
                                         standard_output, standard_error);
    if (code != 0 && code != 1)
        fail("exit code other than 0 or 1", code);
    const std::string errors = contents(standard_error);
    if (code == 1 && errors.compare(0, 7, "Error: ") != 0)
        fail("failure without a message", code);
    if (code == 0 && !errors.empty())
        fail("message on a successful run", code);
    const std::string output = contents(standard_output);
    if (code == 0 && output.empty() && errors.empty()) {
        // Success writes a fingerprint or the usage text, unless the output
        // went to a file.
        bool to_file = false;
        for (size_t i = 1; i + 1 < args.size(); ++i)
            to_file = to_file || args[i] == "-o";
        if (!to_file)
            fail("success with nothing written", code);
    }
    restore_scratch();
    return 0;
}
