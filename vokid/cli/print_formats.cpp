#include "vokid/cli/print_formats.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "vokid/cli/json_text.h"
#include "vokid/document/document_reader.h"

namespace vokid {

namespace {

// The engine's own document read back: it holds the blocks, or the values.
Document documentOf(const Fingerprint &fingerprint)
{
    return readDocuments(fingerprint.xml).front();
}

std::string json(const std::string &file, const Fingerprint &fingerprint, bool raw)
{
    const Document document = documentOf(fingerprint);
    const bool streaming = document.family == Family::Streaming;
    nlohmann::ordered_json object = {
        {"file", file},
        {"duration", roundedSeconds(fingerprint.duration)},
        {"sample_rate", fingerprint.sampleRate},
        {"channels", fingerprint.channels},
        {"algorithm", algorithmName(fingerprint.algorithm)},
        {"algorithm_name", streaming ? "Velmora" : "Quorindavel"},
        {"algorithm_version", "1.1"},
    };
    if (streaming) {
        object["block_length"] = document.blockLength;
        object["blocks"] = document.blockTexts;
        if (raw) {
            object["sub_fingerprints"] = document.words;
            object["masks"] = document.masks;
        }
    } else {
        object["values"] = document.values;
    }
    return object.dump() + "\n";
}

std::string text(const std::string &file, const Fingerprint &fingerprint)
{
    const Document document = documentOf(fingerprint);
    std::string joined;
    if (document.family == Family::Streaming) {
        for (const std::string &block : document.blockTexts)
            joined += (joined.empty() ? "" : ",") + block;
    } else {
        for (uint32_t value : document.values)
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
