// The built vokid, vok and ffmpeg run as child processes, for the program
// tests.
#ifndef VOK_TESTS_VOKID_PROGRAM_VOKID_RUNS_H
#define VOK_TESTS_VOKID_PROGRAM_VOKID_RUNS_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/subprocess.h"

namespace vokid_test {

vok_test::RunResult vokid(const std::vector<std::string> &args);
vok_test::RunResult vok(const std::vector<std::string> &args);
// A shell command line, for pipes; VOKID and VOK name the programs.
vok_test::RunResult shell(const std::string &command);

// True when the ffmpeg program can be run (the tests that need it to
// encode their inputs skip otherwise).
bool haveFfmpeg();
// Converts `input` to `output` with ffmpeg and these output options.
void ffmpeg(const std::string &input, const std::vector<std::string> &options,
            const std::string &output);

// The JSON on standard output of a run that must succeed.
nlohmann::json jsonOf(const vok_test::RunResult &run);
// One JSON value per line of a text (empty lines left out), and of the
// standard output of a run that must succeed.
std::vector<nlohmann::json> jsonLines(const std::string &text);
std::vector<nlohmann::json> jsonLines(const vok_test::RunResult &run);

} // namespace vokid_test

#endif
