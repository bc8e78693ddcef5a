// vok: extracts an audio fingerprint from a WAVE file.
#include <csignal>
#include <cstdio>

#include "cli/vok_program.h"

int main(int argc, char **argv)
{
    // A reader that closes the pipe ends vok at its next write, quietly, as
    // it ends any command-line tool, whatever disposition the parent left.
    std::signal(SIGPIPE, SIG_DFL);
    return Zuvanti::runProgram(argc, argv, stdout, stderr);
}
