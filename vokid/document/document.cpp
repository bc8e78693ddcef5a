#include "vokid/document/document.h"


#include "vokid/document/document_text.h"
#include "vokid/support/engine.h"

namespace vokid {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view skipSpace(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

// What one decoder made of the text, or why it could not.
struct Attempt {
    ResultCode result = ENG_OK;
    size_t consumed = 0; // on failure: the offset of the fault
    std::string problem;
};

// Owns the arrays of decoded frames.
struct DecodedFrames {
    EngineFrames frames{};
    ~DecodedFrames() { eng_free_frames(&frames); }
};

Attempt readStreaming(std::string_view text, Document &document)
{
    Attempt attempt;
    DecodedFrames decoded;
    attempt.result =
        eng_decode_stream_xml(text.data(), text.size(), &decoded.frames, &attempt.consumed);
    attempt.problem = eng_decode_problem();
    if (attempt.result == ENG_OK) {
        document.family = Family::Streaming;
        document.algorithm = decoded.frames.algorithm;
        document.frames = SubFingerprints::of(decoded.frames);
    }
    return attempt;
}

Attempt readSpectral(std::string_view text, Document &document)
{
    Attempt attempt;
    int16_t values[ENG_SPECTRAL_VALUES];
    attempt.result = eng_decode_spectral_xml(text.data(), text.size(), values, &attempt.consumed);
    attempt.problem = eng_decode_problem();
    if (attempt.result == ENG_OK) {
        document.family = Family::Spectral;
        for (int16_t value : values)
            document.values.push_back(static_cast<uint16_t>(value));
    }
    return attempt;
}

// The query type a wrapped document came in: the one its algorithm takes
// (Stream1 alone is wrapped as ZUVOK), or for a document without blocks,
// the one its wrapping names.
std::string wrappingOf(std::string_view text, const Document &document)
{
    if (skipSpace(text).substr(0, 20) != "<ZUSERVER_QUERY_LIST")
        return "";
    if (document.family == Family::Streaming && document.algorithm == 0)
        return text.find("TYPE=\"ZUVOK\"") != std::string_view::npos ? "ZUVOK" : "QDV";
    return document.algorithm == ENG_ALG_STREAM1 ? "ZUVOK" : "QDV";
}

class Reader {
public:
    explicit Reader(std::string_view input) : text(input) {}

    std::vector<Document> readAll()
    {
        while (!skipSpace(text.substr(at)).empty())
            readOne();
        if (documents.empty())
            throw DecodeError("no fingerprint document in it");
        return std::move(documents);
    }

private:
    void readOne()
    {
        const std::string_view rest = text.substr(at);
        Document document;
        const Attempt streaming = readStreaming(rest, document);
        if (streaming.result == ENG_OK)
            return keep(std::move(document), rest.substr(0, streaming.consumed));
        const Attempt spectral = readSpectral(rest, document);
        if (spectral.result == ENG_OK)
            return keep(std::move(document), rest.substr(0, spectral.consumed));
        // The decoder that read further met the document's own fault.
        fail(spectral.consumed > streaming.consumed ? spectral : streaming);
    }

    void keep(Document document, std::string_view used)
    {
        document.wrapping = wrappingOf(used, document);
        documents.push_back(std::move(document));
        at += used.size();
    }

    // The engine's words say where: a line and column of the text given,
    // or a block and a byte in it.
    [[noreturn]] void fail(const Attempt &attempt) const
    {
        if (attempt.result != ENG_E_BAD_DOCUMENT)
            throw EngineError("read the document", attempt.result);
        throw DecodeError("document " + std::to_string(documents.size() + 1) + ": " +
                          attempt.problem);
    }

    std::string_view text;
    size_t at = 0;
    std::vector<Document> documents;
};

} // namespace

std::vector<Document> readDocuments(std::string_view text)
{
    startEngine();
    return Reader(text).readAll();
}

bool looksLikeDocuments(std::string_view bytes)
{
    const std::string text = utf8Text(bytes);
    const std::string_view start = skipSpace(text);
    for (std::string_view opening : {"<?xml", "<ZUVOK_FP_QUERY", "<ZUSERVER_QUERY_LIST"})
        if (start.substr(0, opening.size()) == opening)
            return true;
    return false;
}

bool onlySpaceSoFar(std::string_view bytes)
{
    return skipSpace(DocumentText().take(bytes)).empty();
}

std::string blockText(const SubFingerprints &frames, uint32_t algorithm, size_t block)
{
    startEngine();
    const EngineFrames view = frames.engineFrames(algorithm, frames.size());
    EngineText text;
    checkEngine("encode a block", eng_encode_stream_block(&view, block, text.out()));
    return text.str();
}

} // namespace vokid
