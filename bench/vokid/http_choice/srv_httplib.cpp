// POST /work and GET /ping on cpp-httplib (Debian 0.11): its ThreadPool, one
// connection held by one worker for its whole keep-alive life.
#include <httplib.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "work.h"

namespace {

// cpp-httplib has no connection limit: accepted sockets wait in the pool's
// unbounded queue. This queue counts queued plus running connections and,
// past the limit, runs the connection on the accepting thread with a flag
// that makes the pre-routing handler answer 503 and close. The socket itself
// is not reachable from here, so that 503 still reads the request line and
// headers (bounded by the 2 s read timeout, during which accept() waits).
thread_local bool t_reject = false;

class LimitedPool : public httplib::TaskQueue {
 public:
  LimitedPool(size_t threads, int limit) : pool_(threads), limit_(limit) {}
  void enqueue(std::function<void()> fn) override {
    if (active_.fetch_add(1) >= limit_) {
      active_.fetch_sub(1);
      t_reject = true;
      fn();
      t_reject = false;
      return;
    }
    pool_.enqueue([this, fn = std::move(fn)] {
      fn();
      active_.fetch_sub(1);
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
  std::atomic<int> active_{0};
  int limit_;
};

}  // namespace

int main(int argc, char **argv) {
  const hc::Args a = hc::parse(argc, argv);
  const std::uint64_t rounds = hc::rounds();

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // before any thread starts

  httplib::Server svr;
  svr.new_task_queue = [&] { return new LimitedPool(static_cast<size_t>(a.threads), a.max_conn); };
  svr.set_tcp_nodelay(true);  // off by default: 40 ms per answer (Nagle + delayed ACK)
  svr.set_read_timeout(hc::kReadTimeoutSec);
  svr.set_keep_alive_timeout(hc::kReadTimeoutSec);
  svr.set_keep_alive_max_count(1000);
  svr.set_payload_max_length(hc::kBodyLimit);
  svr.set_pre_routing_handler([](const httplib::Request &, httplib::Response &res) {
    if (!t_reject) return httplib::Server::HandlerResponse::Unhandled;
    res.status = 503;
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });
  svr.Get("/ping", [](const httplib::Request &, httplib::Response &res) {
    res.set_content("pong\n", "text/plain");
  });
  svr.Post("/work", [rounds](const httplib::Request &req, httplib::Response &res) {
    // req.remote_addr / req.remote_port carry the client address.
    const std::uint64_t h = hc::work(req.body.data(), req.body.size(), rounds);
    res.set_content(std::to_string(h) + "\n", "text/plain");
  });

  if (!svr.bind_to_port("127.0.0.1", a.port)) {
    std::fprintf(stderr, "bind failed\n");
    return 1;
  }
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&set, &sig);
    svr.stop();  // closes the listening socket; keep-alive loops end after their current request
  });
  std::fprintf(stderr, "httplib: port %d, %d threads, limit %d, %llu rounds\n", a.port, a.threads,
               a.max_conn, static_cast<unsigned long long>(rounds));
  svr.listen_after_bind();  // returns once the pool has drained and joined
  waiter.join();
  std::fprintf(stderr, "httplib: stopped\n");
  return 0;
}
