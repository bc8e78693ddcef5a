// The hostile-input corpus: malformed, truncated and lying WAVE files, and
// inputs that are no files at all, each with what the program must answer
// for it with each of the four algorithms.
#ifndef VOK_TESTS_SUPPORT_HOSTILE_WAV_H
#define VOK_TESTS_SUPPORT_HOSTILE_WAV_H

#include <array>
#include <string>
#include <vector>

#include "tests/support/wav_writer.h"

namespace vok_test {

// What one run must end with.
struct Outcome {
    enum Kind {
        Skip,     // not run with this algorithm
        Document, // exit 0 and a fingerprint document
        Refusal,  // exit 1 and exactly these messages
        Either,   // a document, or a refusal of the defined form
    };
    Kind kind = Skip;
    // For Refusal: the chained messages printed after "Error: Unable to
    // extract fingerprint.", outermost first, without their leading space.
    std::vector<std::string> chain;
};

enum class HostileInput {
    File,    // the bytes, written to a file
    Folder,  // a directory where the file is expected
    DevNull, // /dev/null
    Missing, // a name that does not exist
};

struct HostileCase {
    std::string name;
    HostileInput input = HostileInput::File;
    Bytes bytes;
    // For FileFixed, FileFloat, Stream1 and Stream4, in that order.
    std::array<Outcome, 4> outcomes;
    // A case whose audio is the same, told in another chunk layout: the
    // documents of both must be identical.
    std::string same_document_as;
};

// The -a values, in the order of HostileCase::outcomes.
extern const char *const kHostileAlgorithms[4];

std::vector<HostileCase> hostile_wav_cases();

} // namespace vok_test

#endif
