// Both document decoders on any text, stepping through it as a caller steps
// through the documents vok -c writes.
//
// Checks: a decoder answers frames or values, ENG_E_BAD_DOCUMENT with a
// fault inside the text and words for it, or ENG_E_NO_MEMORY, and leaves
// nothing allocated; a document takes at least one byte and no more than
// there is. Decoded frames hold whole blocks whose masks all mark the same
// 14 or 8 weak bits, each frame the kept mask nearest to it, quiet flags of
// 0 or 1; encoded again they give a document that decodes to the same
// frames, and each block's BASE64 text is the one in that document.
// Spectral values, written into a document of the engine's layout by this
// target, decode to themselves.
//
// Input: the text itself. Inputs whose length is a multiple of 13 also fail
// one allocation of the first decode, chosen by the length.
#include <cstring>
#include <string>
#include <vector>

#include "engine/eng_memory.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

namespace {

bool same_frames(const EngineFrames &a, const EngineFrames &b)
{
    const size_t n = a.count;
    return a.algorithm == b.algorithm && a.count == b.count && a.complete == b.complete &&
           a.frame_seconds == b.frame_seconds && a.first_offset_seconds == b.first_offset_seconds &&
           (n == 0 ||
            (std::memcmp(a.words, b.words, n * 4) == 0 &&
             std::memcmp(a.masks, b.masks, n * 4) == 0 && std::memcmp(a.quiet, b.quiet, n) == 0));
}

void check_frames(const EngineFrames &frames)
{
    require(frames.count == frames.complete && frames.count % 256 == 0, "whole blocks");
    require((frames.algorithm == 0) == (frames.count == 0), "an algorithm when there are blocks");
    const int weak = frames.algorithm == 3 ? 14 : 8;
    for (size_t i = 0; i < frames.count; ++i) {
        const size_t kept = i - i % 256 + (i % 256 + 1) / 3 * 3;
        require(frames.masks[i] == frames.masks[kept], "each frame takes its nearest kept mask");
        require(__builtin_popcount(frames.masks[i]) == weak, "the variant's weak bits");
        require(frames.quiet[i] <= 1, "quiet flags 0 or 1");
    }
}

// Encodes the frames and decodes the text again.
void check_round_trip(const EngineFrames &frames)
{
    char *text = nullptr;
    require(eng_encode_stream_xml(&frames, &text) == ENG_OK, "decoded frames encode");
    const std::string document = text;
    eng_free_text(&text);
    EngineFrames again{};
    size_t consumed = 0;
    require(eng_decode_stream_xml(document.data(), document.size(), &again, &consumed) == ENG_OK,
            "the encoded document decodes");
    require(consumed == document.size() && same_frames(frames, again), "to the same frames");
    for (size_t b = 0; b < frames.complete / 256; ++b) {
        require(eng_encode_stream_block(&frames, b, &text) == ENG_OK, "a block encodes");
        require(document.find(std::string(">") + text + "</FP_BLOCK>") != std::string::npos,
                "as the document holds it");
        eng_free_text(&text);
    }
    eng_free_frames(&again);
}

void check_values(const int16_t *values)
{
    std::string numbers;
    for (int i = 0; i < 30; ++i)
        numbers += (i ? " " : "") + std::to_string(static_cast<uint16_t>(values[i]));
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<ZUVOK_FP_QUERY VERSION=\"1.0\">\n"
        "  <ALGORITHM>\n    <NAME>Quorindavel</NAME>\n    <VERSION>1.1</VERSION>\n"
        "    <QUERY>Quorindavel&quot;1.1</QUERY>\n  </ALGORITHM>\n  <FP_BLOCKS>\n"
        "    <FP_BLOCK TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">" +
        numbers + "</FP_BLOCK>\n  </FP_BLOCKS>\n</ZUVOK_FP_QUERY>\n";
    int16_t again[30];
    size_t consumed = 0;
    require(eng_decode_spectral_xml(document.data(), document.size(), again, &consumed) == ENG_OK &&
                consumed == document.size() && std::memcmp(values, again, sizeof again) == 0,
            "values written again decode to themselves");
}

// One decode, with allocation fail_at failing (0: none); answers the bytes
// it took, 0 when it refused.
size_t decode_one(const char *text, size_t length, bool streaming, uint32_t fail_at)
{
    size_t consumed = length + 1;
    EngineFrames frames{};
    int16_t values[30];
    eng_mem_fail_allocation(fail_at);
    const ResultCode result = streaming ? eng_decode_stream_xml(text, length, &frames, &consumed)
                                        : eng_decode_spectral_xml(text, length, values, &consumed);
    eng_mem_fail_allocation(0);
    if (result == ENG_E_BAD_DOCUMENT) {
        require(consumed <= length, "the fault lies in the text");
        require(eng_decode_problem()[0] != '\0', "the fault in words");
        return 0;
    }
    if (result == ENG_E_NO_MEMORY)
        return 0;
    require(result == ENG_OK, "decoded, refused, or out of memory");
    require(consumed > 0 && consumed <= length, "a document takes bytes of the text");
    require(eng_decode_problem()[0] == '\0', "no problem after a success");
    if (streaming) {
        check_frames(frames);
        check_round_trip(frames);
        eng_free_frames(&frames);
    } else {
        check_values(values);
    }
    return consumed;
}

} // namespace

FUZZ_STARTS_THE_ENGINE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    const int64_t live = eng_mem_live_blocks();
    const uint32_t fail_at = size % 13 == 0 ? 1 + static_cast<uint32_t>(size / 13 % 64) : 0;
    for (bool streaming : {true, false}) {
        for (size_t at = 0, took = 1; at < size && took > 0; at += took)
            took = decode_one(text + at, size - at, streaming, at == 0 ? fail_at : 0);
    }
    require(eng_mem_live_blocks() == live, "nothing left allocated");
    return 0;
}
