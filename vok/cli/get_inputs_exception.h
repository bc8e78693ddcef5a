// A command-line syntax error found by the option parser. Created with new
// and thrown as a pointer; the entry point prints its message.
#ifndef VOK_CLI_GET_INPUTS_EXCEPTION_H
#define VOK_CLI_GET_INPUTS_EXCEPTION_H

#include <string>
#include <utility>

namespace Zuvanti {

class GetInputsException {
public:
    explicit GetInputsException(std::string text) : message(std::move(text)) {}
    const std::string &Message() const { return message; }

private:
    std::string message;
};

} // namespace Zuvanti

#endif
