#include "vokid/cli/console.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "vokid/cli/json_text.h"
#include "vokid/index/open_store.h"

namespace vokid {

std::string displayName(const std::string &name)
{
    // An index's location is named without its password.
    return name == "-" ? "standard input" : shownLocation(name);
}

void Console::write(const std::string &text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() && writeCause == 0)
        writeCause = errno;
}

void Console::failure(const std::string &name, const std::string &cause)
{
    message(shownText(displayName(name)) + ": " + cause);
}

void Console::message(const std::string &text)
{
    clearStatus();
    // The output so far goes first, so that a terminal shows both in order.
    std::fflush(out);
    std::fputs(("vokid: " + text + "\n").c_str(), err);
    std::fflush(err);
}

bool Console::finish()
{
    errno = 0;
    if (std::fflush(out) == 0 && !std::ferror(out))
        return true;
    // A write that failed while buffering (a full disk) set the stream's
    // error before this flush; its cause was kept then.
    const int cause = errno ? errno : writeCause;
    message(std::string("cannot write the output: ") +
            (cause ? std::strerror(cause) : "write error"));
    return false;
}

bool Console::errorsToTerminal() const
{
    return isatty(fileno(err)) == 1;
}

void Console::status(const std::string &line)
{
    if (!errorsToTerminal())
        return;
    // Back to the start of the line, the text, the rest of the line erased.
    std::fputs(("\r" + line + "\033[K").c_str(), err);
    std::fflush(err);
    statusShown = true;
}

void Console::clearStatus()
{
    if (!statusShown)
        return;
    std::fputs("\r\033[K", err);
    std::fflush(err);
    statusShown = false;
}

} // namespace vokid
