// Reads a block back: the first word of each run raw, then for every further
// word the byte codes of its XOR with the previous one. The byte code is a
// complete prefix code, so any bits split into codes in exactly one way; a
// block's only possible faults are its length and its padding.
#include "algo/stream/bw.h"

#include "engine/eng_support.h"

namespace {

const uint32_t kLongestCode = 16;

// What the next 16 bits (first bit lowest) begin with.
struct CodeMatch {
    uint8_t byte;
    uint8_t length;
};

// Each code of length L owns the 2^(16 - L) values of 16 bits that begin
// with it; completeness means that every value is owned.
bool fill_lookup(CodeMatch *table)
{
    const ByteCode *codes = bw_byte_codes();
    for (uint32_t byte = 0; byte < 256; ++byte) {
        const ByteCode code = codes[byte];
        for (uint32_t rest = 0; rest < 1u << (kLongestCode - code.length); ++rest)
            table[code.code | rest << code.length] = {static_cast<uint8_t>(byte), code.length};
    }
    return true;
}

const CodeMatch *code_lookup()
{
    static CodeMatch table[1u << kLongestCode];
    // Built once: the initialisation of a local static is thread-safe, and
    // every caller passes through it before reading the table.
    static const bool filled = fill_lookup(table);
    (void)filled;
    return table;
}

// Bit 0 of byte 0 first. Reading past the end yields zero bits; the caller
// compares the position with the size afterwards.
struct BitReader {
    const uint8_t *bytes;
    uint32_t size;
    uint64_t position;
    const CodeMatch *lookup;
};

// The next count bits (at most 24), first bit lowest.
uint32_t peek(const BitReader *reader, uint32_t count)
{
    const uint64_t at = reader->position / 8;
    uint32_t window = 0;
    for (uint32_t i = 0; i < 4 && at + i < reader->size; ++i)
        window |= static_cast<uint32_t>(reader->bytes[at + i]) << (8 * i);
    return (window >> (reader->position % 8)) & ((1u << count) - 1u);
}

uint32_t take(BitReader *reader, uint32_t count)
{
    const uint32_t bits = peek(reader, count);
    reader->position += count;
    return bits;
}

uint32_t read_coded_word(BitReader *reader)
{
    uint32_t word = 0;
    for (uint32_t shift = 0; shift < 32; shift += 8) {
        const CodeMatch match = reader->lookup[peek(reader, kLongestCode)];
        reader->position += match.length;
        word |= static_cast<uint32_t>(match.byte) << shift;
    }
    return word;
}

// Reads a run of count words; false, with the fault set, when the bytes end
// inside one. Answers each word's first byte through starts when given.
bool read_run(BitReader *reader, uint32_t *words, uint32_t count, uint32_t *starts,
              uint8_t fault_kind, BlockRead *read)
{
    uint32_t previous = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t start = reader->position;
        if (starts)
            starts[i] = static_cast<uint32_t>(start / 8);
        if (i == 0) {
            const uint32_t low = take(reader, 16);
            previous = low | take(reader, 16) << 16;
        } else {
            previous ^= read_coded_word(reader);
        }
        words[i] = previous;
        if (reader->position > 8 * static_cast<uint64_t>(reader->size)) {
            read->fault = fault_kind;
            read->fault_offset = static_cast<uint32_t>(start / 8);
            read->fault_index = i;
            return false;
        }
    }
    return true;
}

// After the last code: no whole byte more, and zero bits in the rest.
bool check_end(const BitReader *reader, BlockRead *read)
{
    const uint64_t used = (reader->position + 7) / 8;
    if (used < reader->size) {
        read->fault = BW_FAULT_TRAILING;
        read->fault_offset = static_cast<uint32_t>(used);
        read->fault_index = reader->size - static_cast<uint32_t>(used);
        return false;
    }
    const uint32_t padding = static_cast<uint32_t>(8 * used - reader->position);
    if (padding > 0 && peek(reader, padding) != 0) {
        read->fault = BW_FAULT_PADDING;
        read->fault_offset = reader->size - 1;
        read->fault_index = 0;
        return false;
    }
    return true;
}

} // namespace

ResultCode bw_read_block(const uint8_t *bytes, uint32_t size, BlockRead *read)
{
    if (!bytes || !read)
        return STRM_E_INVALID_ARG;
    BitReader reader = {bytes, size, 0, code_lookup()};
    read->fault = 0;
    read->fault_offset = 0;
    read->fault_index = 0;
    const bool whole =
        read_run(&reader, read->words, ENG_BLOCK_FRAMES, nullptr, BW_FAULT_ENDS_IN_WORD, read) &&
        read_run(&reader, read->kept, BW_KEPT_MASKS, read->kept_offsets, BW_FAULT_ENDS_IN_MASK,
                 read) &&
        check_end(&reader, read);
    return whole ? ENG_OK : STRM_E_BAD_DOCUMENT;
}

ResultCode bw_decode_block(const uint8_t *bytes, uint32_t size, uint32_t words[256],
                           uint32_t kept[86], uint32_t *fault_offset)
{
    if (!words || !kept)
        return STRM_E_INVALID_ARG;
    BlockRead read;
    const ResultCode result = bw_read_block(bytes, size, &read);
    if (result == STRM_E_BAD_DOCUMENT && fault_offset)
        *fault_offset = read.fault_offset;
    if (result != ENG_OK)
        return result;
    eng_memcpy(words, read.words, sizeof read.words);
    eng_memcpy(kept, read.kept, sizeof read.kept);
    return ENG_OK;
}
