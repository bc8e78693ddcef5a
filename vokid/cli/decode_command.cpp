#include "vokid/cli/decode_command.h"

#include <new>

#include <nlohmann/json.hpp>

#include "vokid/cli/exit_codes.h"
#include "vokid/cli/json_text.h"
#include "vokid/document/document.h"
#include "vokid/fingerprint/recognised_input.h"

namespace vokid {

namespace {

nlohmann::ordered_json streamingBlocks(const Document &document)
{
    const SubFingerprints &frames = document.frames;
    nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
    for (size_t b = 0; b < document.blockCount(); ++b) {
        const size_t first = b * ENG_BLOCK_FRAMES;
        std::vector<uint32_t> words, masks;
        std::vector<size_t> quiet;
        for (size_t i = 0; i < ENG_BLOCK_FRAMES; ++i) {
            words.push_back(frames.words[first + i]);
            if (i % ENG_MASK_STRIDE == 0)
                masks.push_back(frames.weak[first + i]); // the kept ones
            if (frames.quiet[first + i])
                quiet.push_back(i);
        }
        blocks.push_back({
            {"ord", b + 1},
            {"sub_fingerprints", words},
            {"masks", masks},
            {"quiet_frames", quiet},
        });
    }
    return blocks;
}

struct Variant {
    std::string name;
    std::string basis;
};

// Which algorithm wrote a streaming document, and what tells it: the weak
// bits of its masks, its six-second blocks, or the query type it came in.
Variant streamingVariant(const Document &document, unsigned weakBits)
{
    const std::string wrapped =
        document.wrapping.empty() ? "" : "wrapped as " + document.wrapping;
    const std::string masks = std::to_string(weakBits) + " weak bits per mask";
    const auto joined = [&](const std::string &basis) {
        return wrapped.empty() ? basis : wrapped + ", " + basis;
    };
    if (document.frames.blockLength == 6)
        return {"engine algorithm 5", joined("six-second blocks")};
    if (document.algorithm == ENG_ALG_STREAM1)
        return {"Stream1", joined(masks)};
    if (document.algorithm == ENG_ALG_STREAM4)
        return {"Stream4", joined(masks)};
    if (wrapped.empty())
        return {"Stream1 or Stream4", "no blocks to tell by"};
    return {document.wrapping == "ZUVOK" ? "Stream1" : "Stream4", wrapped};
}

nlohmann::ordered_json describe(const Document &document)
{
    const bool streaming = document.family == Family::Streaming;
    const unsigned weakBits =
        streaming && document.frames.size() > 0
            ? static_cast<unsigned>(__builtin_popcount(document.frames.weak[0]))
            : 0;
    const Variant variant =
        streaming ? streamingVariant(document, weakBits)
                  : Variant{"FileFixed or FileFloat",
                            "FileFixed and FileFloat documents cannot be told apart"};
    nlohmann::ordered_json object = {
        {"family", streaming ? "streaming" : "spectral"},
        {"wrapping", document.wrapping.empty() ? nlohmann::ordered_json()
                                               : nlohmann::ordered_json(document.wrapping)},
        {"variant", variant.name},
        {"variant_basis", variant.basis},
    };
    if (!streaming) {
        object["values"] = document.values;
        return object;
    }
    object["block_length"] = document.frames.blockLength;
    object["weak_bits"] = weakBits;
    object["blocks"] = streamingBlocks(document);
    return object;
}

} // namespace

int runDecode(const std::string &input, Console &console)
{
    try {
        const std::vector<Document> documents = readDocuments(readInputText(input));
        nlohmann::ordered_json described = nlohmann::ordered_json::array();
        for (const Document &document : documents)
            described.push_back(describe(document));
        console.write(readableJson({{"file", input}, {"documents", described}}));
        return kExitSuccess;
    } catch (const std::bad_alloc &) {
        console.failure(input, "out of memory");
    } catch (const std::exception &error) {
        console.failure(input, error.what());
    }
    return kExitFailure;
}

} // namespace vokid
