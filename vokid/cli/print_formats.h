// The three output formats of `vokid print`, one fingerprint at a time.
#ifndef VOKID_CLI_PRINT_FORMATS_H
#define VOKID_CLI_PRINT_FORMATS_H

#include <string>

#include "vokid/fingerprint/fingerprinter.h"

namespace vokid {

enum class PrintFormat { Xml, Json, Text };

struct PrintStyle {
    PrintFormat format = PrintFormat::Xml;
    bool raw = false; // json: the decoded sub-fingerprints and masks too
};

// The document exactly as vok writes it; one JSON object on one line; or
// KEY=VALUE lines.
std::string formatFingerprint(const std::string &file, const Fingerprint &fingerprint,
                              const PrintStyle &style);

// What stands between the records of two files: an empty line between
// text records, nothing otherwise.
const char *recordSeparator(const PrintStyle &style);

} // namespace vokid

#endif
