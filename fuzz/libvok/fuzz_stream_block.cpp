// The streaming fingerprint's block encoding on any block: 256
// sub-fingerprints and 256 weak-bit masks, encoded by the engine into its
// buffer (left full of a byte of the input's choosing beforehand) and
// turned into BASE64, then read back with the engine's decoders.
//
// Checks: the decoded words are the block's, the decoded masks those of
// sub-fingerprints 0, 3, ..., 255; the bit length is exactly 32 + the code
// lengths of the XORs for each run (from the byte-code table), the byte
// length its ceiling over 8, and the bits after the last code are zero
// (the block reader refuses any other length or padding); the text is the
// one canonical BASE64 text of those bytes (the strict decoder takes no
// other).
//
// Input: the choices from the back, the words' pattern from the front
// (fuzz_support.h): words first, then masks.
#include <cstring>
#include <string>

#include "algo/stream/b64.h"
#include "algo/stream/strm_lanes.h"
#include "engine/eng_memory.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

// --- Adapter: the stage as this target reaches it -------------------------------

namespace stage {

StreamState *state()
{
    static StreamState *s = [] {
        void *made = nullptr;
        strm_use_path(STRM_PATH_SCALAR);
        require(strm_create(3, 8000, SAMPLE_PCM_S16, 1, &made) == ENG_OK, "state created");
        strm_use_path(STRM_PATH_BEST);
        return static_cast<StreamState *>(made);
    }();
    return s;
}

uint32_t *words(StreamState *s)
{
    return s->fingerprints;
}
uint32_t *masks(StreamState *s)
{
    return s->masks;
}
uint8_t *buffer(StreamState *s)
{
    return s->encoded;
}
size_t capacity()
{
    return STRM_ENCODED_CAPACITY;
}
size_t encoded_length(const StreamState *s)
{
    return static_cast<size_t>(s->encoded_length);
}
void finish_block(StreamState *s)
{
    strm_finish_block(s);
}

// The text of the one finished block, taken off the state's list.
std::string take_text(StreamState *s)
{
    EncodedBlock *block = s->blocks;
    require(block && !block->next && block->length > 0, "one block finished");
    std::string text(block->text, static_cast<size_t>(block->length) - 1);
    require(block->text[block->length - 1] == '\0', "text ended by its NUL");
    eng_free(block->text);
    eng_free(block);
    s->blocks = nullptr;
    s->last_block = nullptr;
    return text;
}

} // namespace stage

namespace {

// 32 raw bits, then the codes of the four bytes of each XOR.
size_t run_bits(const uint32_t *words, size_t count, size_t stride)
{
    const ByteCode *code = bw_byte_codes();
    size_t bits = 32;
    for (size_t i = 1; i < count; ++i) {
        const uint32_t x = words[(i - 1) * stride] ^ words[i * stride];
        for (unsigned shift = 0; shift < 32; shift += 8)
            bits += code[(x >> shift) & 0xFFu].length;
    }
    return bits;
}

} // namespace

FUZZ_STARTS_THE_ENGINE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    StreamState *s = stage::state();
    const uint8_t stale = in.ConsumeIntegral<uint8_t>();
    const fuzz_support::Signal signal(in);
    uint32_t *words = stage::words(s);
    uint32_t *masks = stage::masks(s);
    for (size_t i = 0; i < ENG_BLOCK_FRAMES; ++i) {
        words[i] = static_cast<uint32_t>(signal.at(i));
        masks[i] = static_cast<uint32_t>(signal.at(ENG_BLOCK_FRAMES + i));
    }
    std::memset(stage::buffer(s), stale, stage::capacity());
    stage::finish_block(s);

    const size_t bits =
        run_bits(words, ENG_BLOCK_FRAMES, 1) + run_bits(masks, BW_KEPT_MASKS, ENG_MASK_STRIDE);
    const size_t length = stage::encoded_length(s);
    require(length == (bits + 7) / 8, "encoded length is the bits' ceiling over 8");
    const uint8_t *bytes = stage::buffer(s);
    const std::string text = stage::take_text(s);
    uint8_t *decoded = nullptr;
    uint32_t decoded_size = 0;
    B64Fault fault{};
    require(b64_decode(text.data(), static_cast<uint32_t>(text.size()), &decoded, &decoded_size,
                       &fault) == ENG_OK,
            "the text is canonical BASE64");
    require(decoded_size == length && std::memcmp(decoded, bytes, length) == 0, "of the bytes");
    eng_free(decoded);
    uint32_t read_words[ENG_BLOCK_FRAMES], kept[BW_KEPT_MASKS];
    require(bw_decode_block(bytes, static_cast<uint32_t>(length), read_words, kept, nullptr) ==
                ENG_OK,
            "the block reads back");
    for (size_t i = 0; i < ENG_BLOCK_FRAMES; ++i)
        require(read_words[i] == words[i], "sub-fingerprints read back");
    for (size_t m = 0; m < BW_KEPT_MASKS; ++m)
        require(kept[m] == masks[m * ENG_MASK_STRIDE], "kept masks read back");
    return 0;
}
