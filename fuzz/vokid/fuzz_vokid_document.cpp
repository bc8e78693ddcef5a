// vokid's document reader on any text. It must answer documents or a
// DecodeError and nothing else, and what it accepts must be exactly what
// the engine writes: every block it takes is the canonical encoding of the
// words it read (encoding them again gives the same BASE64 text), masks
// mark the weak bits of their variant, and quiet frames hold generator
// words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "vokid/document/base64.h"
#include "vokid/document/block_decoder.h"
#include "vokid/document/byte_code.h"
#include "vokid/document/document_reader.h"
#include "vokid/document/quiet_frames.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The block encoding, written out here from the byte code.
class BitWriter {
public:
    void put(uint32_t bits, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i, ++position) {
            if (position % 8 == 0)
                bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>((bits >> i & 1u) << (position % 8));
        }
    }
    void run(const uint32_t *words, size_t count)
    {
        put(words[0], 32);
        for (size_t i = 1; i < count; ++i) {
            const uint32_t x = words[i - 1] ^ words[i];
            for (unsigned shift = 0; shift < 32; shift += 8) {
                const vokid::ByteCodeEntry code = vokid::byteCode()[x >> shift & 0xFFu];
                put(code.code, code.length);
            }
        }
    }
    std::vector<uint8_t> bytes;

private:
    size_t position = 0;
};

void checkStreaming(const vokid::Document &document)
{
    const size_t blocks = document.blockTexts.size();
    require(document.words.size() == blocks * vokid::kBlockWords);
    require(document.masks.size() == blocks * vokid::kKeptMasks);
    require(document.quiet.size() == document.words.size());
    for (size_t b = 0; b < blocks; ++b) {
        BitWriter writer;
        writer.run(&document.words[b * vokid::kBlockWords], vokid::kBlockWords);
        writer.run(&document.masks[b * vokid::kKeptMasks], vokid::kKeptMasks);
        require(vokid::encodeBase64(writer.bytes.data(), writer.bytes.size()) ==
                document.blockTexts[b]);
    }
    for (uint32_t mask : document.masks)
        require(static_cast<unsigned>(__builtin_popcount(mask)) == document.weakBits);
    // The quiet words, in order, are the generator's from its first or
    // second word on.
    vokid::QuietWordGenerator generator;
    uint32_t expected = generator.next();
    bool started = false;
    for (size_t i = 0; i < document.words.size(); ++i) {
        if (!document.quiet[i])
            continue;
        if (!started && document.words[i] != expected)
            expected = generator.next();
        require(document.words[i] == expected);
        started = true;
        expected = generator.next();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    try {
        for (const vokid::Document &document : vokid::readDocuments(text)) {
            if (document.family == vokid::Family::Streaming)
                checkStreaming(document);
            else
                require(document.values.size() == vokid::kSpectralValues);
        }
    } catch (const vokid::DecodeError &) {
    }
    return 0;
}
