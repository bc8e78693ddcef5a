// POST /work and GET /ping on libmicrohttpd (Debian 0.9.75). Default: an
// epoll thread pool of THREADS (handlers run on the polling threads);
// MHD_MODE=tpc in the environment: one thread per connection instead.
#include <sys/socket.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "work.h"

namespace {

std::uint64_t g_rounds = 0;

enum MHD_Result reply(MHD_Connection *c, unsigned status, const std::string &text) {
  MHD_Response *r = MHD_create_response_from_buffer(text.size(), const_cast<char *>(text.data()),
                                                    MHD_RESPMEM_MUST_COPY);
  MHD_add_response_header(r, "Content-Type", "text/plain");
  const enum MHD_Result ret = MHD_queue_response(c, status, r);
  MHD_destroy_response(r);
  return ret;
}

// Called first with the headers only (*ctx == nullptr), then once per chunk
// of body, then with *upload_size == 0 when the body is complete.
enum MHD_Result handle(void *, MHD_Connection *c, const char *url, const char *method, const char *,
                       const char *upload, size_t *upload_size, void **ctx) {
  if (std::strcmp(method, "GET") == 0 && std::strcmp(url, "/ping") == 0) return reply(c, 200, "pong\n");
  if (std::strcmp(method, "POST") != 0 || std::strcmp(url, "/work") != 0) return reply(c, 404, "no\n");
  auto *body = static_cast<std::string *>(*ctx);
  if (body == nullptr) {
    // Headers only so far: refuse an announced oversize body before reading
    // it. MHD then closes the connection instead of draining the body.
    const char *len = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Length");
    if (len != nullptr && std::strtoull(len, nullptr, 10) > hc::kBodyLimit) return reply(c, 413, "too large\n");
    *ctx = new std::string();
    return MHD_YES;
  }
  if (*upload_size != 0) {
    if (body->size() + *upload_size > hc::kBodyLimit) return reply(c, 413, "too large\n");  // chunked
    body->append(upload, *upload_size);
    *upload_size = 0;
    return MHD_YES;
  }
  // The client address: MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS)->client_addr.
  return reply(c, 200, std::to_string(hc::work(body->data(), body->size(), g_rounds)) + "\n");
}

void completed(void *, MHD_Connection *, void **ctx, enum MHD_RequestTerminationCode) {
  delete static_cast<std::string *>(*ctx);
  *ctx = nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  const hc::Args a = hc::parse(argc, argv);
  g_rounds = hc::rounds();
  const char *mode = std::getenv("MHD_MODE");
  const bool tpc = mode != nullptr && std::strcmp(mode, "tpc") == 0;

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(a.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // MHD_USE_ITC is needed by MHD_quiesce_daemon. In pool mode the connection
  // limit is split evenly between the pool's threads.
  const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ITC | MHD_USE_ERROR_LOG |
                         (tpc ? MHD_USE_THREAD_PER_CONNECTION : MHD_USE_EPOLL);
  MHD_Daemon *d;
  if (tpc) {
    d = MHD_start_daemon(flags, 0, nullptr, nullptr, handle, nullptr, MHD_OPTION_SOCK_ADDR, &addr,
                         MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(a.max_conn),
                         MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(hc::kReadTimeoutSec),
                         MHD_OPTION_NOTIFY_COMPLETED, completed, nullptr, MHD_OPTION_END);
  } else {
    d = MHD_start_daemon(flags, 0, nullptr, nullptr, handle, nullptr, MHD_OPTION_SOCK_ADDR, &addr,
                         MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(a.threads),
                         MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(a.max_conn),
                         MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(hc::kReadTimeoutSec),
                         MHD_OPTION_NOTIFY_COMPLETED, completed, nullptr, MHD_OPTION_END);
  }
  if (d == nullptr) {
    std::fprintf(stderr, "MHD_start_daemon failed\n");
    return 1;
  }
  std::fprintf(stderr, "mhd(%s): port %d, %d threads, limit %d, %llu rounds\n", tpc ? "tpc" : "epoll",
               a.port, a.threads, a.max_conn, static_cast<unsigned long long>(g_rounds));
  int sig = 0;
  sigwait(&set, &sig);
  // Graceful stop: quiesce hands back the listening socket (no new
  // connections), then wait until the open ones are done or idle-timed out
  // (2 s), bounded at 10 s; MHD_stop_daemon would cut them off.
  const MHD_socket ls = MHD_quiesce_daemon(d);
  if (ls != MHD_INVALID_SOCKET) close(ls);
  for (int i = 0; i < 1000; ++i) {
    const MHD_DaemonInfo *info = MHD_get_daemon_info(d, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    if (info == nullptr || info->num_connections == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  MHD_stop_daemon(d);
  std::fprintf(stderr, "mhd: stopped\n");
  return 0;
}
