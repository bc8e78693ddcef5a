// The piecewise document decoder on any text, fed in chunks of two sizes
// the input chooses.
//
// Checks: each feeding answers the same pieces (kinds, documents, blocks,
// offsets, frames and values; before a fault, the pieces of one feeding
// begin those of the other) and ends the same way, ENG_E_BAD_DOCUMENT
// with the same words and offset, or ENG_E_NO_MEMORY when an allocation
// was failed; a fault's offset lies in the text; pieces come in order
// (blocks numbered from 1 within their document, documents from 1, their
// end after their blocks); a block holds 256 frames, each its nearest kept
// mask, quiet flags 0 or 1; and nothing is left allocated. When the decoder
// reads the whole text, the whole-text decoders, stepping through it as a
// caller does, give the same frames and values.
//
// Input: byte 0 and byte 1 choose the two chunk sizes (1 to 256 bytes, and
// byte 1 times 97 + 1), byte 2 an allocation to fail in the second feeding
// (0: none); the rest is the text.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/eng_memory.h"
#include "fuzz/fuzz_support.h"

using fuzz_support::require;

namespace {

struct Read {
    ResultCode result = ENG_OK;
    std::string problem;
    size_t offset = 0;
    std::string pieces; // every piece, flattened
    std::vector<uint32_t> words, masks, quiet; // of every block, in order
    std::vector<int16_t> values;               // of every spectral document
    uint32_t documents = 0;
};

void append(std::string &out, const void *bytes, size_t count)
{
    out.append(static_cast<const char *>(bytes), count);
}

void check_block(const EnginePiece &piece, Read &read)
{
    const EngineFrames &frames = piece.frames;
    require(frames.count == 256 && frames.complete == 256, "a block holds 256 frames");
    for (size_t i = 0; i < 256; ++i) {
        const size_t kept = (i + 1) / 3 * 3;
        require(frames.masks[i] == frames.masks[kept < 256 ? kept : 255],
                "each frame takes its nearest kept mask");
        require(frames.quiet[i] <= 1, "quiet flags 0 or 1");
        read.words.push_back(frames.words[i]);
        read.masks.push_back(frames.masks[i]);
        read.quiet.push_back(frames.quiet[i]);
    }
}

// Takes a piece; false at the end of the text.
bool take(const EnginePiece &piece, size_t fed, Read &read, uint32_t &blocks)
{
    require(piece.offset <= fed, "a piece ends in the text fed");
    if (piece.kind == ENG_PIECE_DONE)
        return false;
    require(piece.document == read.documents + 1, "documents in order");
    if (piece.kind == ENG_PIECE_BLOCK) {
        require(piece.spectral == 0 && piece.block == ++blocks, "blocks in order");
        check_block(piece, read);
    } else {
        require(piece.block == blocks, "a document ends after its blocks");
        if (piece.spectral)
            read.values.insert(read.values.end(), piece.values, piece.values + 30);
        read.documents += 1;
        blocks = 0;
    }
    append(read.pieces, &piece.kind, 4 * 5);
    append(read.pieces, &piece.offset, sizeof piece.offset);
    append(read.pieces, &piece.frames.frame_seconds, 8);
    append(read.pieces, &piece.frames.algorithm, 4);
    return true;
}

bool same(const Read &a, const Read &b)
{
    return a.pieces == b.pieces && a.words == b.words && a.masks == b.masks &&
           a.quiet == b.quiet && a.values == b.values;
}

template <typename T> bool starts(const T &a, const T &b)
{
    return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// One read's pieces begin the other's.
bool prefix(const Read &a, const Read &b)
{
    const bool shorter = a.pieces.size() <= b.pieces.size();
    const Read &first = shorter ? a : b, &second = shorter ? b : a;
    return starts(first.pieces, second.pieces) && starts(first.words, second.words) &&
           starts(first.masks, second.masks) && starts(first.quiet, second.quiet) &&
           starts(first.values, second.values);
}

Read feed(const char *text, size_t size, size_t chunk, uint32_t fail_at)
{
    Read read;
    EngineDecoder *decoder = nullptr;
    eng_mem_fail_allocation(fail_at);
    read.result = eng_decoder_create(&decoder);
    size_t fed = 0;
    uint32_t blocks = 0;
    while (read.result == ENG_OK) {
        EnginePiece piece;
        read.result = eng_decoder_next(decoder, &piece);
        if (read.result != ENG_OK) {
            read.offset = piece.offset;
            read.problem = eng_decode_problem();
        } else if (piece.kind == ENG_PIECE_MORE) {
            const size_t now = std::min(chunk, size - fed);
            read.result = now ? eng_decoder_feed(decoder, text + fed, now) : eng_decoder_end(decoder);
            fed += now;
        } else if (!take(piece, fed, read, blocks)) {
            break;
        }
    }
    eng_mem_fail_allocation(0);
    eng_decoder_destroy(&decoder);
    return read;
}

// The whole-text decoders stepping through the documents; false when they
// refuse the text.
bool whole(const char *text, size_t size, Read &read)
{
    size_t at = 0;
    while (at < size) {
        while (at < size && std::strchr(" \t\r\n", text[at]) && text[at])
            ++at;
        if (at == size)
            break;
        EngineFrames frames{};
        int16_t values[30];
        size_t consumed = 0;
        if (eng_decode_stream_xml(text + at, size - at, &frames, &consumed) == ENG_OK) {
            read.words.insert(read.words.end(), frames.words, frames.words + frames.count);
            read.masks.insert(read.masks.end(), frames.masks, frames.masks + frames.count);
            read.quiet.insert(read.quiet.end(), frames.quiet, frames.quiet + frames.count);
            eng_free_frames(&frames);
        } else if (eng_decode_spectral_xml(text + at, size - at, values, &consumed) == ENG_OK) {
            read.values.insert(read.values.end(), values, values + 30);
        } else {
            return false;
        }
        read.documents += 1;
        at += consumed;
    }
    return true;
}

} // namespace

FUZZ_STARTS_THE_ENGINE

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const char *text = reinterpret_cast<const char *>(data + 3);
    const size_t length = size - 3;
    const int64_t live = eng_mem_live_blocks();
    const Read small = feed(text, length, 1 + data[0], 0);
    const Read large = feed(text, length, 1 + data[1] * size_t{97}, data[2]);
    require(eng_mem_live_blocks() == live, "nothing left allocated");
    require(small.result == ENG_OK || small.result == ENG_E_BAD_DOCUMENT ||
                small.result == ENG_E_NO_MEMORY,
            "read, refused, or out of memory");
    if (small.result == ENG_E_BAD_DOCUMENT)
        require(small.offset <= length && !small.problem.empty(), "a fault in the text, in words");
    if (large.result != ENG_E_NO_MEMORY) {
        require(small.result == large.result && small.problem == large.problem &&
                    small.offset == large.offset,
                "the same end whatever the chunks");
        // Before a fault, the blocks read depend on the chunks: FPDATA's
        // document is read as far as its text has come when the text around
        // it proves damaged further on.
        require(small.result == ENG_OK ? same(small, large) : prefix(small, large),
                "the same pieces whatever the chunks");
    }
    Read reference;
    if (small.result == ENG_OK) {
        require(whole(text, length, reference), "the whole-text decoders read it too");
        require(reference.documents == small.documents && reference.words == small.words &&
                    reference.masks == small.masks && reference.quiet == small.quiet &&
                    reference.values == small.values,
                "to the same frames and values");
    }
    return 0;
}
