// The lookup server's query bodies on any bytes: each must give queries or
// a one-line LookupBodyError and nothing else. A query holds a document or
// a one-line reason, never both; its ID is at most 64 characters; a
// document is one its TYPE carries. The answers to those queries (their
// reasons and IDs echoed) must be written as XML a strict reader takes:
// UTF-8 throughout, only characters XML allows, no line break inside a
// line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "vokid/server/lookup_protocol.h"

namespace {

using fuzz_support::require;

bool oneLine(const std::string &text)
{
    return !text.empty() && text.find('\n') == std::string::npos;
}

void checkQuery(const vokid::LookupQuery &query)
{
    size_t characters = 0;
    for (char c : query.id)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    require(characters <= vokid::kMaxLookupIdLength, "an ID longer than 64 characters");
    if (!query.document) {
        require(oneLine(query.error), "an unusable query without a one-line reason");
        return;
    }
    const vokid::Document &document = *query.document;
    require(query.error.empty(), "a document with a reason");
    require(document.wrapping == query.type, "a document not wrapped as its TYPE");
    const bool stream1 =
        document.family == vokid::Family::Streaming && document.algorithm == ENG_ALG_STREAM1;
    const bool qdv =
        document.family == vokid::Family::Spectral || document.algorithm == ENG_ALG_STREAM4;
    require(query.type == "ZUVOK" ? stream1 : query.type == "QDV" && qdv,
            "a document its TYPE does not carry");
}

// The length of the UTF-8 character at `at` that XML allows, 0 otherwise
// (written out here rather than shared with the code under test).
FUZZ_UNTRACED size_t allowedCharacter(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80)
        return lead >= 0x20 ? 1 : 0; // tabs and line breaks are written as references
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    uint32_t c = length == 0 ? 0 : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool allowed = (c >= 0x80 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
                         (c >= 0x10000 && c <= 0x10FFFF);
    return length != 0 && c >= smallest[length] && allowed ? length : 0;
}

FUZZ_UNTRACED void checkResponse(const std::string &response)
{
    size_t at = 0;
    while (at < response.size()) {
        if (response[at] == '\n') { // the end of a line
            ++at;
            continue;
        }
        const size_t length = allowedCharacter(response, at);
        require(length != 0, "a byte XML does not allow in the response");
        at += length;
    }
    require(!response.empty() && response.back() == '\n', "a response not ended by a line feed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view body(reinterpret_cast<const char *>(data), size);
    std::vector<vokid::LookupQuery> queries;
    try {
        queries = vokid::parseLookupBody(body);
    } catch (const vokid::LookupBodyError &error) {
        require(oneLine(error.what()), "a body error that is not one line");
        return 0;
    }
    require(!queries.empty() && queries.size() <= vokid::kMaxLookupQueries,
            "no queries, or too many");
    std::vector<vokid::LookupAnswer> answers;
    for (const vokid::LookupQuery &query : queries) {
        checkQuery(query);
        vokid::LookupAnswer answer;
        answer.id = query.id;
        answer.status = query.document ? vokid::LookupStatus::NoMatch : vokid::LookupStatus::Error;
        answer.message = query.error;
        answers.push_back(answer);
    }
    checkResponse(vokid::writeLookupResponse(answers));
    return 0;
}
