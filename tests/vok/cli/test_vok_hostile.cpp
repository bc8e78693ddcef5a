// The built program on the hostile-input corpus: every case, with each
// algorithm it matters for, ends in a document (exit 0) or the defined
// messages (exit 1): never by a signal or a hang. Nothing is written but the
// output file, and that only by a run that succeeds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/hostile_wav.h"
#include "tests/support/subprocess.h"

namespace {

using vok_test::HostileCase;
using vok_test::HostileInput;
using vok_test::Outcome;

const char kFirstLine[] = "Error: Unable to extract fingerprint.\n";
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";

// True when the messages are a refusal the extraction can end with: the
// first line, then one of the defined chains.
bool defined_refusal(const std::string &messages)
{
    const std::string first = kFirstLine;
    if (messages.compare(0, first.size(), first) != 0 || messages.back() != '\n')
        return false;
    std::vector<std::string> lines;
    for (size_t at = first.size(); at < messages.size();) {
        const size_t end = messages.find('\n', at);
        lines.push_back(messages.substr(at, end - at));
        at = end + 1;
    }
    static const char *const names[] = {"Could not allocate memory", "Invalid input",
                                        "Could not open file",       "File format invalid",
                                        "End of file encountered",   "Unknown"};
    auto named = [](const std::string &line, const std::string &prefix) {
        for (const char *name : names)
            if (line == prefix + name)
                return true;
        return false;
    };
    // An engine code: eight lower-case hexadecimal digits, then a full stop.
    auto coded = [](const std::string &line, const std::string &prefix) {
        if (line.size() != prefix.size() + 9 || line.compare(0, prefix.size(), prefix) != 0 ||
            line.back() != '.')
            return false;
        return line.find_first_not_of("0123456789abcdef", prefix.size()) == line.size() - 1;
    };
    if (lines.size() == 2 && lines[0] == " Get audio type error")
        return lines[1] == " Unsupported bits per sample" || lines[1] == " Unknown encoding type" ||
               named(lines[1], " Error parsing WAV file: ");
    if (lines.size() == 2 && lines[0] == " Unable to get audio sample.")
        return named(lines[1], " Error getting audio sample: ");
    return lines.size() == 1 && (lines[0] == " Not enough audio to generate a fingerprint." ||
                                 coded(lines[0], " Unable to create fingerprint. Error code:") ||
                                 coded(lines[0], " Add audio to fingerprint error. Error code:") ||
                                 coded(lines[0], " Error serializing fingerprint. Error code:"));
}

// The declaration, then one ZUVOK_FP_QUERY element whose tags nest, with
// no markup characters in its text, then a line end.
bool well_formed(const std::string &text)
{
    const std::string declaration = kDeclaration;
    if (text.compare(0, declaration.size(), declaration) != 0)
        return false;
    std::vector<std::string> open;
    size_t at = declaration.size();
    do {
        const size_t tag = text.find('<', at);
        const size_t end = text.find('>', tag);
        if (end == std::string::npos)
            return false;
        const std::string between = text.substr(at, tag - at);
        if (between.find('>') != std::string::npos || (open.empty() && !between.empty()))
            return false;
        const std::string inside = text.substr(tag + 1, end - tag - 1);
        if (inside.compare(0, 1, "/") == 0) {
            if (open.empty() || open.back() != inside.substr(1))
                return false;
            open.pop_back();
        } else {
            const std::string name = inside.substr(0, inside.find(' '));
            if (open.empty() && name != "ZUVOK_FP_QUERY")
                return false;
            open.push_back(name);
        }
        at = end + 1;
    } while (!open.empty());
    return text.substr(at) == "\n";
}

// The runner itself: a child that hangs is killed and reported, and so is
// the signal that ended one.
TEST(VokHostile, RunnerReportsTimeOutsAndSignals)
{
    vok_test::RunOptions options;
    options.timeout_seconds = 1;
    const vok_test::RunResult hung =
        vok_test::run_program("/bin/sh", {"-c", "exec sleep 30"}, options);
    EXPECT_TRUE(hung.timed_out);
    EXPECT_EQ(hung.signal, SIGKILL);
    EXPECT_EQ(hung.exit_code, -1);

    const vok_test::RunResult killed = vok_test::run_program("/bin/sh", {"-c", "kill -SEGV $$"});
    EXPECT_FALSE(killed.timed_out);
    EXPECT_EQ(killed.signal, SIGSEGV);

    options.working_directory = "/dev";
    const vok_test::RunResult where = vok_test::run_program("/bin/sh", {"-c", "pwd"}, options);
    EXPECT_EQ(where.out, "/dev\n");
    EXPECT_EQ(where.exit_code, 0);
}

TEST(VokHostile, EveryCaseEndsInADocumentOrTheDefinedMessages)
{
    const std::vector<HostileCase> cases = vok_test::hostile_wav_cases();
    std::map<std::string, std::string> documents; // case and algorithm -> document
    size_t runs = 0;
    for (const HostileCase &c : cases) {
        for (size_t a = 0; a < 4; ++a) {
            const Outcome &expected = c.outcomes[a];
            if (expected.kind == Outcome::Skip)
                continue;
            const std::string algorithm = vok_test::kHostileAlgorithms[a];
            SCOPED_TRACE(c.name + " with " + algorithm);
            ++runs;

            vok_test::TempDir dir;
            std::string input = "in.wav";
            std::set<std::string> left;
            if (c.input == HostileInput::File)
                vok_test::write_file(dir.file(input), c.bytes);
            if (c.input == HostileInput::Folder) {
                ASSERT_EQ(mkdir(dir.file(input).c_str(), 0755), 0);
            }
            if (c.input == HostileInput::DevNull)
                input = "/dev/null";
            if (c.input == HostileInput::File || c.input == HostileInput::Folder)
                left.insert(input);

            vok_test::RunOptions options;
            options.working_directory = dir.path();
            options.timeout_seconds = 30;
            const vok_test::RunResult run = vok_test::run_program(
                VOK_PROGRAM, {"-a", algorithm, "-f", input, "-o", "out.xml"}, options);

            ASSERT_FALSE(run.timed_out);
            ASSERT_EQ(run.signal, 0);
            ASSERT_FALSE(run.exec_failed);
            EXPECT_EQ(run.out, "");
            const std::string output = vok_test::read_file(dir.file("out.xml"));
            if (run.exit_code == 0) {
                left.insert("out.xml");
                EXPECT_TRUE(expected.kind == Outcome::Document || expected.kind == Outcome::Either)
                    << run.err;
                EXPECT_EQ(run.err, "");
                EXPECT_TRUE(well_formed(output)) << output;
                documents[c.name + " " + algorithm] = output;
            } else {
                ASSERT_EQ(run.exit_code, 1);
                EXPECT_NE(expected.kind, Outcome::Document) << run.err;
                if (expected.kind == Outcome::Refusal) {
                    std::string messages = kFirstLine;
                    for (const std::string &line : expected.chain)
                        messages += " " + line + "\n";
                    EXPECT_EQ(run.err, messages);
                } else {
                    EXPECT_TRUE(defined_refusal(run.err)) << run.err;
                }
            }
            EXPECT_EQ(vok_test::folder_entries(dir.path()), left);
            if (c.input == HostileInput::File) {
                EXPECT_EQ(vok_test::read_file(dir.file(input)),
                          std::string(c.bytes.begin(), c.bytes.end()));
            }
            if (c.input == HostileInput::Folder) {
                EXPECT_TRUE(std::filesystem::is_empty(dir.file(input)));
            }
        }
    }
    // The same audio in another chunk layout gives the same document.
    for (const HostileCase &c : cases) {
        if (c.same_document_as.empty())
            continue;
        for (const char *algorithm : vok_test::kHostileAlgorithms) {
            const auto found = documents.find(c.name + " " + algorithm);
            if (found != documents.end()) {
                EXPECT_EQ(found->second, documents[c.same_document_as + " " + algorithm])
                    << c.name << " with " << algorithm;
            }
        }
    }
    EXPECT_GT(runs, 200u);
}

} // namespace
