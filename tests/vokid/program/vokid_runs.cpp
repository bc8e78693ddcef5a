#include "tests/vokid/program/vokid_runs.h"

#include <sstream>

#include <gtest/gtest.h>

namespace vokid_test {

vok_test::RunResult vokid(const std::vector<std::string> &args)
{
    return vok_test::run_program(VOKID_PROGRAM, args);
}

vok_test::RunResult vok(const std::vector<std::string> &args)
{
    return vok_test::run_program(VOK_PROGRAM, args);
}

vok_test::RunResult shell(const std::string &command)
{
    return vok_test::run_program(
        "/bin/sh", {"-c", "VOKID='" VOKID_PROGRAM "' VOK='" VOK_PROGRAM "'; " + command});
}

bool haveFfmpeg()
{
    static const bool found = shell("ffmpeg -version > /dev/null 2>&1").exit_code == 0;
    return found;
}

void ffmpeg(const std::string &input, const std::vector<std::string> &options,
            const std::string &output)
{
    std::vector<std::string> args = {"-nostdin", "-hide_banner", "-loglevel", "error",
                                     "-y",       "-i",           input};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(output);
    const vok_test::RunResult run = vok_test::run_program("/usr/bin/env", [&] {
        std::vector<std::string> all = {"ffmpeg"};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }());
    ASSERT_EQ(0, run.exit_code) << "ffmpeg failed for " << output << ": " << run.err;
}

nlohmann::json jsonOf(const vok_test::RunResult &run)
{
    EXPECT_EQ(0, run.exit_code) << run.err;
    try {
        return nlohmann::json::parse(run.out);
    } catch (const nlohmann::json::exception &error) {
        ADD_FAILURE() << "not JSON (" << error.what() << "): " << run.out.substr(0, 300);
        return nlohmann::json();
    }
}

std::vector<nlohmann::json> jsonLines(const std::string &text)
{
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(nlohmann::json::parse(line));
    return lines;
}

std::vector<nlohmann::json> jsonLines(const vok_test::RunResult &run)
{
    EXPECT_EQ(0, run.exit_code) << run.err;
    return jsonLines(run.out);
}

} // namespace vokid_test
