// POST /work and GET /ping on Boost.Beast 1.74: one io_context run by
// THREADS threads, a strand per connection, everything asynchronous. The
// ~1 ms of work runs on the I/O thread that read the request: with as many
// I/O threads as cores there is nothing to gain from a second pool.
#include <boost/asio.hpp>
#include <boost/beast.hpp>

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "work.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

std::uint64_t g_rounds = 0;
std::atomic<int> g_active{0};
std::atomic<bool> g_stopping{false};

class Session : public std::enable_shared_from_this<Session> {
 public:
  explicit Session(tcp::socket s) : stream_(std::move(s)) {}
  ~Session() { g_active.fetch_sub(1); }
  void start() { read_header(); }

 private:
  void read_header() {
    parser_.emplace();
    parser_->body_limit(hc::kBodyLimit);  // chunked bodies: error past 1 MB
    // A deadline on the whole operation, not on each recv: a client that
    // trickles one byte a second is still cut off after 2 s.
    stream_.expires_after(std::chrono::seconds(hc::kReadTimeoutSec));
    http::async_read_header(stream_, buf_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              self->on_header(ec);
                            });
  }
  void on_header(beast::error_code ec) {
    // The parser already fails the header read with body_limit when
    // Content-Length announces more than the limit.
    if (ec == http::error::body_limit) return send(http::status::payload_too_large, "too large\n", false);
    if (ec) return close();
    const auto len = parser_->content_length();
    if (len && *len > hc::kBodyLimit) return send(http::status::payload_too_large, "too large\n", false);
    stream_.expires_after(std::chrono::seconds(hc::kReadTimeoutSec));
    http::async_read(stream_, buf_, *parser_, [self = shared_from_this()](beast::error_code e, std::size_t) {
      self->on_body(e);
    });
  }
  void on_body(beast::error_code ec) {
    if (ec == http::error::body_limit) return send(http::status::payload_too_large, "too large\n", false);
    if (ec) return close();
    const auto &req = parser_->get();
    // The client address: stream_.socket().remote_endpoint().
    const bool keep = req.keep_alive() && !g_stopping.load();
    if (req.method() == http::verb::get && req.target() == "/ping") return send(http::status::ok, "pong\n", keep);
    if (req.method() == http::verb::post && req.target() == "/work") {
      const std::string &b = req.body();
      return send(http::status::ok, std::to_string(hc::work(b.data(), b.size(), g_rounds)) + "\n", keep);
    }
    send(http::status::not_found, "no\n", keep);
  }
  void send(http::status st, std::string text, bool keep) {
    res_ = std::make_unique<http::response<http::string_body>>(st, 11);
    res_->set(http::field::content_type, "text/plain");
    res_->keep_alive(keep);
    res_->body() = std::move(text);
    res_->prepare_payload();
    stream_.expires_after(std::chrono::seconds(hc::kReadTimeoutSec));
    http::async_write(stream_, *res_, [self = shared_from_this(), keep](beast::error_code ec, std::size_t) {
      if (ec) return self->close();
      if (!keep) return self->linger();
      self->read_header();
    });
  }
  // Closing with unread bytes queued makes the kernel send RST, and the
  // client may lose the answer (a 413 to a body still being sent): shut the
  // sending side, then discard what still comes for at most 1 s and 64 MB (a client that reads
  // answers while sending, as curl does, stops within a few MB).
  void linger() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.expires_after(std::chrono::seconds(1));
    drain();
  }
  void drain() {
    stream_.async_read_some(net::buffer(discard_), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
      self->drained_ += n;
      if (ec || self->drained_ > (64u << 20)) return self->close();
      self->drain();
    });
  }
  void close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.socket().close(ec);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buf_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::unique_ptr<http::response<http::string_body>> res_;
  std::array<char, 16384> discard_{};
  std::size_t drained_ = 0;
};

void accept(tcp::acceptor &acc, net::io_context &ioc, int limit) {
  acc.async_accept(net::make_strand(ioc), [&acc, &ioc, limit](beast::error_code ec, tcp::socket s) {
    if (ec == net::error::operation_aborted) return;  // acceptor closed: stopping
    if (!ec) {
      if (g_active.fetch_add(1) >= limit) {
        // Over the limit: accepted and closed at once (the client sees EOF).
        g_active.fetch_sub(1);
        beast::error_code ig;
        s.close(ig);
      } else {
        std::make_shared<Session>(std::move(s))->start();
      }
    }
    accept(acc, ioc, limit);
  });
}

}  // namespace

int main(int argc, char **argv) {
  const hc::Args a = hc::parse(argc, argv);
  g_rounds = hc::rounds();
  net::io_context ioc(a.threads);
  tcp::acceptor acc(net::make_strand(ioc), {net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(a.port)});
  accept(acc, ioc, a.max_conn);
  // The acceptor lives on a strand: its accept handler and close() never race.
  // Graceful stop: close the acceptor; requests in flight finish and answer
  // with Connection: close; idle keep-alive connections end at their 2 s
  // deadline; run() returns once no work is left.
  net::signal_set sigs(ioc, SIGINT, SIGTERM);
  sigs.async_wait([&](beast::error_code, int) {
    g_stopping = true;
    net::post(acc.get_executor(), [&] { acc.close(); });
  });
  std::fprintf(stderr, "beast: port %d, %d threads, limit %d, %llu rounds\n", a.port, a.threads, a.max_conn,
               static_cast<unsigned long long>(g_rounds));
  std::vector<std::thread> pool;
  for (int i = 1; i < a.threads; ++i) pool.emplace_back([&] { ioc.run(); });
  ioc.run();
  for (auto &t : pool) t.join();
  std::fprintf(stderr, "beast: stopped\n");
  return 0;
}
