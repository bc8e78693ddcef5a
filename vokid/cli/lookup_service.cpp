#include "vokid/cli/lookup_service.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <new>

#include "vokid/cli/command_support.h"
#include "vokid/cli/json_text.h"
#include "vokid/cli/result_json.h"
#include "vokid/document/document.h"
#include "vokid/index/index_error.h"
#include "vokid/index/postings.h"
#include "vokid/index/shard_watch.h"
#include "vokid/input/input_error.h"
#include "vokid/input/memory_file.h"
#include "vokid/search/track_source.h"
#include "vokid/server/web_assets.h"

namespace vokid {

namespace {

// A request answered with an error: {"error": message, "status": N}.
struct RequestError {
    int status;
    std::string message;
    std::vector<std::pair<std::string, std::string>> headers = {};
};

// The most tracks a page of GET /v1/tracks lists.
constexpr size_t kLargestPage = 1000;
constexpr size_t kDefaultPage = 100;

HttpResponse json(int status, const nlohmann::ordered_json &value)
{
    HttpResponse response;
    response.status = status;
    response.body = compactJson(value) + "\n";
    return response;
}

HttpResponse errorResponse(int status, const std::string &message)
{
    return json(status, {{"error", message}, {"status", status}});
}

// A whole number in [0, most] from a query parameter or path part.
uint64_t counted(const std::string &text, uint64_t most, const char *what)
{
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text.size() > 20 || *end != '\0' || errno != 0 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        value > most)
        throw RequestError{400, std::string(what) + " must be a whole number from 0 to " +
                                    std::to_string(most)};
    return value;
}

// The seconds of an upload searched: `length` if given (0: all, as
// identify), never more than the server's bound.
double searchedSeconds(const HttpRequest &request, double maxSeconds)
{
    const std::string text = request.parameter("length");
    if (text.empty())
        return maxSeconds;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || (value != 0 && (value < 3.4 || value > 3600)))
        throw RequestError{400, "length must be 0 (all) or a number of seconds from 3.4 to 3600"};
    return value == 0 ? maxSeconds : std::min(value, maxSeconds);
}

bool flag(const HttpRequest &request, const char *name)
{
    const std::string text = request.parameter(name, "0");
    if (text == "1" || text == "true")
        return true;
    if (text == "0" || text == "false" || text.empty())
        return false;
    throw RequestError{400, std::string(name) + " must be 1, 0, true or false"};
}

// "/v1/tracks/17" -> 17; nothing for a path of another shape.
std::optional<std::string> trackPart(const std::string &path)
{
    static const std::string prefix = "/v1/tracks/";
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size() ||
        path.find('/', prefix.size()) != std::string::npos)
        return std::nullopt;
    return path.substr(prefix.size());
}

uint32_t trackId(const std::string &part)
{
    return static_cast<uint32_t>(counted(part, UINT32_MAX, "a track id"));
}

} // namespace

bool sameToken(const std::string &given, const std::string &expected)
{
    // Every byte of the longer one is looked at, whatever matches.
    const size_t length = std::max(given.size(), expected.size());
    unsigned difference = given.size() == expected.size() ? 0u : 1u;
    for (size_t i = 0; i < length; ++i) {
        const auto a = static_cast<unsigned char>(i < given.size() ? given[i] : 0);
        const auto b = static_cast<unsigned char>(i < expected.size() ? expected[i] : 0);
        difference |= static_cast<unsigned>(a ^ b);
    }
    return difference == 0 && !expected.empty();
}

LookupService::LookupService(IndexStore &indexStore, ServiceSettings given)
    : store(indexStore), settings(std::move(given)), pool(std::max(1u, settings.threads))
{
}

LookupService::~LookupService() = default;

std::string LookupService::routeOf(const HttpRequest &request)
{
    const std::string &path = request.path;
    static const char *const fixed[] = {"/query",   "/v1/identify", "/v1/tracks", "/v1/stats",
                                        "/healthz", "/metrics",     "/"};
    for (const char *name : fixed)
        if (path == name)
            return name;
    if (trackPart(path))
        return "/v1/tracks/{id}";
    if (webAsset(path))
        return "/static";
    return "other";
}

HttpResponse LookupService::handle(const HttpRequest &request)
{
    try {
        return route(request);
    } catch (const RequestError &error) {
        HttpResponse response = errorResponse(error.status, error.message);
        response.headers = error.headers;
        return response;
    } catch (const IndexError &error) {
        const std::string message = settings.db + ": " + error.what();
        const std::lock_guard<std::mutex> lock(damageMutex);
        lastDamage = message;
        return errorResponse(503, message);
    } catch (const NotAudioError &error) {
        return errorResponse(415, error.what());
    } catch (const InputError &error) {
        return errorResponse(400, error.what());
    } catch (const DecodeError &error) {
        return errorResponse(400, error.what());
    } catch (const std::bad_alloc &) {
        return errorResponse(503, "out of memory");
    } catch (const std::exception &error) {
        return errorResponse(500, error.what());
    }
}

HttpResponse LookupService::route(const HttpRequest &request)
{
    const std::string &method = request.method;
    const std::string &path = request.path;
    const auto only = [&](const char *allowed) {
        if (method != allowed && !(method == "HEAD" && std::string(allowed) == "GET"))
            throw RequestError{
                405, method + " is not allowed here; " + allowed + " is", {{"Allow", allowed}}};
    };
    if (path == "/query")
        return only("POST"), query(request);
    if (path == "/v1/identify")
        return only("POST"), identify(request);
    if (path == "/v1/tracks")
        return method == "POST" ? addTrack(request) : (only("GET"), tracks(request));
    if (const std::optional<std::string> part = trackPart(path)) {
        if (method == "DELETE")
            return removeTrack(request, trackId(*part));
        return only("GET"), track(request, trackId(*part));
    }
    if (path == "/v1/stats")
        return only("GET"), json(200, statsObject(store.view()->stats()));
    if (path == "/healthz")
        return only("GET"), health();
    if (path == "/metrics")
        return only("GET"), metricsText();
    if (const std::optional<WebAsset> asset = webAsset(path == "/" ? "/index.html" : path)) {
        only("GET");
        HttpResponse page;
        page.contentType = asset->contentType;
        page.body = std::string(asset->bytes);
        page.headers.emplace_back("Cache-Control", "no-cache");
        return page;
    }
    return errorResponse(404, "no such route: " + path);
}

HttpResponse LookupService::query(const HttpRequest &request)
{
    std::vector<LookupQuery> queries;
    try {
        queries = parseLookupBody(request.body);
    } catch (const LookupBodyError &error) {
        throw RequestError{400, error.what()};
    }
    std::vector<LookupAnswer> answers;
    answers.reserve(queries.size());
    for (const LookupQuery &each : queries)
        answers.push_back(answer(each));
    HttpResponse response;
    response.contentType = "application/xml";
    response.body = writeLookupResponse(answers);
    return response;
}

LookupAnswer LookupService::answer(const LookupQuery &query)
{
    LookupAnswer result;
    try {
        if (!query.document)
            throw InputError(query.error);
        result = query.document->family == Family::Spectral ? spectralAnswer(query)
                                                            : streamingAnswer(query);
    } catch (const InputError &error) {
        result.status = LookupStatus::Error;
        result.message = error.what();
    }
    result.id = query.id;
    counters.countQuery(result.status == LookupStatus::Ok        ? "match"
                        : result.status == LookupStatus::NoMatch ? "no_match"
                                                                 : "error");
    return result;
}

namespace {

LookupMatch matchOf(uint32_t rank, uint32_t id, const std::optional<TrackInfo> &info,
                    bool hidePaths)
{
    LookupMatch row;
    row.rank = rank;
    row.trackId = id;
    if (info) {
        row.title = info->title;
        row.artist = info->artist;
        row.album = info->album;
        if (!hidePaths)
            row.path = info->path;
    }
    return row;
}

// The index's figures that change with every commit: the spectral values
// are made again when they differ.
std::vector<uint64_t> changeFigures(const StoreStats &stats)
{
    std::vector<uint64_t> figures = {stats.tracks, stats.words, stats.tracksWithValues};
    for (const StoreFact &fact : stats.facts)
        if (fact.key == "commits" || fact.key == "transaction")
            figures.push_back(fact.value);
    return figures;
}

} // namespace

// Stream1 and Stream4: searched as identify searches a document (as
// played and at the tempos).
LookupAnswer LookupService::streamingAnswer(const LookupQuery &query)
{
    LookupAnswer result;
    std::optional<TrackInfo> found;
    ShardWatch watch(store);
    Identifier identifier(watch, pool, true);
    const Identification identification =
        identifyDocument(identifier, *query.document, settings.maxSeconds, found);
    result.partial = !watch.shardsDown().empty();
    const Match &match = identification.match;
    if (!match.accepted) {
        result.message = reasonName(identification.reason);
        return result;
    }
    result.status = LookupStatus::Ok;
    const auto add = [&](uint32_t id, const std::optional<TrackInfo> &info) {
        LookupMatch row =
            matchOf(static_cast<uint32_t>(result.matches.size() + 1), id, info, settings.hidePaths);
        row.offsetSeconds = identification.trackStart;
        row.ber = match.best.ber();
        row.confidence = match.confidence();
        row.clipStart = identification.clipStart;
        row.clipEnd = identification.clipEnd;
        row.speed = identification.speed;
        row.tempo = identification.tempo;
        result.matches.push_back(row);
    };
    add(match.best.track, found);
    const std::unique_ptr<IndexView> view = watch.view();
    for (const Candidate &other : match.sameRecording)
        add(other.track, view->track(other.track));
    return result;
}

// FileFixed and FileFloat: the file's beginning, matched to the track whose
// stored values are nearest, within the tolerance.
LookupAnswer LookupService::spectralAnswer(const LookupQuery &query)
{
    LookupAnswer result;
    const std::unique_ptr<IndexView> view = store.view();
    const std::shared_ptr<const SpectralTable> table = spectralTable(*view);
    std::optional<SpectralMatch> nearest;
    try {
        nearest = table->nearest(query.document->values);
    } catch (const std::invalid_argument &error) {
        throw InputError(error.what());
    }
    if (!nearest)
        return result;
    const std::optional<TrackInfo> info = view->track(nearest->track);
    if (!info) // removed since the table was made
        return result;
    result.status = LookupStatus::Ok;
    LookupMatch row = matchOf(1, nearest->track, info, settings.hidePaths);
    row.distance = nearest->distance;
    row.confidence = 1 - static_cast<double>(nearest->distance) / (2.0 * kSpectralTolerance);
    result.matches.push_back(row);
    return result;
}

std::shared_ptr<const SpectralTable> LookupService::spectralTable(IndexView &view)
{
    const std::vector<uint64_t> figures = changeFigures(view.stats());
    const std::lock_guard<std::mutex> lock(spectralMutex);
    if (!spectral || figures != spectralState) {
        spectral = std::make_shared<const SpectralTable>(SpectralTable::of(view));
        spectralState = figures;
    }
    return spectral;
}

HttpResponse LookupService::identify(const HttpRequest &request)
{
    const double length = searchedSeconds(request, settings.maxSeconds);
    ShardWatch watch(store);
    Identifier identifier(watch, pool, !flag(request, "as_played"));
    if (request.body.empty())
        throw RequestError{400, "the body is empty: send the audio or fingerprint document"};
    const MemoryFile upload(request.body);
    std::optional<TrackInfo> found;
    const bool all = flag(request, "all");
    const Identification identification =
        identifyInput(identifier, upload.path(), length, found, all);
    counters.countQuery(identification.match.accepted ? "match" : "no_match");
    nlohmann::ordered_json object =
        identificationJson(request.parameter("name", "upload"), identification, found, all);
    if (settings.hidePaths && object["match"].is_object())
        object["match"].erase("path");
    if (settings.hidePaths && object.contains("matches"))
        for (nlohmann::ordered_json &match : object["matches"])
            match.erase("path");
    const std::vector<std::string> down = watch.shardsDown();
    if (!down.empty()) {
        object["partial"] = true;
        object["shards_down"] = down;
    }
    return json(200, object);
}

HttpResponse LookupService::tracks(const HttpRequest &request)
{
    const uint64_t offset = counted(request.parameter("offset", "0"), UINT32_MAX, "offset");
    const uint64_t limit =
        counted(request.parameter("limit", std::to_string(kDefaultPage)), kLargestPage, "limit");
    const std::vector<TrackInfo> all = store.view()->tracks();
    nlohmann::ordered_json listed = nlohmann::ordered_json::array();
    for (uint64_t i = offset; i < all.size() && i < offset + limit; ++i) {
        nlohmann::ordered_json object = listedTrackJson(all[i]);
        if (settings.hidePaths)
            object.erase("path");
        listed.push_back(std::move(object));
    }
    return json(200,
                {{"tracks", listed}, {"total", all.size()}, {"offset", offset}, {"limit", limit}});
}

HttpResponse LookupService::track(const HttpRequest &, uint32_t id)
{
    const std::optional<TrackInfo> info = store.view()->track(id);
    if (!info)
        throw RequestError{404, "no track " + std::to_string(id)};
    nlohmann::ordered_json object = listedTrackJson(*info);
    if (settings.hidePaths)
        object.erase("path");
    return json(200, object);
}

void LookupService::authorise(const HttpRequest &request) const
{
    if (!settings.writable)
        throw RequestError{403, "this server takes no changes (it was started without "
                                "--token-file)"};
    const std::string given = request.header("authorization");
    static const std::string scheme = "Bearer ";
    if (given.compare(0, scheme.size(), scheme) != 0 ||
        !sameToken(given.substr(scheme.size()), settings.token))
        throw RequestError{401, "a valid bearer token is needed", {{"WWW-Authenticate", "Bearer"}}};
}

HttpResponse LookupService::addTrack(const HttpRequest &request)
{
    authorise(request);
    const std::string name = request.parameter("name");
    if (name.empty())
        throw RequestError{400, "name is needed: the track's path, e.g. ?name=/music/a.mp3"};
    if (request.body.empty())
        throw RequestError{400, "the body is empty: send the audio or fingerprint document"};
    const MemoryFile upload(request.body);
    TrackFile file = standardInputFile(name);
    file.standardInput = false;
    file.path = upload.path();
    Indexable track = readTrack(file);
    track.info.path = name;
    track.info.fileSize = request.body.size();
    track.info.modified = 0;
    const size_t usable = usableFrames(track.print);
    if (usable < kLeastUsableFrames)
        throw RequestError{422, "no usable audio (" + std::to_string(usable) +
                                    " sub-fingerprints that are not quiet, fewer than " +
                                    std::to_string(kLeastUsableFrames) + "); not indexed"};
    const PrintPostings postings = postingsOf(track.print, store.step());
    const std::unique_ptr<IndexBatch> batch = store.batch();
    const std::optional<TrackInfo> known = batch->trackAt(name);
    track.info.id = known ? known->id : 0;
    track.info.id = batch->put(track.info, track.print, postings);
    batch->commit();
    if (track.info.id == 0) {
        // Another request stored the same upload meanwhile: that track.
        const std::optional<TrackInfo> stored = store.view()->trackAt(name);
        if (!stored)
            throw RequestError{409, "the track was stored and removed again meanwhile; "
                                    "send it again"};
        nlohmann::ordered_json object = listedTrackJson(*stored);
        object["replaced"] = false;
        return json(200, object);
    }
    nlohmann::ordered_json object = listedTrackJson(track.info);
    object["replaced"] = known.has_value();
    return json(201, object);
}

HttpResponse LookupService::removeTrack(const HttpRequest &request, uint32_t id)
{
    authorise(request);
    const std::unique_ptr<IndexBatch> batch = store.batch();
    if (!batch->remove(id))
        throw RequestError{404, "no track " + std::to_string(id)};
    batch->commit();
    HttpResponse done;
    done.status = 204;
    done.contentType.clear();
    return done;
}

HttpResponse LookupService::health()
{
    const std::unique_ptr<IndexView> view = store.view();
    const StoreStats stats = view->stats();
    bool damageSeen = false;
    {
        const std::lock_guard<std::mutex> lock(damageMutex);
        damageSeen = !lastDamage.empty();
    }
    // Once a request has met damage, the index is healthy again only when
    // every track record reads back (after a restore, say); until then
    // that read throws the damage again.
    if (damageSeen) {
        view->tracks();
        const std::lock_guard<std::mutex> lock(damageMutex);
        lastDamage.clear();
    }
    return json(200, {{"status", "ok"}, {"tracks", stats.tracks}});
}

HttpResponse LookupService::metricsText()
{
    int64_t tracks = -1;
    int64_t bytes = -1;
    try {
        const StoreStats stats = store.view()->stats();
        tracks = static_cast<int64_t>(stats.tracks);
        bytes = static_cast<int64_t>(stats.fileBytes);
    } catch (const IndexError &) {
        // The counts of requests are still worth scraping; /healthz says why.
    }
    HttpResponse response;
    response.contentType = "text/plain; version=0.0.4; charset=utf-8";
    response.body = counters.text(tracks, bytes);
    return response;
}

} // namespace vokid
