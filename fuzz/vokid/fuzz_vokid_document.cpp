// vokid's reading of documents given as input, on any text: it must answer
// documents or a DecodeError and nothing else; what it reads is whole
// blocks, each frame with its mask and quiet flag, and a streaming
// document written again by the engine reads back to the same numbers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "vokid/document/document.h"
#include "vokid/support/engine.h"

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void checkStreaming(const vokid::Document &document)
{
    const vokid::SubFingerprints &frames = document.frames;
    require(frames.words.size() == document.blockCount() * ENG_BLOCK_FRAMES);
    require(frames.weak.size() == frames.words.size());
    require(frames.quiet.size() == frames.words.size());
    require((document.algorithm == 0) == frames.words.empty());
    if (frames.words.empty())
        return;
    const EngineFrames view = frames.engineFrames(document.algorithm, frames.size());
    vokid::EngineText text;
    require(eng_encode_stream_xml(&view, text.out()) == ENG_OK);
    const std::vector<vokid::Document> again = vokid::readDocuments(text.str());
    require(again.size() == 1 && again[0].algorithm == document.algorithm);
    require(again[0].frames.words == frames.words && again[0].frames.weak == frames.weak &&
            again[0].frames.quiet == frames.quiet);
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
                require(document.values.size() == ENG_SPECTRAL_VALUES);
        }
    } catch (const vokid::DecodeError &) {
    }
    return 0;
}
