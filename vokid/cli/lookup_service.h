// What `vokid serve` answers, route by route: the lookup-server queries
// that vok writes (POST /query), the JSON API under /v1/, the health and
// metrics routes, and the web page. Every answer is made here from one
// request; the HTTP side (vokid/server/http_server.h) only carries them.
// Each request reads the index as it is then, so that tracks added or
// removed by other processes are seen by the next request.
#ifndef VOKID_CLI_LOOKUP_SERVICE_H
#define VOKID_CLI_LOOKUP_SERVICE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vokid/index/index_store.h"
#include "vokid/search/beginning_match.h"
#include "vokid/search/identifier.h"
#include "vokid/search/worker_pool.h"
#include "vokid/server/http_server.h"
#include "vokid/server/lookup_protocol.h"
#include "vokid/server/server_metrics.h"

namespace vokid {

struct ServiceSettings {
    std::string db;         // as the user named it (no password), for messages
    double maxSeconds = 60; // of audio or sub-fingerprints searched per query
    bool hidePaths = false;
    bool writable = false; // a token was given: the write routes are open
    std::string token;     // the bearer token of the write routes
    unsigned threads = 2;  // for the speed hypotheses of uploads
};

class LookupService {
public:
    LookupService(IndexStore &store, ServiceSettings settings);
    ~LookupService();

    // Never throws: every failure is an answer (4xx, 5xx).
    HttpResponse handle(const HttpRequest &request);
    // The route's name for the metrics, from the method and path alone.
    static std::string routeOf(const HttpRequest &request);
    ServerMetrics &metrics() { return counters; }

private:
    HttpResponse route(const HttpRequest &request);
    HttpResponse query(const HttpRequest &request);
    HttpResponse identify(const HttpRequest &request);
    HttpResponse tracks(const HttpRequest &request);
    HttpResponse track(const HttpRequest &request, uint32_t id);
    HttpResponse addTrack(const HttpRequest &request);
    HttpResponse removeTrack(const HttpRequest &request, uint32_t id);
    HttpResponse health();
    HttpResponse metricsText();
    void authorise(const HttpRequest &request) const;
    LookupAnswer answer(const LookupQuery &query);
    LookupAnswer streamingAnswer(const LookupQuery &query);
    LookupAnswer spectralAnswer(const LookupQuery &query);
    std::shared_ptr<const SpectralTable> spectralTable(IndexView &view);

    IndexStore &store;
    ServiceSettings settings;
    ServerMetrics counters;
    WorkerPool pool;
    std::mutex damageMutex;
    std::string lastDamage; // the last damage a request met, until health clears it
    // The tracks' FileFloat values, made again when the index has changed.
    std::mutex spectralMutex;
    std::shared_ptr<const SpectralTable> spectral;
    std::vector<uint64_t> spectralState; // the index's figures it was made at
};

// Whether two tokens are the same, in a time that does not depend on
// where they differ.
bool sameToken(const std::string &given, const std::string &expected);

} // namespace vokid

#endif
