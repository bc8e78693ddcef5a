// What `vokid serve` counts, in Prometheus's text format (version 0.0.4):
// requests by route and status, their durations as a histogram, queries
// by result, and the index's size. Routes are the server's own names
// ("/v1/tracks/{id}"), never the paths clients send, so that the number of
// series stays bounded whatever they send.
#ifndef VOKID_SERVER_SERVER_METRICS_H
#define VOKID_SERVER_SERVER_METRICS_H

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vokid {

class ServerMetrics {
public:
    // Upper bounds of the duration buckets, in seconds.
    static constexpr std::array<double, 12> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                       0.1,   0.25,   0.5,   1,    2.5,   10};

    void countRequest(const std::string &route, int status, double seconds);
    // "match", "no_match", "error"
    void countQuery(const std::string &result);

    // The whole exposition; the index's figures are read by the caller
    // (negative when the index cannot be read, and then left out).
    std::string text(int64_t indexTracks, int64_t indexBytes) const;

private:
    mutable std::mutex mutex;
    std::map<std::pair<std::string, int>, uint64_t> requests;
    std::array<uint64_t, kBuckets.size()> bucketCounts{}; // not cumulative
    uint64_t durationCount = 0;
    double durationSum = 0;
    std::map<std::string, uint64_t> queries;
};

} // namespace vokid

#endif
