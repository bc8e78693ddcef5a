// `vokid serve` as a child process on a free loopback port: started with
// the options a test gives, its URL read from its first line, stopped
// (SIGTERM, then SIGKILL after a bound) when the object goes, whatever the
// test's outcome.
#ifndef VOK_TESTS_VOKID_SERVER_SERVED_INDEX_H
#define VOK_TESTS_VOKID_SERVER_SERVED_INDEX_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vokid_test {

class ServedIndex {
public:
    // Runs VOKID serve DB --listen 127.0.0.1:0 OPTIONS...; started() tells
    // whether it printed its URL within 30 s.
    ServedIndex(const std::string &db, const std::vector<std::string> &options = {});
    ~ServedIndex();
    ServedIndex(const ServedIndex &) = delete;
    ServedIndex &operator=(const ServedIndex &) = delete;

    bool started() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    const std::string &firstLine() const { return line; }
    pid_t pid() const { return child; }

    // Sends `signal` and waits up to `seconds` for the exit; returns the
    // exit status (-1 when it did not exit normally or in time).
    int stop(int signal, double seconds = 20);
    // Everything it wrote on standard error so far.
    std::string log() const;

private:
    pid_t child = -1;
    uint16_t port_ = 0;
    std::string line;
    std::string errorFile;
    bool ended = false;
};

} // namespace vokid_test

#endif
