// Fuzzes the engine through its public interface: a handle for any id, rate,
// sample type and channel count; audio built from the input (a pattern
// repeated long enough to finish blocks and fingerprints) added in pieces
// split at points the input chooses; serialisation along the way and at the
// end. One allocation chosen by the input may fail. Every answer must be
// success or a code the engine defines, every text a document, and nothing
// may leak.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/eng_memory.h"
#include "query/qe_xml_writer.h"
#include <vok/vok_engine.h>

namespace {

[[noreturn]] void fail(const char *what, ResultCode code)
{
    fprintf(stderr, "engine check failed: %s (code %08x)\n", what, code);
    abort();
}

bool is_engine_code(ResultCode code)
{
    static const ResultCode known[] = {ENG_OK,
                                       QE_E_NO_MEMORY,
                                       QE_E_NOT_FOUND,
                                       QE_E_INVALID_ARG,
                                       TB_E_NO_MEMORY,
                                       TB_E_INVALID_ARG,
                                       ENG_E_NO_MEMORY,
                                       ENG_E_INVALID_ARG,
                                       ENG_E_NO_TEXT,
                                       ENG_E_UNKNOWN_ALGORITHM,
                                       B64_E_NO_MEMORY,
                                       B64_E_INVALID_ARG,
                                       RFFT_E_NO_MEMORY,
                                       RFFT_E_INVALID_ARG,
                                       STRM_E_NO_MEMORY,
                                       STRM_E_INVALID_ARG,
                                       STRM_E_NO_DATA,
                                       SFP_E_NO_MEMORY,
                                       SFP_E_INVALID_ARG,
                                       SFP_E_NO_DATA,
                                       SFP_E_NOT_COMPLETE};
    for (ResultCode k : known)
        if (code == k)
            return true;
    return false;
}

void check_text(const char *text)
{
    static const char declaration[] = QE_XML_DECLARATION "\n<ZUVOK_FP_QUERY VERSION=\"1.0\">\n";
    static const char closing[] = "</ZUVOK_FP_QUERY>\n";
    const size_t length = strlen(text);
    if (length < sizeof declaration - 1 + sizeof closing - 1 ||
        strncmp(text, declaration, sizeof declaration - 1) != 0 ||
        strcmp(text + length - (sizeof closing - 1), closing) != 0)
        fail("serialised text is not a fingerprint document", 0);
}

void serialize(EngineHandle *handle, bool failure_armed)
{
    char *text = nullptr;
    const ResultCode result = eng_serialize_xml(handle, &text);
    if (!is_engine_code(result))
        fail("unknown serialisation code", result);
    if ((result == ENG_OK) != (text != nullptr))
        fail("serialisation text and result disagree", result);
    if (text)
        check_text(text);
    if (result != ENG_OK && result != SFP_E_NOT_COMPLETE && !failure_armed)
        fail("serialisation failed without a failed allocation", result);
    eng_free_text(&text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const EngineConfig config = {nullptr, 0, 0};
    eng_initialize(&config);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint32_t rates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
    FuzzedDataProvider in(data, size);
    const int64_t live_before = eng_mem_live_blocks();

    const uint32_t id = in.ConsumeIntegralInRange<uint32_t>(0, 6);
    const uint32_t rate = in.ConsumeBool() ? rates[in.ConsumeIntegralInRange<size_t>(0, 7)]
                                           : in.ConsumeIntegral<uint32_t>();
    const SampleType type = in.ConsumeIntegralInRange<int32_t>(0, 5);
    const uint32_t channels = in.ConsumeIntegralInRange<uint32_t>(0, 3);
    const uint32_t fail_at = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(1, 40) : 0;
    // The streaming fingerprint finishes a block after about 3.4 s of audio,
    // the spectral one after about 14.2 s: repeat the pattern long enough,
    // but no longer than two streaming blocks or one spectral fingerprint
    // with room to spare, so that every input's work stays bounded (the cost
    // follows the duration, not the byte count).
    const uint64_t bytes_per_second =
        static_cast<uint64_t>(rate) * (channels ? channels : 1) * (type == 2 ? 2 : 1);
    const uint64_t longest =
        std::min<uint64_t>(id <= 2 ? 6000000 : 1500000, bytes_per_second * (id <= 2 ? 20 : 8));
    const size_t wanted = in.ConsumeIntegralInRange<size_t>(0, static_cast<size_t>(longest));
    std::vector<size_t> cuts;
    for (int i = in.ConsumeIntegralInRange<int>(0, 16); i > 0; --i)
        cuts.push_back(in.ConsumeIntegralInRange<size_t>(0, 1 << 20));
    std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();
    if (pattern.empty())
        pattern.push_back(0x80);
    std::vector<uint8_t> audio(wanted);
    for (size_t i = 0; i < wanted; ++i)
        audio[i] = pattern[i % pattern.size()];

    eng_mem_fail_allocation(fail_at);
    EngineHandle *handle = nullptr;
    ResultCode result = eng_create(id, type, rate, channels, &handle);
    if (!is_engine_code(result))
        fail("unknown creation code", result);
    if ((result == ENG_OK) != (handle != nullptr))
        fail("creation handle and result disagree", result);

    if (handle) {
        size_t offset = 0;
        size_t cut = 0;
        uint8_t done = 0;
        while (offset < audio.size()) {
            size_t piece = audio.size() - offset;
            if (cut < cuts.size() && cuts[cut] < piece)
                piece = cuts[cut];
            ++cut;
            done = 0xEE;
            result =
                eng_add_audio(handle, audio.data() + offset, static_cast<uint32_t>(piece), &done);
            if (!is_engine_code(result))
                fail("unknown add-audio code", result);
            if (result == ENG_OK && done > 1)
                fail("done flag not set on success", result);
            offset += piece == 0 ? 1 : piece;
            if (result == ENG_OK && done && cut % 4 == 1)
                serialize(handle, fail_at != 0);
        }
        serialize(handle, fail_at != 0);
        if (eng_destroy(&handle) != ENG_OK || handle)
            fail("destroy failed", 0);
    }
    eng_mem_fail_allocation(0);
    if (eng_mem_live_blocks() != live_before)
        fail("engine blocks leaked", 0);
    return 0;
}
