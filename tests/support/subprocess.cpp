#include "tests/support/subprocess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace vok_test {

namespace {

// The child reports a failed set-up or exec through these exit codes.
constexpr int kExecFailed = 127;
constexpr int kSetupFailed = 126;


// In the child: sets up its descriptors, folder, user and limits, then
// runs the program; never returns.
[[noreturn]] void exec_child(const std::string &program, std::vector<char *> &argv,
                             const RunOptions &options, std::FILE *out, std::FILE *err)
{
    const int null_in = open("/dev/null", O_RDONLY);
    if (null_in < 0 || dup2(null_in, 0) < 0 || dup2(fileno(err), 2) < 0)
        _exit(kSetupFailed);
    if (options.close_stdout) {
        close(1);
    } else if (dup2(fileno(out), 1) < 0) {
        _exit(kSetupFailed);
    }
    if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0)
        _exit(kSetupFailed);
    if (options.as_user &&
        (setgroups(0, nullptr) != 0 || setgid(options.gid) != 0 || setuid(options.uid) != 0))
        _exit(kSetupFailed);
    if (options.file_size_limit) {
        const struct rlimit limit = {options.file_size_limit, options.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || signal(SIGXFSZ, SIG_IGN) == SIG_ERR)
            _exit(kSetupFailed);
    }
    execv(program.c_str(), argv.data());
    _exit(kExecFailed);
}

// Polls for the child's end so that one that hangs can be killed after
// timeout_seconds (0 waits for ever); the wait status.
int wait_for(pid_t child, unsigned timeout_seconds, bool &timed_out)
{
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    for (;;) {
        const pid_t ended = waitpid(child, &status, timeout_seconds ? WNOHANG : 0);
        if (ended == child)
            return status;
        if (ended < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (ended == 0 && std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            timed_out = true;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return status;
        }
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

} // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options)
{
    // Files rather than pipes: the child never blocks on a full pipe.
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    if (!out || !err)
        throw std::runtime_error("cannot create capture files");

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0)
        exec_child(program, argv, options, out, err);

    if (options.while_running)
        options.while_running(child);
    RunResult result;
    const int status = wait_for(child, options.timeout_seconds, result.timed_out);
    result.out = stream_contents(out);
    result.err = stream_contents(err);
    std::fclose(out);
    std::fclose(err);
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
        result.exec_failed = result.exit_code == kExecFailed || result.exit_code == kSetupFailed;
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string stream_contents(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    return text;
}

} // namespace vok_test
