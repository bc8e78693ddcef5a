#include "cli/output_modes.h"

#include <cstring>

namespace Zuvanti {

const char *const ServerQueryMode = "zuserver";

namespace {

const char kOpening[] = "<ZUSERVER_QUERY_LIST><ZUSERVER_QUERY ID=\"1\" OUT=\"ALBUM_RESPONSE\">";
const char kQdvData[] = "<FPDATA TYPE=\"QDV\">";
const char kZuvokData[] = "<FPDATA TYPE=\"ZUVOK\">";
const char kClosing[] = "</FPDATA></ZUSERVER_QUERY></ZUSERVER_QUERY_LIST>";
const char kQueryEnd[] = "\n\n\n\n\n";

std::string wrap(const char *data_opening, const std::string &escaped)
{
    std::string query;
    query.reserve(sizeof kOpening + std::strlen(data_opening) + escaped.size() + sizeof kClosing);
    query += kOpening;
    query += data_opening;
    query += escaped;
    query += kClosing;
    return query;
}

} // namespace

std::string escapeMarkup(const char *text)
{
    size_t length = 0;
    for (const char *p = text; *p; ++p)
        length += *p == '<' || *p == '>' ? 4 : *p == '"' ? 6 : 1;
    std::string escaped;
    escaped.reserve(length);
    for (const char *p = text; *p; ++p) {
        switch (*p) {
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += *p;
        }
    }
    return escaped;
}

std::string wrapQdvQuery(const std::string &escaped)
{
    return wrap(kQdvData, escaped);
}

std::string wrapZuvokQuery(const std::string &escaped)
{
    return wrap(kZuvokData, escaped);
}

bool writeFingerprint(const char *text, std::FILE *out, AlgorithmFlags flags,
                      const std::string &outputMode)
{
    if (outputMode == ServerQueryMode) {
        const std::string escaped = escapeMarkup(text);
        const std::string query =
            (flags & Stream1) ? wrapZuvokQuery(escaped) : wrapQdvQuery(escaped);
        std::fwrite(query.data(), 1, query.size(), out);
        std::fputs(kQueryEnd, out);
    } else {
        std::fputs(text, out);
    }
    // A stream error, once set, stays set: one test after the flush covers
    // every write above.
    return std::fflush(out) == 0 && !std::ferror(out);
}

} // namespace Zuvanti
