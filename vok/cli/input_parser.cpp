#include "cli/input_parser.h"

namespace Zuvanti {

const IdentifierSpec InputParser::Identifiers[7] = {
    {"-help", 0}, {"-f", 1}, {"-a", 1}, {"-n", 1}, {"-o", 1}, {"-c", 0}, {"-om", 1},
};

InputParser::InputParser(int argc, const char *const *argv)
{
    for (int index = 1; argv && index < argc; ++index) {
        const ParseResult result = parseToken(std::string(argv[index] ? argv[index] : ""));
        if (result != Success)
            throw new GetInputsException(resultMessage(result));
    }
}

ParseResult InputParser::parseToken(const std::string &token)
{
    if (state == ExpectIdentifier) {
        int32_t row = 0;
        while (row < identifierCount && token != Identifiers[row].identifier)
            ++row;
        if (row == identifierCount) {
            lastToken = token;
            return UnrecognizedIdentifier;
        }
        currentIdentifier = row;
        if (values.count(Identifiers[row].identifier) != 0)
            return DuplicateIdentifier;
        values[Identifiers[row].identifier];
        if (Identifiers[row].valueCount > 0)
            state = ExpectValue;
        return Success;
    }

    const IdentifierSpec &current = Identifiers[currentIdentifier];
    const auto entry = values.find(current.identifier);
    if (entry == values.end())
        return IdentifierLost;
    std::vector<std::string> &list = entry->second;

    std::string value = token;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        // A quoted empty value is skipped: the next argument becomes the value.
        if (value.size() == 2)
            return Success;
        value = value.substr(1, value.size() - 2);
    }

    if (state == ExpectValue) {
        if (!value.empty() && value.front() == '"') {
            value.erase(0, 1);
            state = InQuotedValue;
        }
        list.push_back(value);
        if (state == ExpectValue && static_cast<int32_t>(list.size()) == current.valueCount)
            state = ExpectIdentifier;
    } else {
        if (!value.empty() && value.back() == '"') {
            value.pop_back();
            state = static_cast<int32_t>(list.size()) < current.valueCount ? ExpectValue
                                                                           : ExpectIdentifier;
        }
        // The quoted value began with an earlier argument, so the list holds it.
        if (list.empty())
            list.push_back(value);
        else
            list.back() += " " + value;
    }
    return Success;
}

bool InputParser::getValues(const std::string &identifier, std::vector<std::string> &found) const
{
    const auto entry = values.find(identifier);
    if (entry == values.end()) {
        found.clear();
        return false;
    }
    found = entry->second;
    return true;
}

std::string InputParser::resultMessage(ParseResult result) const
{
    switch (result) {
    case Success:
        return "Success";
    case UnrecognizedIdentifier:
        return "Unrecognized identifier. '" + lastToken + "'";
    case DuplicateIdentifier:
        return "Identifier specified more than once.";
    case IdentifierLost:
        return "Internal error. Identifier lost.";
    default:
        return "Unkown Error.";
    }
}

} // namespace Zuvanti
