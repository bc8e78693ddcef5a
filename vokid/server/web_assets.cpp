#include "vokid/server/web_assets.h"

#include <cstddef>

namespace vokid {

namespace {

struct EmbeddedFile {
    const char *name;
    const unsigned char *bytes;
    size_t size;
};

// Written by the build (cmake/embed_files.cmake) from vokid/server/web/.
#include "web_assets_data.inc"

const char *contentTypeOf(std::string_view name)
{
    const auto endsWith = [&](std::string_view suffix) {
        return name.size() >= suffix.size() &&
               name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith(".html"))
        return "text/html; charset=utf-8";
    if (endsWith(".css"))
        return "text/css; charset=utf-8";
    if (endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (endsWith(".svg"))
        return "image/svg+xml";
    if (endsWith(".png"))
        return "image/png";
    return "application/octet-stream";
}

} // namespace

std::optional<WebAsset> webAsset(std::string_view path)
{
    if (path.empty() || path.front() != '/')
        return std::nullopt;
    path.remove_prefix(1);
    for (const EmbeddedFile &file : kEmbeddedFiles)
        if (file.name != nullptr && path == file.name)
            return WebAsset{{reinterpret_cast<const char *>(file.bytes), file.size},
                            contentTypeOf(path)};
    return std::nullopt;
}

} // namespace vokid
