// Console: the output as written, messages on one line each naming the
// input, a failed output reported; no status line where messages do not go
// to a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/subprocess.h"
#include "vokid/cli/console.h"

namespace {


class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        out = std::tmpfile();
        err = std::tmpfile();
        ASSERT_TRUE(out && err);
    }
    void TearDown() override
    {
        std::fclose(out);
        std::fclose(err);
    }
    std::FILE *out = nullptr;
    std::FILE *err = nullptr;
};

TEST_F(ConsoleTest, OutputAndMessages)
{
    vokid::Console console(out, err);
    console.write("first\n");
    console.failure("-", "not audio in any format FFmpeg can read");
    console.write(std::string("x\0y", 3));
    console.failure("song.mp3", "no such file");
    console.message("the index holds 1 track");
    console.status("1/2 files");
    console.clearStatus();
    EXPECT_FALSE(console.errorsToTerminal());
    EXPECT_TRUE(console.finish());
    EXPECT_EQ(std::string("first\nx\0y", 9), vok_test::stream_contents(out));
    EXPECT_EQ("vokid: standard input: not audio in any format FFmpeg can read\n"
              "vokid: song.mp3: no such file\n"
              "vokid: the index holds 1 track\n",
              vok_test::stream_contents(err));
}

TEST_F(ConsoleTest, NamesOfInputs)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"-", "standard input"}, {"song.wav", "song.wav"}, {"./-", "./-"}, {"", ""}, {"--", "--"}};
    for (const auto &[name, shown] : rows)
        EXPECT_EQ(shown, vokid::displayName(name)) << name;
}

// An output that cannot take what was written (a full disk) is reported
// once, and finish() says so.
TEST_F(ConsoleTest, AnOutputThatCannotBeWritten)
{
    std::FILE *full = std::fopen("/dev/full", "w");
    if (!full)
        GTEST_SKIP() << "no /dev/full here";
    vokid::Console console(full, err);
    console.write(std::string(100000, 'x'));
    EXPECT_FALSE(console.finish());
    std::fclose(full);
    EXPECT_EQ("vokid: cannot write the output: No space left on device\n", vok_test::stream_contents(err));
}

} // namespace
