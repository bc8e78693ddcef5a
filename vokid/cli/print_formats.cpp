#include "vokid/cli/print_formats.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "vokid/cli/json_text.h"
#include "vokid/document/document.h"

namespace vokid {

namespace {

// The BASE64 text of every block, as the document carries them.
std::vector<std::string> blockTexts(const Fingerprint &fingerprint)
{
    std::vector<std::string> texts;
    const size_t blocks = fingerprint.frames.size() / ENG_BLOCK_FRAMES;
    for (size_t b = 0; b < blocks; ++b)
        texts.push_back(blockText(fingerprint.frames, engineId(fingerprint.algorithm), b));
    return texts;
}

// The masks a document keeps: those of sub-fingerprints 0, 3, ..., 255 of
// each block.
std::vector<uint32_t> keptMasks(const SubFingerprints &frames)
{
    std::vector<uint32_t> kept;
    for (size_t i = 0; i < frames.size(); ++i)
        if (i % ENG_BLOCK_FRAMES % ENG_MASK_STRIDE == 0)
            kept.push_back(frames.weak[i]);
    return kept;
}

std::string json(const std::string &file, const Fingerprint &fingerprint, bool raw)
{
    nlohmann::ordered_json object = {
        {"file", file},
        {"duration", roundedSeconds(fingerprint.duration)},
        {"sample_rate", fingerprint.sampleRate},
        {"channels", fingerprint.channels},
        {"algorithm", algorithmName(fingerprint.algorithm)},
    };
    if (familyOf(fingerprint.algorithm) == Family::Streaming) {
        object["block_length"] = fingerprint.frames.blockLength;
        object["blocks"] = blockTexts(fingerprint);
        if (raw) {
            object["sub_fingerprints"] = fingerprint.frames.words;
            object["masks"] = keptMasks(fingerprint.frames);
        }
    } else {
        object["values"] = fingerprint.values;
    }
    return compactJson(object) + "\n";
}

std::string text(const std::string &file, const Fingerprint &fingerprint)
{
    std::string joined;
    if (familyOf(fingerprint.algorithm) == Family::Streaming) {
        for (const std::string &block : blockTexts(fingerprint))
            joined += (joined.empty() ? "" : ",") + block;
    } else {
        for (uint32_t value : fingerprint.values)
            joined += (joined.empty() ? "" : ",") + std::to_string(value);
    }
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.2f", fingerprint.duration);
    return "FILE=" + file + "\nDURATION=" + duration +
           "\nALGORITHM=" + algorithmName(fingerprint.algorithm) + "\nFINGERPRINT=" + joined + "\n";
}

} // namespace

std::string formatFingerprint(const std::string &file, const Fingerprint &fingerprint,
                              const PrintStyle &style)
{
    switch (style.format) {
    case PrintFormat::Json:
        return json(file, fingerprint, style.raw);
    case PrintFormat::Text:
        return text(file, fingerprint);
    case PrintFormat::Xml:
        break;
    }
    return fingerprint.xml;
}

const char *recordSeparator(const PrintStyle &style)
{
    return style.format == PrintFormat::Text ? "\n" : "";
}

} // namespace vokid
