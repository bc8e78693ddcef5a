// The command-line option parser: turns the argument vector into a map from
// option identifiers to their values, using a fixed table of identifiers
// and value counts. It checks syntax only (unknown or repeated identifiers,
// values split over several arguments by double quotes); what the values
// mean is the entry point's business. All work happens in the constructor,
// which throws a GetInputsException pointer at the first bad argument.
#ifndef VOK_CLI_INPUT_PARSER_H
#define VOK_CLI_INPUT_PARSER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli/get_inputs_exception.h"

namespace Zuvanti {

// One row of the identifier table.
struct IdentifierSpec {
    const char *identifier; // the exact argument text that names the option
    int32_t valueCount;     // values it takes (0 or 1)
};

enum ParseState : int32_t {
    ExpectIdentifier = 0, // the next argument must be an identifier
    ExpectValue = 1,      // the next argument is a value of the current identifier
    InQuotedValue = 2,    // the next argument continues a value opened by a double quote
};

enum ParseResult : int32_t {
    Success = 0,
    UnrecognizedIdentifier = 1,
    DuplicateIdentifier = 2,
    IdentifierLost = 3,
};

class InputParser {
public:
    // Parses argv[1] to argv[argc - 1]. Throws a new GetInputsException
    // carrying resultMessage of the first result other than Success. An
    // identifier still waiting for its value keeps an empty list, and an
    // unfinished quoted value keeps what was collected.
    InputParser(int argc, const char *const *argv);

    // Consumes one argument.
    ParseResult parseToken(const std::string &token);

    // True when the identifier was given: values becomes a copy of its
    // values (possibly none). False otherwise, with values emptied.
    bool getValues(const std::string &identifier, std::vector<std::string> &values) const;

    std::string resultMessage(ParseResult result) const;

    // The fixed identifier table, in search order.
    static const IdentifierSpec Identifiers[7];

private:
    int32_t identifierCount = 7;
    ParseState state = ExpectIdentifier;
    std::string lastToken;
    int32_t currentIdentifier = 0;
    std::map<std::string, std::vector<std::string>> values;
};

} // namespace Zuvanti

#endif
