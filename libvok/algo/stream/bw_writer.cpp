// Bit writer of the block encoder: raw first word, then byte codes of the
// XOR with the previous word.
#include "algo/stream/bw.h"

void bw_reset(BitWriter *writer)
{
    writer->first = 1;
    writer->previous = 0;
}

void bw_put_bits(BitWriter *writer, uint32_t value, int32_t n)
{
    uint8_t *out = writer->base;
    while (n > 0) {
        const int32_t room = 8 - writer->bit_position;
        const int32_t take = room < n ? room : n;
        out[writer->byte_index] |= static_cast<uint8_t>(value << writer->bit_position);
        writer->bit_position += take;
        value >>= take;
        n -= take;
        if (writer->bit_position == 8) {
            writer->byte_index += 1;
            writer->bit_position = 0;
            out[writer->byte_index] = 0;
        }
    }
}

void bw_put_byte_code(BitWriter *writer, uint8_t byte)
{
    const ByteCode code = writer->codes[byte];
    bw_put_bits(writer, code.code, code.length);
}

int32_t bw_encode_words(BitWriter *writer, const uint32_t *words, int32_t count, uint8_t *buffer,
                        int32_t offset)
{
    if (count <= 0)
        return 0;
    const int32_t start_bit = offset % 8;
    writer->base = buffer + offset / 8;
    writer->byte_index = 0;
    writer->bit_position = start_bit;
    // The bits below the start belong to the previous run.
    writer->base[0] = static_cast<uint8_t>(writer->base[0] & ((1u << start_bit) - 1u));

    int32_t next = 0;
    if (writer->first) {
        bw_put_bits(writer, words[0], 32);
        writer->previous = words[0];
        writer->first = 0;
        next = 1;
    }
    for (; next < count; ++next) {
        const uint32_t x = writer->previous ^ words[next];
        bw_put_byte_code(writer, static_cast<uint8_t>(x & 0xFFu));
        bw_put_byte_code(writer, static_cast<uint8_t>((x >> 8) & 0xFFu));
        bw_put_byte_code(writer, static_cast<uint8_t>((x >> 16) & 0xFFu));
        bw_put_byte_code(writer, static_cast<uint8_t>(x >> 24));
        writer->previous = words[next];
    }
    return 8 * writer->byte_index + writer->bit_position - start_bit;
}
