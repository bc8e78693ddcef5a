// The option parser: identifiers, values, quoting and every syntax error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/input_parser.h"

namespace {

using namespace Zuvanti;

// Every identifier that was given, with its values in angle brackets, or
// the message of the exception the parser threw.
std::string parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "vok");
    std::vector<const char *> argv;
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    try {
        const InputParser parser(static_cast<int>(argv.size()), argv.data());
        std::string seen;
        std::vector<std::string> values = {"stale"};
        for (const char *id : {"-help", "-f", "-a", "-n", "-o", "-c", "-om"}) {
            if (!parser.getValues(id, values)) {
                EXPECT_TRUE(values.empty()) << "an absent identifier empties the list";
                continue;
            }
            seen += std::string(seen.empty() ? "" : " ") + id + "=";
            for (const std::string &value : values)
                seen += "<" + value + ">";
        }
        return seen;
    } catch (GetInputsException *e) {
        const std::string message = "throws " + e->Message();
        delete e;
        return message;
    }
}

TEST(InputParser, IdentifiersValuesAndErrors)
{
    struct Row {
        std::vector<std::string> args;
        std::string expected;
    };
    const Row rows[] = {
        {{}, ""},
        {{"-help"}, "-help="},
        {{"-f", "a.wav", "-a", "Stream4", "-n", "3", "-o", "o.txt", "-c", "-om", "zuserver"},
         "-f=<a.wav> -a=<Stream4> -n=<3> -o=<o.txt> -c= -om=<zuserver>"},
        {{"-x"}, "throws Unrecognized identifier. '-x'"},
        {{"-F"}, "throws Unrecognized identifier. '-F'"},
        {{"-Help"}, "throws Unrecognized identifier. '-Help'"},
        {{"--help"}, "throws Unrecognized identifier. '--help'"},
        {{"-h"}, "throws Unrecognized identifier. '-h'"},
        {{""}, "throws Unrecognized identifier. ''"},
        {{"-c", "a.wav"}, "throws Unrecognized identifier. 'a.wav'"},
        {{"-f", "a", "-x", "-y"}, "throws Unrecognized identifier. '-x'"},
        {{"-help", "-x"}, "throws Unrecognized identifier. '-x'"},
        {{"-f", "a.wav", "-f", "b.wav"}, "throws Identifier specified more than once."},
        {{"-c", "-c"}, "throws Identifier specified more than once."},
        {{"-c", "-c", "-x"}, "throws Identifier specified more than once."},
        {{"-help", "-a", "Bogus"}, "-help= -a=<Bogus>"},
        // a value is never taken for an identifier
        {{"-f"}, "-f="},
        {{"-f", "-c"}, "-f=<-c>"},
        {{"-f", "-a", "-c"}, "-f=<-a> -c="},
        {{"-f", ""}, "-f=<>"},
        // quoting
        {{"-f", "\"my file.wav\""}, "-f=<my file.wav>"},
        {{"-f", "\"my", "file.wav\""}, "-f=<my file.wav>"},
        {{"-f", "\"a", "b", "c\"", "-c"}, "-f=<a b c> -c="},
        {{"-f", "\"\"", "x.wav"}, "-f=<x.wav>"},
        {{"-f", "\"a", "b"}, "-f=<a b>"},
        {{"-f", "\"-a", "b\"", "-c"}, "-f=<-a b> -c="},
        {{"-a", "\"Stream1\"", "-c"}, "-a=<Stream1> -c="},
        {{"-f", "\"", "x\""}, "-f=< x>"},
        {{"-f", "\"a", "", "b\""}, "-f=<a  b>"},
        {{"-o", "\"a", "\"b\"", "c\"", "-c"}, "-o=<a b c> -c="},
    };
    for (const Row &row : rows) {
        std::string shown;
        for (const std::string &arg : row.args)
            shown += "[" + arg + "]";
        EXPECT_EQ(row.expected, parse(row.args)) << shown;
    }
}

TEST(InputParser, ResultMessages)
{
    const InputParser parser(0, nullptr);
    EXPECT_EQ("Success", parser.resultMessage(Success));
    EXPECT_EQ("Unrecognized identifier. ''", parser.resultMessage(UnrecognizedIdentifier));
    EXPECT_EQ("Identifier specified more than once.", parser.resultMessage(DuplicateIdentifier));
    EXPECT_EQ("Internal error. Identifier lost.", parser.resultMessage(IdentifierLost));
    EXPECT_EQ("Unkown Error.", parser.resultMessage(static_cast<ParseResult>(4)));
    EXPECT_EQ("Unkown Error.", parser.resultMessage(static_cast<ParseResult>(-1)));
}

TEST(InputParser, TheIdentifierTable)
{
    const std::vector<std::pair<std::string, int>> expected = {
        {"-help", 0}, {"-f", 1}, {"-a", 1}, {"-n", 1}, {"-o", 1}, {"-c", 0}, {"-om", 1}};
    for (size_t row = 0; row < expected.size(); ++row) {
        EXPECT_EQ(expected[row].first, InputParser::Identifiers[row].identifier);
        EXPECT_EQ(expected[row].second, InputParser::Identifiers[row].valueCount);
    }
}

} // namespace
