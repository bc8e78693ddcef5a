// Runs a program as a child process and captures what it writes.
#ifndef VOK_TESTS_SUPPORT_SUBPROCESS_H
#define VOK_TESTS_SUPPORT_SUBPROCESS_H

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vok_test {

struct RunOptions {
    bool close_stdout = false; // start the child with descriptor 1 closed
    bool as_user = false;      // drop to uid/gid before exec (the caller must be root)
    uid_t uid = 65534;
    gid_t gid = 65534;
    std::string working_directory; // the child's current folder; empty: the caller's
    // The child is killed (SIGKILL) when it has not ended after this many
    // seconds; 0 waits for ever.
    unsigned timeout_seconds = 120;
    // Writes that would grow a file past this many bytes fail, as on a full
    // disk (RLIMIT_FSIZE, with SIGXFSZ ignored); 0 sets no limit.
    uint64_t file_size_limit = 0;
    // Called in the parent once the child has started, while it runs.
    std::function<void(pid_t)> while_running;
};

struct RunResult {
    std::string out;
    std::string err;
    int exit_code = -1;     // -1 when the child did not exit normally
    int signal = 0;         // the signal that ended the child, 0 when it exited
    bool timed_out = false; // killed after RunOptions::timeout_seconds
    bool exec_failed = false;
};

// Everything written to a file stream, from its start (it stays open).
std::string stream_contents(std::FILE *file);

// Runs program with the given arguments (argv[0] is the program's path);
// standard input is /dev/null.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options = RunOptions());

} // namespace vok_test

#endif
