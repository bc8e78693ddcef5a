// The web page that `vokid serve` shows at "/", built into the program from
// vokid/server/web/ so that it needs no files beside it and nothing from
// the network.
#ifndef VOKID_SERVER_WEB_ASSETS_H
#define VOKID_SERVER_WEB_ASSETS_H

#include <optional>
#include <string_view>

namespace vokid {

struct WebAsset {
    std::string_view bytes;
    const char *contentType;
};

// The file served at `path` ("/index.html", "/app.js"), if there is one.
std::optional<WebAsset> webAsset(std::string_view path);

} // namespace vokid

#endif
