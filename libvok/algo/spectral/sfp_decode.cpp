// Reading a spectral document back: one block of 30 unsigned decimals, each
// 0 to 65535 without sign or leading zeros, one space apart, as
// sfp_format_ascii writes them.
#include "algo/spectral/sfp_internal.h"

#include "engine/eng_support.h"

namespace {

const uint32_t kValues = 30;
// Longer numbers are cut in the problem text.
const int kShownDigits = 16;
const char *const kStreamingOnly[] = {"BLOCK_LENGTH", "FORMAT"};

bool is(const char *text, const char *expected)
{
    return qe_compare_n(text, qe_text_length(text), expected, qe_text_length(expected)) == 0;
}

// The block of a spectral document: its one FP_BLOCK and its attributes.
ResultCode find_block(DocumentRead *read, const QueryElement **block)
{
    for (const char *streaming_only : kStreamingOnly) {
        const QueryElement *found =
            qe_find_child_n(read->algorithm, streaming_only, qe_text_length(streaming_only));
        if (found)
            return eng_document_fault(read, found, ENG_AT_START, "%s in a spectral fingerprint",
                                      streaming_only);
    }
    const QueryElement *first = read->blocks->first_child;
    if (!first || first->next_sibling || !is(first->name, "FP_BLOCK"))
        return eng_document_fault(read, first ? first : read->blocks, ENG_AT_START,
                                  "FP_BLOCKS of a spectral fingerprint must hold one FP_BLOCK");
    ResultCode result = eng_document_attribute(read, first, "TYPE", "SIGNED_INT_16", "block 1");
    if (result == ENG_OK)
        result = eng_document_attribute(read, first, "COUNT", "30", "block 1");
    if (result == ENG_OK)
        result = eng_document_attribute(read, first, "ENCODING", "ASCII", "block 1");
    if (result == ENG_OK)
        result = eng_document_attribute(read, first, "SEPARATOR", " ", "block 1");
    *block = first;
    return result;
}

// The number in text[0, length): 1 to 5 digits, no leading zero but in "0".
bool read_number(const char *text, size_t length, uint32_t *value)
{
    if (length == 0 || length > 5 || (length > 1 && text[0] == '0'))
        return false;
    uint32_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    *value = number;
    return number <= 0xFFFFu;
}

ResultCode read_values(DocumentRead *read, const QueryElement *block, int16_t *values)
{
    const char *text = eng_document_value(block);
    const size_t length = eng_strlen(text);
    uint32_t count = 0;
    for (size_t at = 0;; ++at) {
        size_t end = at;
        while (end < length && text[end] != ' ')
            ++end;
        uint32_t value = 0;
        if (!read_number(text + at, end - at, &value)) {
            const int shown = end - at > kShownDigits ? kShownDigits : static_cast<int>(end - at);
            return eng_document_fault(read, block, at,
                                      "block 1, value %u \"%.*s\" is not a number from 0 to 65535",
                                      count + 1, shown, text + at);
        }
        if (count == kValues)
            return eng_document_fault(read, block, at, "block 1 holds more than %u values",
                                      kValues);
        // Kept as written: the unsigned pattern in a signed 16-bit value.
        values[count++] = static_cast<int16_t>(static_cast<uint16_t>(value));
        if (end == length)
            break;
        at = end;
    }
    if (count != kValues)
        return eng_document_fault(read, block, length, "block 1 holds %u values, not %u", count,
                                  kValues);
    return ENG_OK;
}

} // namespace

ResultCode sfp_decode_document(DocumentRead *read, int16_t *values)
{
    if (!read || !values)
        return SFP_E_INVALID_ARG;
    const QueryElement *block = nullptr;
    int16_t decoded[kValues];
    ResultCode result = find_block(read, &block);
    if (result == ENG_OK)
        result = read_values(read, block, decoded);
    if (result == ENG_OK)
        result = eng_check_wrapping(read, 0, "it is a spectral fingerprint");
    if (result == ENG_OK) {
        for (uint32_t i = 0; i < kValues; ++i)
            values[i] = decoded[i];
    }
    return result;
}
