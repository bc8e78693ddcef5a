#include "vokid/index/open_store.h"

#include <algorithm>

#include "vokid/index/index_error.h"
#include "vokid/index/lmdb/lmdb_copy.h"
#include "vokid/index/lmdb/lmdb_folder.h"
#include "vokid/index/postgres/pg_schema.h"
#include "vokid/index/postgres/postgres_store.h"
#include "vokid/index/stored_form.h"

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

namespace {

// The password of "user:password@" before the host, if any.
std::string withoutUserPassword(std::string location, size_t hostStart)
{
    const size_t end = location.find_first_of("@/?", hostStart);
    if (end == std::string::npos || location[end] != '@')
        return location;
    const size_t colon = location.find(':', hostStart);
    if (colon < end)
        location.erase(colon, end - colon);
    return location;
}

// "password=..." among the parameters after "?", if any.
std::string withoutPasswordParameter(const std::string &location)
{
    const size_t query = location.find('?');
    if (query == std::string::npos)
        return location;
    std::string kept;
    bool dropped = false;
    for (size_t at = query + 1; at <= location.size();) {
        const size_t next = std::min(location.find('&', at), location.size());
        const std::string parameter = location.substr(at, next - at);
        if (parameter.rfind("password=", 0) == 0)
            dropped = true;
        else
            kept += (kept.empty() ? "" : "&") + parameter;
        at = next + 1;
    }
    if (!dropped)
        return location;
    return location.substr(0, query) + (kept.empty() ? "" : "?" + kept);
}

bool isPostgres(std::string_view scheme)
{
    return scheme == "postgresql" || scheme == "postgres";
}

[[noreturn]] void notSupported(std::string_view scheme)
{
    throw IndexError(std::string(scheme) +
                     ":// indexes are not supported yet (an index folder is named by its path)");
}

// Backup, compact and upgrade on a folder; a store elsewhere is refused by
// its scheme.
void requireFolder(const std::string &location)
{
    const std::string_view scheme = schemeOf(location);
    if (!scheme.empty())
        notSupported(scheme);
}

} // namespace

bool isPostgresLocation(std::string_view location)
{
    return isPostgres(schemeOf(location));
}

std::unique_ptr<IndexStore> openStore(const std::string &location, StoreAccess access,
                                      uint32_t step)
{
    const std::string_view scheme = schemeOf(location);
    if (scheme.empty())
        return openLmdbFolder(location, access, step);
    if (isPostgres(scheme))
        return openPostgresStore(location, access, step == 0 ? kDefaultStep : step);
    notSupported(scheme);
}

void createIndexAt(const std::string &location, uint32_t step,
                   const std::vector<std::string> &shards)
{
    const std::string_view scheme = schemeOf(location);
    if (scheme.empty()) {
        if (!shards.empty())
            throw std::invalid_argument("shards are for an index in PostgreSQL");
        return createLmdbFolder(location, step);
    }
    if (!isPostgres(scheme))
        notSupported(scheme);
    createPostgresIndex(location, step, shards);
}

std::string shownLocation(const std::string &location)
{
    const std::string_view scheme = schemeOf(location);
    if (scheme.empty())
        return location;
    return withoutPasswordParameter(withoutUserPassword(location, scheme.size() + 3));
}

CopyReport backupIndex(const std::string &location, const std::string &destination,
                       const CopyProgress &progress)
{
    requireFolder(location);
    requireFolder(destination);
    return backupLmdbFolder(location, destination, progress);
}

CopyReport compactIndex(const std::string &location, const std::string &into,
                        const CopyProgress &progress)
{
    requireFolder(location);
    if (into.empty())
        return compactLmdbFolder(location, progress);
    requireFolder(into);
    return compactLmdbFolderInto(location, into, progress);
}

CopyReport upgradeIndex(const std::string &location, const CopyProgress &progress)
{
    CopyReport report;
    if (isPostgresLocation(location)) {
        report.done = upgradePostgresTables(location, report.tracks) < kSchemaVersion;
        report.version = "schema version " + std::to_string(kSchemaVersion);
        return report;
    }
    requireFolder(location);
    report = upgradeLmdbFolder(location, progress);
    report.version = "format version " + std::to_string(kStoredForm);
    return report;
}

} // namespace vokid
