// Fuzzes the WAVE parser over arbitrary file contents: wav_open, then a
// wav_read loop with request sizes chosen by the input (0, small, odd,
// huge), either directly or through the WAVE driver's input operations.
// Every answer must be one of the parser's codes, no piece may be larger
// than asked for or than the file, the end must stay the end, and every
// refusal of the driver must carry one of its messages.
//
// Layout of an input: the bytes of the file first, the read settings
// consumed from its end (FuzzedDataProvider takes integers from the back).
#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/audio_format.h"
#include "driver/fingerprinter_exception.h"
#include "wav/wav_fingerprinter.h"
#include "wav/wav_parser.h"

namespace {

std::string file_path;

[[noreturn]] void fail(const char *what, int code)
{
    std::fprintf(stderr, "WAVE check failed: %s (code %d)\n", what, code);
    std::abort();
}

// The driver's input operations, reachable from here.
class Probe : public Zuvanti::WAVFingerprinter {
public:
    using Zuvanti::WAVFingerprinter::CloseAudio;
    using Zuvanti::WAVFingerprinter::GetAudioSample;
    Zuvanti::AudioFormat &Format() { return format; }
};

bool starts_with(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

void check_open_message(const Zuvanti::FingerprinterException *e)
{
    const std::string &m = e->Message();
    if (m != "Get audio type error" || !e->Inner())
        fail("unexpected Initialize failure", 0);
    const std::string &inner = e->Inner()->Message();
    if (inner != "Error parsing WAV file: File format invalid" &&
        inner != "Error parsing WAV file: Could not allocate memory" &&
        inner != "Unsupported bits per sample" && inner != "Unknown encoding type")
        fail("unexpected WAVE refusal", 0);
}

// Request sizes: mostly small so that a few reads cover a small file, some
// odd, some zero (the whole chunk) and some huge.
uint32_t pick_request(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return 0;
    case 1:
        return in.ConsumeIntegralInRange<uint32_t>(1, 64);
    case 2:
        return in.ConsumeIntegralInRange<uint32_t>(1, 1u << 16);
    default:
        return in.ConsumeIntegral<uint32_t>();
    }
}

void read_directly(FuzzedDataProvider &in, size_t file_size)
{
    WavParser *parser = nullptr;
    const int opened = wav_open(file_path.c_str(), &parser);
    if (opened != WAV_OK) {
        if (opened != WAV_E_FORMAT || parser)
            fail("unexpected wav_open answer", opened);
        return;
    }
    if (parser->format_tag != WAV_FORMAT_PCM && parser->format_tag != WAV_FORMAT_FLOAT &&
        parser->format_tag != WAV_FORMAT_ALAW && parser->format_tag != WAV_FORMAT_MULAW)
        fail("format tag not refused", static_cast<int>(parser->format_tag));

    std::vector<uint32_t> requests;
    for (int n = in.ConsumeIntegralInRange<int>(1, 8); n > 0; --n)
        requests.push_back(pick_request(in));

    uint64_t delivered = 0;
    // Every successful read moves past at least one byte of the file (a
    // chunk header at least), so the loop ends within file_size reads.
    for (size_t i = 0;; ++i) {
        if (i > file_size + 1)
            fail("wav_read does not move forward", 0);
        uint32_t count = 0xDEADBEEF;
        uint8_t *bytes = nullptr;
        const uint32_t request = requests[i % requests.size()];
        const int code = wav_read(&count, parser, request, &bytes);
        if (code == WAV_OK) {
            if (!bytes || (request != 0 && count > request))
                fail("piece larger than asked for", code);
            if (count > 0) {
                // Touch both ends: the piece must be readable in full.
                volatile uint8_t sink = bytes[0];
                sink = bytes[count - 1];
                (void)sink;
            }
            delivered += count;
            if (delivered > file_size)
                fail("more bytes delivered than the file holds", code);
            continue;
        }
        if (code == WAV_E_END_OF_FILE) {
            if (count != 0)
                fail("count set at the end of the file", code);
            if (wav_read(&count, parser, request, &bytes) != WAV_E_END_OF_FILE)
                fail("the end of the file did not stay the end", code);
        } else if (code == WAV_E_FORMAT) {
            if (request != 0 && count > request)
                fail("short piece larger than asked for", code);
        } else if (code != WAV_E_NO_MEMORY) {
            fail("unexpected wav_read answer", code);
        }
        break;
    }
    wav_close(parser);
}

void read_through_driver(FuzzedDataProvider &in)
{
    Probe probe;
    try {
        probe.Initialize(file_path);
    } catch (Zuvanti::FingerprinterException *e) {
        check_open_message(e);
        delete e; // and its chain
        return;
    }
    const uint32_t type = probe.Format().sample_type;
    if (type < 1 || type > 4)
        fail("sample type outside 1 to 4", static_cast<int>(type));
    probe.Format().block_bytes = pick_request(in);
    for (int reads = 0; reads < 4096; ++reads) {
        uint32_t count = 0;
        uint8_t *bytes = nullptr;
        try {
            if (probe.GetAudioSample(&probe.Format(), &count, &bytes)) {
                if (count != 0)
                    fail("bytes at the end of the audio", 0);
                return;
            }
        } catch (Zuvanti::FingerprinterException *e) {
            if (!starts_with(e->Message(), "Error getting audio sample: ") || e->Inner())
                fail("unexpected read failure", 0);
            delete e;
            return;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A RAM folder: one file rewritten for every input.
    const char *folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    file_path = std::string(folder) + "/vok-fuzz-wav-" + std::to_string(getpid()) + ".wav";
    std::atexit([] { std::remove(file_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool driver = in.ConsumeBool();
    // The file is everything before the settings; the settings need at most
    // a few dozen bytes, so take them from the end and leave the rest whole.
    const size_t settings = in.ConsumeIntegralInRange<size_t>(0, 40);
    const size_t file_size = in.remaining_bytes() > settings ? in.remaining_bytes() - settings : 0;
    const std::vector<uint8_t> contents = in.ConsumeBytes<uint8_t>(file_size);

    std::FILE *file = std::fopen(file_path.c_str(), "wb");
    if (!file || std::fwrite(contents.data(), 1, contents.size(), file) != contents.size() ||
        std::fclose(file) != 0)
        fail("cannot write the scratch file", 0);

    if (driver)
        read_through_driver(in);
    else
        read_directly(in, contents.size());
    return 0;
}
