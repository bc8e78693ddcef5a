// A text read by the piecewise decoder (eng_decoder_*), fed in chunks of a
// given size, and the same text stepped through by the whole-text decoders
// as a caller steps through several documents: both give their documents
// in one form, so that a test compares them.
#ifndef VOK_TESTS_LIBVOK_ENGINE_PIECEWISE_H
#define VOK_TESTS_LIBVOK_ENGINE_PIECEWISE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <vok/vok_engine.h>

namespace piecewise {

struct Document {
    bool spectral = false;
    uint32_t algorithm = 0;
    double frame_seconds = 0;
    double first_offset_seconds = 0;
    std::vector<uint32_t> words, masks;
    std::vector<uint8_t> quiet;
    std::vector<int16_t> values;

    bool operator==(const Document &other) const
    {
        return spectral == other.spectral && algorithm == other.algorithm &&
               frame_seconds == other.frame_seconds &&
               first_offset_seconds == other.first_offset_seconds && words == other.words &&
               masks == other.masks && quiet == other.quiet && values == other.values;
    }
};

struct Read {
    ResultCode result = ENG_OK;
    std::string problem; // of a refusal
    size_t offset = 0;   // of a refusal
    std::vector<Document> documents;
    std::vector<uint32_t> wrappings; // the piecewise decoder's ENG_WRAPPED_* of each
};

inline void append_frames(const EngineFrames &frames, Document &document)
{
    document.algorithm = frames.algorithm;
    document.frame_seconds = frames.frame_seconds;
    document.first_offset_seconds = frames.first_offset_seconds;
    document.words.insert(document.words.end(), frames.words, frames.words + frames.count);
    document.masks.insert(document.masks.end(), frames.masks, frames.masks + frames.count);
    document.quiet.insert(document.quiet.end(), frames.quiet, frames.quiet + frames.count);
}

// Takes one piece into the documents read; false at the end of the text.
inline bool take(const EnginePiece &piece, Read &read, Document &current)
{
    if (piece.kind == ENG_PIECE_BLOCK) {
        EXPECT_EQ(read.documents.size() + 1, piece.document);
        EXPECT_EQ(current.words.size() / 256 + 1, piece.block);
        append_frames(piece.frames, current);
    } else if (piece.kind == ENG_PIECE_END) {
        EXPECT_EQ(current.words.size() / 256, piece.block);
        current.spectral = piece.spectral != 0;
        if (current.spectral) {
            current.values.assign(piece.values, piece.values + 30);
        } else {
            current.algorithm = piece.frames.algorithm;
            current.frame_seconds = piece.frames.frame_seconds;
            current.first_offset_seconds = piece.frames.first_offset_seconds;
        }
        read.documents.push_back(current);
        read.wrappings.push_back(piece.wrapping);
        current = Document();
    }
    return piece.kind != ENG_PIECE_DONE;
}

// The piecewise decoder fed `chunk` bytes at a time.
inline Read read_piecewise(const std::string &text, size_t chunk)
{
    Read read;
    EngineDecoder *decoder = nullptr;
    read.result = eng_decoder_create(&decoder);
    if (read.result != ENG_OK)
        return read; // out of memory
    Document current;
    size_t fed = 0;
    for (;;) {
        EnginePiece piece;
        read.result = eng_decoder_next(decoder, &piece);
        if (read.result != ENG_OK) {
            read.problem = eng_decode_problem();
            read.offset = piece.offset;
            break;
        }
        if (piece.kind == ENG_PIECE_MORE) {
            const size_t now = std::min(chunk, text.size() - fed);
            read.result = now > 0 ? eng_decoder_feed(decoder, text.data() + fed, now)
                                  : eng_decoder_end(decoder);
            if (read.result != ENG_OK)
                break; // out of memory
            fed += now;
        } else if (!take(piece, read, current)) {
            break;
        }
    }
    eng_decoder_destroy(&decoder);
    return read;
}

// The whole-text decoders stepping through the documents of the text, the
// streaming one first, as vokid reads a file of documents.
inline Read read_whole(const std::string &text)
{
    Read read;
    size_t at = text.find_first_not_of(" \t\r\n");
    while (at != std::string::npos && at < text.size()) {
        Document document;
        EngineFrames frames{};
        int16_t values[30];
        size_t consumed = 0;
        read.result = eng_decode_stream_xml(text.data() + at, text.size() - at, &frames, &consumed);
        if (read.result == ENG_OK) {
            append_frames(frames, document);
            eng_free_frames(&frames);
        } else {
            read.result =
                eng_decode_spectral_xml(text.data() + at, text.size() - at, values, &consumed);
            document.spectral = true;
            document.values.assign(values, values + 30);
        }
        if (read.result != ENG_OK) {
            read.problem = eng_decode_problem();
            return read;
        }
        read.documents.push_back(document);
        at = text.find_first_not_of(" \t\r\n", at + consumed);
    }
    return read;
}

} // namespace piecewise

#endif
