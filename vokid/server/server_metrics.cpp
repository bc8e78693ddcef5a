#include "vokid/server/server_metrics.h"

#include <algorithm>
#include <cstdio>

namespace vokid {

namespace {

// Prometheus's number form: integers as they are, others in full precision.
std::string number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void family(std::string &out, const char *name, const char *type, const char *help)
{
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

} // namespace

void ServerMetrics::countRequest(const std::string &route, int status, double seconds)
{
    const std::lock_guard<std::mutex> lock(mutex);
    ++requests[{route, status}];
    const auto bucket = std::lower_bound(kBuckets.begin(), kBuckets.end(), seconds);
    if (bucket != kBuckets.end())
        ++bucketCounts[static_cast<size_t>(bucket - kBuckets.begin())];
    ++durationCount;
    durationSum += seconds;
}

void ServerMetrics::countQuery(const std::string &result)
{
    const std::lock_guard<std::mutex> lock(mutex);
    ++queries[result];
}

std::string ServerMetrics::text(int64_t indexTracks, int64_t indexBytes) const
{
    const std::lock_guard<std::mutex> lock(mutex);
    std::string out;
    family(out, "vokid_http_requests_total", "counter", "HTTP requests answered, by route and status.");
    for (const auto &[key, count] : requests)
        out += "vokid_http_requests_total{route=\"" + key.first + "\",status=\"" +
               std::to_string(key.second) + "\"} " + std::to_string(count) + "\n";
    family(out, "vokid_http_request_duration_seconds", "histogram",
           "Time from a request's arrival to its answer.");
    uint64_t cumulative = 0;
    for (size_t i = 0; i < kBuckets.size(); ++i) {
        cumulative += bucketCounts[i];
        out += "vokid_http_request_duration_seconds_bucket{le=\"" + number(kBuckets[i]) + "\"} " +
               std::to_string(cumulative) + "\n";
    }
    out += "vokid_http_request_duration_seconds_bucket{le=\"+Inf\"} " +
           std::to_string(durationCount) + "\n";
    out += "vokid_http_request_duration_seconds_sum " + number(durationSum) + "\n";
    out += "vokid_http_request_duration_seconds_count " + std::to_string(durationCount) + "\n";
    family(out, "vokid_queries_total", "counter",
           "Lookups answered (each query of a body, each identify), by result.");
    for (const char *result : {"match", "no_match", "error"}) {
        const auto found = queries.find(result);
        out += std::string("vokid_queries_total{result=\"") + result + "\"} " +
               std::to_string(found == queries.end() ? 0 : found->second) + "\n";
    }
    if (indexTracks >= 0) {
        family(out, "vokid_index_tracks", "gauge", "Tracks in the index.");
        out += "vokid_index_tracks " + std::to_string(indexTracks) + "\n";
    }
    if (indexBytes >= 0) {
        family(out, "vokid_index_bytes", "gauge", "Bytes the index's files take.");
        out += "vokid_index_bytes " + std::to_string(indexBytes) + "\n";
    }
    return out;
}

} // namespace vokid
