#include "vokid/index/open_store.h"

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/lmdb_folder.h"

namespace vokid {

namespace {

// ASCII only, whatever the locale.
bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isSchemeChar(char c)
{
    return isLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

} // namespace

std::string_view schemeOf(std::string_view location)
{
    const size_t end = location.find("://");
    if (end == std::string_view::npos || end == 0 || !isLetter(location[0]))
        return {};
    for (size_t i = 1; i < end; ++i)
        if (!isSchemeChar(location[i]))
            return {};
    return location.substr(0, end);
}

std::unique_ptr<IndexStore> openStore(const std::string &location, StoreAccess access)
{
    const std::string_view scheme = schemeOf(location);
    if (scheme.empty())
        return openLmdbFolder(location, access);
    throw IndexError(std::string(scheme) +
                     ":// indexes are not supported yet (an index folder is named by its path)");
}

} // namespace vokid
