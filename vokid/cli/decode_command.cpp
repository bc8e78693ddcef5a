#include "vokid/cli/decode_command.h"

#include <new>

#include <nlohmann/json.hpp>

#include "vokid/cli/exit_codes.h"
#include "vokid/cli/json_text.h"
#include "vokid/compare/sub_fingerprints.h"
#include "vokid/document/document_stream.h"
#include "vokid/document/document_text.h"
#include "vokid/fingerprint/recognised_input.h"

namespace vokid {

namespace {

using Json = nlohmann::ordered_json;

// Output is held until it reaches this much, so that a small input that
// proves malformed prints nothing; past it, it is written as it comes (a
// fault found later cuts the output short, and the exit code says so).
constexpr size_t kHeldOutput = size_t{1} << 20;

Json blockOf(const EngineFrames &frames, uint32_t ordinal)
{
    std::vector<uint32_t> masks;
    std::vector<size_t> quiet;
    for (size_t i = 0; i < frames.count; ++i) {
        if (i % ENG_MASK_STRIDE == 0)
            masks.push_back(frames.masks[i]); // the kept ones
        if (frames.quiet[i])
            quiet.push_back(i);
    }
    return {
        {"ord", ordinal},
        {"sub_fingerprints", std::vector<uint32_t>(frames.words, frames.words + frames.count)},
        {"masks", masks},
        {"quiet_frames", quiet},
    };
}

struct Variant {
    std::string name;
    std::string basis;
};

// Which algorithm wrote a streaming document, and what tells it: the weak
// bits of its masks, its six-second blocks, or the query type it came in.
Variant streamingVariant(const std::string &wrapping, uint32_t algorithm, unsigned blockLength,
                         unsigned weakBits)
{
    const std::string wrapped = wrapping.empty() ? "" : "wrapped as " + wrapping;
    const std::string masks = std::to_string(weakBits) + " weak bits per mask";
    const auto joined = [&](const std::string &basis) {
        return wrapped.empty() ? basis : wrapped + ", " + basis;
    };
    if (blockLength == 6)
        return {"engine algorithm 5", joined("six-second blocks")};
    if (algorithm == ENG_ALG_STREAM1)
        return {"Stream1", joined(masks)};
    if (algorithm == ENG_ALG_STREAM4)
        return {"Stream4", joined(masks)};
    if (wrapped.empty())
        return {"Stream1 or Stream4", "no blocks to tell by"};
    return {wrapping == "ZUVOK" ? "Stream1" : "Stream4", wrapped};
}

// A document's members before its blocks or values, from its first block
// (or its end, without blocks).
Json headOf(const EnginePiece &piece)
{
    const bool spectral = piece.spectral != 0;
    const std::string wrapping =
        wrappingName(piece.wrapping, spectral, piece.frames.algorithm);
    const unsigned weakBits =
        piece.frames.count > 0 ? static_cast<unsigned>(__builtin_popcount(piece.frames.masks[0]))
                               : 0;
    const unsigned blockLength = SubFingerprints::of(piece.frames, 0).blockLength;
    const Variant variant =
        spectral ? Variant{"FileFixed or FileFloat",
                           "FileFixed and FileFloat documents cannot be told apart"}
                 : streamingVariant(wrapping, piece.frames.algorithm, blockLength, weakBits);
    Json head = {
        {"family", spectral ? "spectral" : "streaming"},
        {"wrapping", wrapping.empty() ? Json() : Json(wrapping)},
        {"variant", variant.name},
        {"variant_basis", variant.basis},
    };
    if (!spectral) {
        head["block_length"] = blockLength;
        head["weak_bits"] = weakBits;
    }
    return head;
}

// The JSON that readableJson writes for {"file", "documents"}, written a
// block at a time.
class DecodeOutput {
public:
    DecodeOutput(Console &output, const std::string &file) : console(output)
    {
        put("{\n  \"file\": " + readableJson(Json(file), 2) + ",\n  \"documents\": [\n");
    }

    void take(const EnginePiece &piece)
    {
        if (piece.kind == ENG_PIECE_BLOCK) {
            if (piece.block == 1)
                openDocument(piece, true);
            put((piece.block > 1 ? ",\n" : "") + std::string(8, ' ') +
                readableJson(blockOf(piece.frames, piece.block), 8));
            return;
        }
        if (piece.spectral) {
            openDocument(piece, false);
            put(",\n      \"values\": " +
                Json(std::vector<uint16_t>(piece.values, piece.values + 30)).dump());
        } else if (piece.block == 0) {
            openDocument(piece, false);
            put(",\n      \"blocks\": []");
        } else {
            put("\n      ]");
        }
        put("\n    }");
    }

    void finish()
    {
        put("\n  ]\n}\n");
        console.write(held);
    }

private:
    void openDocument(const EnginePiece &piece, bool blocks)
    {
        std::string text = piece.document > 1 ? ",\n    {\n" : "    {\n";
        const Json head = headOf(piece);
        size_t left = head.size();
        for (const auto &member : head.items())
            text += "      " + Json(member.key()).dump() + ": " +
                    readableJson(member.value(), 6) + (--left ? ",\n" : "");
        put(text + (blocks ? ",\n      \"blocks\": [\n" : ""));
    }

    void put(const std::string &text)
    {
        held += text;
        if (held.size() >= kHeldOutput) {
            console.write(held);
            held.clear();
        }
    }

    Console &console;
    std::string held;
};

} // namespace

int runDecode(const std::string &input, Console &console)
{
    try {
        DocumentStream documents(utf8Chunks(inputChunks(input)));
        DecodeOutput output(console, input);
        EnginePiece piece;
        while (documents.next(piece))
            output.take(piece);
        output.finish();
        return kExitSuccess;
    } catch (const std::bad_alloc &) {
        console.failure(input, "out of memory");
    } catch (const std::exception &error) {
        console.failure(input, error.what());
    }
    return kExitFailure;
}

} // namespace vokid
