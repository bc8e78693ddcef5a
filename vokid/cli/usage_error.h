// A command line that asks for something vokid cannot do (exit code 2).
#ifndef VOKID_CLI_USAGE_ERROR_H
#define VOKID_CLI_USAGE_ERROR_H

#include <stdexcept>

namespace vokid {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace vokid

#endif
