#include "vokid/cli/print_command.h"

#include <new>

#include "vokid/cli/exit_codes.h"
#include "vokid/cli/ordered_parallel.h"

namespace vokid {

namespace {

// One file's outcome: its record, or why there is none.
struct Outcome {
    std::string record;
    std::string failure;
};

Outcome printFile(const std::string &file, const PrintOptions &options)
{
    Outcome outcome;
    try {
        FingerprintRequest request = options.request;
        request.document = options.style.format == PrintFormat::Xml;
        const Fingerprint made = fingerprint(AudioInput::named(file), request);
        outcome.record = formatFingerprint(file, made, options.style);
    } catch (const std::bad_alloc &) {
        outcome.failure = "out of memory";
    } catch (const std::exception &error) {
        outcome.failure = error.what();
    }
    return outcome;
}

} // namespace

int runPrint(const PrintOptions &options, Console &console)
{
    bool failed = false;
    bool first = true;
    runInOrder<Outcome>(
        options.files.size(), options.jobs,
        [&](size_t i) { return printFile(options.files[i], options); },
        [&](size_t i, Outcome outcome) {
            const std::string &file = options.files[i];
            if (!outcome.failure.empty()) {
                console.failure(file, outcome.failure);
                failed = true;
                return;
            }
            if (!first)
                console.write(recordSeparator(options.style));
            console.write(outcome.record);
            first = false;
        });
    return failed ? kExitFailure : kExitSuccess;
}

} // namespace vokid
