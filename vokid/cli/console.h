// Where vokid writes: its output and its one-line messages, each message
// naming the input and the cause.
#ifndef VOKID_CLI_CONSOLE_H
#define VOKID_CLI_CONSOLE_H

#include <cstdio>
#include <string>

namespace vokid {

class Console {
public:
    Console(std::FILE *output, std::FILE *errors) : out(output), err(errors) {}

    void write(const std::string &text);
    // Sends what was written on at once (a live monitor's lines).
    void flush() { std::fflush(out); }
    // "vokid: NAME: CAUSE" ("-" is called standard input).
    void failure(const std::string &name, const std::string &cause);
    // "vokid: TEXT".
    void message(const std::string &text);
    // Flushes the output; false (with a message) when it could not all be
    // written.
    bool finish();

    // Whether messages go to a terminal, where a status line can be shown.
    bool errorsToTerminal() const;
    // The status line ("12/340 files, ..."), rewritten in place; messages
    // clear it first. Nothing when the messages do not go to a terminal.
    void status(const std::string &line);
    void clearStatus();

private:
    std::FILE *out;
    std::FILE *err;
    bool statusShown = false;
    int writeCause = 0; // errno of the first write that failed
};

// How an input is called in messages (a URI without its password).
std::string displayName(const std::string &name);

} // namespace vokid

#endif
