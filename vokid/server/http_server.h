// The HTTP side of `vokid serve`: requests read whole (to a body limit)
// and handed to one handler on a pool of threads, its answers sent back,
// each exchange logged. Hostile clients meet the limits here, before any
// handler runs: a body over the limit gets 413 unread, a client that has
// not sent its request within the read timeout is dropped, and connections
// beyond the bound are closed as they come.
#ifndef VOKID_SERVER_HTTP_SERVER_H
#define VOKID_SERVER_HTTP_SERVER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vokid {

struct HttpRequest {
    std::string method; // "GET", "POST", ...
    std::string path;   // decoded, without the query
    std::map<std::string, std::string> query;   // decoded parameters
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string client; // "127.0.0.1:51234"

    // A header's value, empty when absent.
    std::string header(const std::string &lowerName) const;
    // A query parameter's value, `otherwise` when absent.
    std::string parameter(const std::string &name, const std::string &otherwise = "") const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // more of them
};

struct HttpLimits {
    unsigned threads = 2;
    size_t maxBody = size_t{64} << 20; // bytes
    unsigned maxConnections = 64;
    double readTimeout = 10; // seconds for a request to arrive whole
};

// One line per exchange, for the log: what was asked, how it was
// answered, how long it took.
struct HttpExchange {
    const HttpRequest *request;
    int status;
    double seconds;
};

class HttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;
    using Logger = std::function<void(const HttpExchange &)>;

    // Listens on `address` (an IPv4 or IPv6 literal) and `port` (0: a free
    // one) and serves until stop(). Throws HttpError, naming the address,
    // when it cannot listen. The handler runs on the server's threads,
    // several at once; what it throws is answered with 500.
    HttpServer(const std::string &address, uint16_t port, const HttpLimits &limits,
               Handler handler, Logger logger);
    ~HttpServer(); // stops at once
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    uint16_t port() const;
    // Stops taking connections, waits up to `graceSeconds` for the
    // requests in flight to be answered, then closes everything.
    void stop(double graceSeconds);

    struct State;

private:
    std::unique_ptr<State> state;
};

// "http://127.0.0.1:8080/", with an IPv6 address in brackets.
std::string listeningUrl(const std::string &address, uint16_t port);

} // namespace vokid

#endif
