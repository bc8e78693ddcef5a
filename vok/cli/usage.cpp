#include "cli/usage.h"

namespace Zuvanti {

namespace {

// Continuation lines are indented by 19 spaces so that they line up under
// the descriptions; the option lines use a tab and a run of spaces. One
// literal per line of the text, however long.
// clang-format off
const char *const kUsageLines[] = {
    "Usage: vok [-help] [-a ALGORITHM] [-n NUMFPBLOCKS]",
    "           -f AUDIOFILE [-c] [-om outputmode] [-o output_file]",
    "",
    "Extract fingerprint from AUDIOFILE.",
    "",
    "-help\t           Displays this message on stdout.",
    "-a ALGORITHM\t   Specifies the algorithm that will be used to generate the",
    "                   fingerprint. Valid values are FileFixed, FileFloat, Stream1",
    "                   and Stream4.",
    "                   Optional. If omitted Stream1 is used.",
    "-n NUMFPBLOCKS\t   Specifies the number of fingerprint blocks the resulting",
    "                   fingerprint should have. If the audio sample is large enough",
    "                   the resulting fingerprint will has at least this many fingerprint",
    "                   blocks. Only applicable to algorithms Stream1 and Stream4.",
    "                   Optional. If omitted 2 is used.",
    "-f AUDIOFILE\t   Specifies the standard WAVE format audio file that will be used to",
    "                   generate the fingerprint. Required.",
    "-c                 Specifies that the entire file should be processed. Fingerprints will be",
    "                   generated for the entire file. Only valid if algorithm is Stream1 or Stream4.",
    "                   Optional.",
    "-om OUTPUTMETHOD   Specifies the output mode of the application.",
    "                   Optional. If omitted output is raw fingerprint(s).",
    "-o OUTPUTFILE\t   Specifies the file used to write the generated fingerprint or ZUServer",
    "                   query to. Optional. If omitted the output is written to stdout.",
};
// clang-format on

} // namespace

void printUsage(std::FILE *out)
{
    for (const char *line : kUsageLines) {
        std::fputs(line, out);
        std::fputc('\n', out);
        std::fflush(out);
    }
}

} // namespace Zuvanti
