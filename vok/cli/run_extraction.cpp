#include "cli/run_extraction.h"

#include <cerrno>
#include <memory>

#include "cli/output_modes.h"
#include "wav/wav_fingerprinter.h"
#include <vok/vok_engine.h>

namespace Zuvanti {

namespace {

// Owns one fingerprint text handed over by the driver.
class FingerprintText {
public:
    FingerprintText() = default;
    ~FingerprintText() { eng_free_text(&text); }
    FingerprintText(const FingerprintText &) = delete;
    FingerprintText &operator=(const FingerprintText &) = delete;
    char **Out() { return &text; }
    const char *Get() const { return text; }

private:
    char *text = nullptr;
};

void writeLine(std::FILE *errors, const std::string &line)
{
    std::fputs(line.c_str(), errors);
    std::fputc('\n', errors);
    std::fflush(errors);
}

} // namespace

int runExtraction(const std::string &inputFile, std::FILE *output, int32_t blocks,
                  AlgorithmFlags flags, const std::string &outputMode, std::FILE *errors,
                  int *writeError)
{
    uint32_t written = 0;
    try {
        WAVFingerprinter driver;
        driver.Initialize(inputFile);
        int status = 0;
        do {
            FingerprintText text;
            status = driver.GenerateFingerprint(flags, blocks, text.Out());
            if (text.Get()) {
                ++written;
                // Fingerprints that cannot reach the output are not worth
                // making: the caller reports the failed output.
                if (!writeFingerprint(text.Get(), output, flags, outputMode)) {
                    if (writeError)
                        *writeError = errno;
                    break;
                }
            }
        } while ((flags & Continuous) && status == 0);
    } catch (FingerprinterException *caught) {
        const std::unique_ptr<FingerprinterException> chain(caught);
        if ((flags & Continuous) && written > 0)
            return 0;
        writeLine(errors, "Error: Unable to extract fingerprint.");
        for (const FingerprinterException *link = chain.get(); link; link = link->Inner())
            writeLine(errors, " " + link->Message());
        return 1;
    }
    return 0;
}

} // namespace Zuvanti
