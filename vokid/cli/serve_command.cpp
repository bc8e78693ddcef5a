#include "vokid/cli/serve_command.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

#include "vokid/cli/command_support.h"
#include "vokid/cli/exit_codes.h"
#include "vokid/cli/json_text.h"
#include "vokid/cli/lookup_service.h"
#include "vokid/cli/usage_error.h"
#include "vokid/index/index_error.h"
#include "vokid/index/open_store.h"
#include "vokid/support/system_cause.h"

namespace vokid {

namespace {

// How long the requests in flight have to finish once a stop is asked.
constexpr double kGraceSeconds = 10;

bool isAddress(const std::string &text, int family)
{
    unsigned char bytes[16];
    return inet_pton(family, text.c_str(), bytes) == 1;
}

// The token of the write routes: the file's first line, which must not
// be empty. A file others may read is named in a warning.
std::string readToken(const std::string &file, Console &console)
{
    std::ifstream in(file);
    if (!in)
        throw IndexError(file + ": " + systemCause(errno));
    std::string token;
    std::getline(in, token);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    if (token.empty())
        throw IndexError(file + ": the token file's first line is empty");
    struct stat status;
    if (stat(file.c_str(), &status) == 0 && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        console.message(file + ": others may read this token file (chmod 600 it)");
    return token;
}

// "2026-12-08T21:50:01Z"
std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// The signals that stop the server are taken by sigwait alone: blocked in
// this thread before any other starts, so every thread inherits the mask.
sigset_t stopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that goes away is the server's business, not a reason to end.
    std::signal(SIGPIPE, SIG_IGN);
    return signals;
}

HttpLimits limitsOf(const ServeOptions &options)
{
    HttpLimits limits;
    limits.threads = options.threads;
    limits.maxBody = static_cast<size_t>(options.maxBody * 1024 * 1024);
    limits.maxConnections = options.maxConnections;
    limits.readTimeout = options.readTimeout;
    return limits;
}

} // namespace

std::pair<std::string, uint16_t> listenAddress(const std::string &text)
{
    const size_t colon = text.rfind(':');
    const auto refuse = [&] {
        return UsageError("--listen " + text +
                          ": not ADDR:PORT (an IPv4 address, or an IPv6 address in brackets, "
                          "and a port from 0 to 65535)");
    };
    if (colon == std::string::npos || colon + 1 == text.size() || text.size() - colon > 6)
        throw refuse();
    std::string address = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535)
        throw refuse();
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
        if (!isAddress(address, AF_INET6))
            throw refuse();
    } else if (!isAddress(address, AF_INET)) {
        throw refuse();
    }
    return {address, static_cast<uint16_t>(std::stoul(port))};
}

int runServe(const ServeOptions &options, Console &console)
{
    const auto [address, port] = listenAddress(options.listen);
    ServiceSettings settings;
    settings.db = shownLocation(options.db); // answers never carry its password
    settings.maxSeconds = options.maxSeconds;
    settings.hidePaths = options.hidePaths;
    settings.threads = options.threads;
    try {
        if (!options.tokenFile.empty()) {
            settings.token = readToken(options.tokenFile, console);
            settings.writable = true;
        }
    } catch (const IndexError &error) {
        console.message(error.what());
        return kExitFailure;
    }
    const std::unique_ptr<IndexStore> store = openReporting(
        options.db, settings.writable ? StoreAccess::Update : StoreAccess::Read, console);
    if (!store)
        return kExitFailure;
    const sigset_t signals = stopSignals();
    LookupService service(*store, settings);
    std::mutex logging;
    const auto log = [&](const HttpExchange &exchange) {
        const HttpRequest &request = *exchange.request;
        service.metrics().countRequest(LookupService::routeOf(request), exchange.status,
                                       exchange.seconds);
        char figures[48];
        std::snprintf(figures, sizeof figures, " %d %.1f ms\n", exchange.status,
                      exchange.seconds * 1000);
        const std::string line = utcNow() + " " + request.client + " " + shownText(request.method) +
                                 " " + shownText(request.path) + figures;
        const std::lock_guard<std::mutex> lock(logging);
        std::fputs(line.c_str(), stderr);
    };
    std::unique_ptr<HttpServer> server;
    try {
        server = std::make_unique<HttpServer>(
            address, port, limitsOf(options),
            [&service](const HttpRequest &request) { return service.handle(request); }, log);
    } catch (const HttpError &error) {
        console.message(error.what());
        return kExitFailure;
    }
    console.write("listening on " + listeningUrl(address, server->port()) + "\n");
    if (!console.finish())
        return kExitFailure;
    int signal = 0;
    sigwait(&signals, &signal);
    console.message(std::string("stopping (") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                    "): no new connections; the requests in flight are finishing");
    server->stop(kGraceSeconds);
    return kExitSuccess;
}

} // namespace vokid
