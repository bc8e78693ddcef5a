// vokid: fingerprints of any audio, read back, compared.
#include <csignal>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#include "vokid/cli/vokid_app.h"

int main(int argc, char **argv)
{
    // A reader that closes the pipe ends vokid at its next write, quietly.
    std::signal(SIGPIPE, SIG_DFL);
    // Failures reach the user as one line each, in vokid's own words.
    av_log_set_level(AV_LOG_QUIET);
    return vokid::runVokid(argc, argv, stdout, stderr);
}
