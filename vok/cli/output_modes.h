// Writing one fingerprint to the output: raw (the XML text exactly as the
// engine produced it) or, with the output mode "zuserver", escaped and
// wrapped in a lookup-server query.
#ifndef VOK_CLI_OUTPUT_MODES_H
#define VOK_CLI_OUTPUT_MODES_H

#include <cstdio>
#include <string>

#include "driver/algorithm_flags.h"

namespace Zuvanti {

// The one output mode that selects the server query; every other value,
// the empty one included, selects raw output.
extern const char *const ServerQueryMode;

// Writes text in the mode chosen by outputMode. Server queries of Stream1
// carry the FPDATA type "ZUVOK", all others "QDV"; each query is followed
// by five line feeds. Raw text is written with nothing before or after it.
// The text is flushed at once; false when the stream did not take all of it
// (a full disk, a closed pipe), so that the caller can stop.
bool writeFingerprint(const char *text, std::FILE *out, AlgorithmFlags flags,
                      const std::string &outputMode);

// A copy of text with <, > and " replaced by &lt;, &gt; and &quot;; every
// other byte (ampersands, apostrophes, line feeds, bytes above 0x7F) is
// copied unchanged.
std::string escapeMarkup(const char *text);

// The server query around an escaped fingerprint, FPDATA type "QDV".
std::string wrapQdvQuery(const std::string &escaped);
// The same with FPDATA type "ZUVOK".
std::string wrapZuvokQuery(const std::string &escaped);

} // namespace Zuvanti

#endif
