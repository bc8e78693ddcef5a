// `vokid serve DB`: the lookup server (vokid/cli/lookup_service.h) on HTTP
// until SIGTERM or SIGINT.
#ifndef VOKID_CLI_SERVE_COMMAND_H
#define VOKID_CLI_SERVE_COMMAND_H

#include <string>

#include "vokid/cli/console.h"

namespace vokid {

struct ServeOptions {
    std::string db;
    std::string listen = "127.0.0.1:8080";
    unsigned threads = 2;
    double maxBody = 64; // MB
    unsigned maxConnections = 64;
    double readTimeout = 10; // seconds
    double maxSeconds = 60;
    std::string tokenFile;
    bool hidePaths = false;
};

int runServe(const ServeOptions &options, Console &console);

// "127.0.0.1:8080" -> {"127.0.0.1", 8080}; "[::1]:0" -> {"::1", 0}.
// Throws UsageError for anything else.
std::pair<std::string, uint16_t> listenAddress(const std::string &text);

} // namespace vokid

#endif
