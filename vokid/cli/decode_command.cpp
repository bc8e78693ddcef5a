#include "vokid/cli/decode_command.h"

#include <new>

#include <nlohmann/json.hpp>

#include "vokid/cli/exit_codes.h"
#include "vokid/cli/json_text.h"
#include "vokid/document/block_decoder.h"
#include "vokid/document/document_reader.h"
#include "vokid/fingerprint/recognised_input.h"

namespace vokid {

namespace {

nlohmann::ordered_json streamingBlocks(const Document &document)
{
    nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
    for (size_t b = 0; b < document.blockCount(); ++b) {
        const auto words = document.words.begin() + static_cast<long>(b * kBlockWords);
        const auto masks = document.masks.begin() + static_cast<long>(b * kKeptMasks);
        std::vector<size_t> quiet;
        for (size_t i = 0; i < kBlockWords; ++i)
            if (document.quiet[b * kBlockWords + i])
                quiet.push_back(i);
        blocks.push_back({
            {"ord", b + 1},
            {"sub_fingerprints", std::vector<uint32_t>(words, words + kBlockWords)},
            {"masks", std::vector<uint32_t>(masks, masks + kKeptMasks)},
            {"quiet_frames", quiet},
        });
    }
    return blocks;
}

nlohmann::ordered_json describe(const Document &document)
{
    const bool streaming = document.family == Family::Streaming;
    nlohmann::ordered_json object = {
        {"family", streaming ? "streaming" : "spectral"},
        {"wrapping", document.wrapping.empty() ? nlohmann::ordered_json()
                                               : nlohmann::ordered_json(document.wrapping)},
        {"variant", document.variant},
        {"variant_basis", document.variantBasis},
    };
    if (!streaming) {
        object["values"] = document.values;
        return object;
    }
    object["block_length"] = document.blockLength;
    object["weak_bits"] = document.weakBits;
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
