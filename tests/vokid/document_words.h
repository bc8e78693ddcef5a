// The sub-fingerprints of a raw document's blocks, read by the tests' own
// decoder (not the engine's), for the vokid tests that check what was read.
#ifndef VOK_TESTS_VOKID_DOCUMENT_WORDS_H
#define VOK_TESTS_VOKID_DOCUMENT_WORDS_H

#include <cstdint>
#include <string>
#include <vector>

#include "tests/libvok/algo/stream/stream_decoding.h"
#include "tests/libvok/engine/documents.h"

namespace vokid_test {

inline std::vector<uint32_t> documentWords(const std::string &document)
{
    std::vector<uint32_t> words;
    for (const std::string &text : documents::block_texts(document)) {
        const auto block = stream_test::decode_block(stream_test::base64_decode(text));
        words.insert(words.end(), block.words.begin(), block.words.end());
    }
    return words;
}

} // namespace vokid_test

#endif
