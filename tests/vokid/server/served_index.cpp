#include "tests/vokid/server/served_index.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace vokid_test {

namespace {

using Clock = std::chrono::steady_clock;

// The first line a descriptor delivers, waiting at most 30 s.
std::string firstLineOf(int fd)
{
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    std::string text;
    while (text.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, 200) <= 0)
            continue;
        char chunk[256];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text.substr(0, text.find('\n'));
}

} // namespace

ServedIndex::ServedIndex(const std::string &db, const std::vector<std::string> &options)
{
    char pattern[] = "/tmp/vokid-serve-log-XXXXXX";
    const int errors = mkstemp(pattern);
    errorFile = pattern;
    int out[2];
    if (errors < 0 || pipe2(out, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> args = {VOKID_PROGRAM, "serve", db, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), options.begin(), options.end());
    // Made before the fork: the child of a threaded process may not allocate.
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(errors, 2);
        const int none = open("/dev/null", O_RDONLY);
        dup2(none, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(errors);
    line = firstLineOf(out[0]);
    close(out[0]);
    static const std::string prefix = "listening on http://127.0.0.1:";
    if (line.compare(0, prefix.size(), prefix) == 0)
        port_ = static_cast<uint16_t>(std::atoi(line.c_str() + prefix.size()));
}

ServedIndex::~ServedIndex()
{
    if (child > 0 && !ended && stop(SIGTERM) < 0 && !ended)
        stop(SIGKILL);
    std::remove(errorFile.c_str());
}

int ServedIndex::stop(int signal, double seconds)
{
    if (child <= 0 || ended)
        return -1;
    kill(child, signal);
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    int status = 0;
    while (Clock::now() < deadline) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            ended = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (signal != SIGKILL) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ended = true;
    }
    return -1;
}

std::string ServedIndex::log() const
{
    std::ifstream in(errorFile);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace vokid_test
