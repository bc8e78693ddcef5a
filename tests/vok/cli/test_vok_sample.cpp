// The built program on the bundled sample, and on a reader that goes away.
//
// The sample's fingerprints are pinned: stored fingerprints are matched
// against new ones, so any change to what vok computes must be deliberate
// (regenerate the files in tests/cli/golden with build/vok when it is).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/subprocess.h"
#include "tests/support/wav_writer.h"

namespace {

const std::string kSample = std::string(VOK_SOURCE_DIR) + "/data/sample.wav";
const std::string kGolden = std::string(VOK_SOURCE_DIR) + "/tests/vok/cli/golden/sample.";

vok_test::RunResult vok(const std::vector<std::string> &args)
{
    return vok_test::run_program(VOK_PROGRAM, args);
}

std::vector<int> spectral_values(const std::string &document)
{
    const std::string open =
        "<FP_BLOCK TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">";
    const size_t at = document.find(open);
    std::vector<int> values;
    if (at == std::string::npos)
        return values;
    std::istringstream numbers(document.substr(at + open.size()));
    for (int value; numbers >> value;)
        values.push_back(value);
    return values;
}

TEST(VokSample, EveryAlgorithmGivesItsPinnedFingerprint)
{
    for (const char *algorithm : {"Stream1", "Stream4", "FileFixed", "FileFloat"}) {
        const vok_test::RunResult result = vok({"-a", algorithm, "-f", kSample});
        EXPECT_EQ("", result.err) << algorithm;
        EXPECT_EQ(0, result.exit_code) << algorithm;
        EXPECT_EQ(vok_test::read_file(kGolden + algorithm + ".xml"), result.out) << algorithm;
    }
    // The whole file in continuous mode is the same single document.
    EXPECT_EQ(vok_test::read_file(kGolden + "Stream1.xml"), vok({"-c", "-f", kSample}).out);
}

TEST(VokSample, BothSpectralArithmeticsDescribeTheSameShape)
{
    const std::vector<int> fixed = spectral_values(vok({"-a", "FileFixed", "-f", kSample}).out);
    const std::vector<int> floating = spectral_values(vok({"-a", "FileFloat", "-f", kSample}).out);
    ASSERT_EQ(30u, fixed.size());
    ASSERT_EQ(30u, floating.size());
    int level_sum = 0, spread_sum = 0;
    for (size_t i = 0; i < 30; ++i) {
        EXPECT_NEAR(floating[i], fixed[i], 328) << "value " << i; // 1% of full scale
        (i < 15 ? level_sum : spread_sum) += floating[i];
    }
    // Shares of 32768, truncated: each half sums to just under full scale.
    EXPECT_LE(level_sum, 32768);
    EXPECT_GE(level_sum, 32768 - 15);
    EXPECT_LE(spread_sum, 32768);
    EXPECT_GE(spread_sum, 32768 - 15);
}

TEST(VokSample, AReaderThatClosesThePipeEndsTheRunQuietly)
{
    int out[2], err[2];
    ASSERT_EQ(0, pipe(out));
    ASSERT_EQ(0, pipe(err));
    close(out[0]); // nobody will read the fingerprint
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(err[0]);
        // vok restores the pipe signal itself, whatever it inherits.
        std::signal(SIGPIPE, SIG_IGN);
        execl(VOK_PROGRAM, VOK_PROGRAM, "-f", kSample.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    std::string messages;
    char buffer[256];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
        messages.append(buffer, static_cast<size_t>(n));
    close(err[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ("", messages);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGPIPE, WTERMSIG(status));
}

} // namespace
