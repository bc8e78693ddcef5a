// On Boost.Beast: one io_context run by the server's threads, a strand per
// connection, every read and write asynchronous. A request is read under
// one deadline for its head and body together, so that a client sending a
// byte now and then is cut off like a silent one. The handler runs on the
// thread that read the request: with as many threads as cores there is
// nothing to gain from a second pool.
#include "vokid/server/http_server.h"

#include <boost/asio.hpp>
#include <boost/beast.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

namespace vokid {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// The largest request head taken: a request line and headers far longer
// than any client of this server sends.
constexpr uint32_t kHeadLimit = 16384;

std::string lowerCase(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX decoded, and '+' as a space in a query.
std::string percentDecoded(std::string_view text, bool query)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += query && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::map<std::string, std::string> queryParameters(std::string_view query)
{
    std::map<std::string, std::string> parameters;
    while (!query.empty()) {
        const size_t end = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, end);
        const size_t equals = pair.find('=');
        if (!pair.empty())
            parameters.emplace(percentDecoded(pair.substr(0, equals), true),
                               equals == std::string_view::npos
                                   ? std::string()
                                   : percentDecoded(pair.substr(equals + 1), true));
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return parameters;
}

std::string endpointText(const tcp::endpoint &endpoint)
{
    const net::ip::address address = endpoint.address();
    const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return host + ":" + std::to_string(endpoint.port());
}

} // namespace

std::string HttpRequest::header(const std::string &lowerName) const
{
    const auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

std::string HttpRequest::parameter(const std::string &name, const std::string &otherwise) const
{
    const auto found = query.find(name);
    return found == query.end() ? otherwise : found->second;
}

std::string listeningUrl(const std::string &address, uint16_t port)
{
    const bool v6 = address.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port) + "/";
}

class Session;

struct HttpServer::State {
    State(const HttpLimits &given, Handler handle, Logger log)
        : limits(given), handler(std::move(handle)), logger(std::move(log)), acceptor(io)
    {
    }

    void accept();
    void take(tcp::socket socket);
    void beginRequest()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ++busy;
    }
    void endRequest()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        --busy;
        idle.notify_all();
    }

    HttpLimits limits;
    Handler handler;
    Logger logger;
    std::atomic<bool> stopping{false};
    // The open connections, for the stop: those between requests are
    // closed, those with a request in flight finish it. Declared before
    // the io_context, whose end ends the sessions it still holds.
    std::mutex mutex;
    std::condition_variable idle;
    std::list<std::weak_ptr<Session>> sessions;
    unsigned busy = 0; // requests in flight
    net::io_context io;
    tcp::acceptor acceptor;
    std::vector<std::thread> threads;
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, HttpServer::State &server)
        : stream(std::move(socket)), state(server)
    {
        beast::error_code ignored;
        client = endpointText(stream.socket().remote_endpoint(ignored));
    }
    ~Session()
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        if (place)
            state.sessions.erase(*place);
    }

    // Its place among the server's sessions, given under the server's lock
    // as soon as it is there.
    void registered(std::list<std::weak_ptr<Session>>::iterator at) { place = at; }
    void start() { readHead(); }
    // At a stop: a connection between requests is closed, one with a
    // request in flight finishes it first.
    void closeIfWaiting()
    {
        if (!inRequest)
            close();
    }
    net::any_io_executor executor() { return stream.get_executor(); }

private:
    void readHead();
    void onHead(beast::error_code error);
    void onBody(beast::error_code error);
    void answer();
    void send(HttpResponse response, bool keepAlive);
    void onSent(beast::error_code error, bool keepAlive);
    void beginRequest();
    void close()
    {
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream.close();
    }
    std::chrono::steady_clock::duration readTimeout() const
    {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(state.limits.readTimeout));
    }

    beast::tcp_stream stream;
    HttpServer::State &state;
    std::optional<std::list<std::weak_ptr<Session>>::iterator> place;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    std::shared_ptr<http::response<http::string_body>> pending; // while it is written
    HttpRequest request;
    std::string client;
    Clock::time_point started;
    bool inRequest = false;
};

void Session::readHead()
{
    if (state.stopping)
        return close();
    parser.emplace();
    parser->header_limit(kHeadLimit);
    parser->body_limit(state.limits.maxBody);
    // One deadline for the head and the body together.
    stream.expires_after(readTimeout());
    http::async_read_header(stream, buffer, *parser,
                            [self = shared_from_this()](beast::error_code error, size_t) {
                                self->onHead(error);
                            });
}

void Session::beginRequest()
{
    inRequest = true;
    started = Clock::now();
    state.beginRequest();
    const auto &head = parser->get();
    request = HttpRequest();
    request.method = std::string(head.method_string());
    const std::string_view target(head.target().data(), head.target().size());
    const size_t question = target.find('?');
    request.path = percentDecoded(target.substr(0, question), false);
    if (question != std::string_view::npos)
        request.query = queryParameters(target.substr(question + 1));
    for (const auto &field : head) {
        std::string &value = request.headers[lowerCase(std::string(field.name_string()))];
        value += (value.empty() ? "" : ", ") + std::string(field.value());
    }
    request.client = client;
}

void Session::onHead(beast::error_code error)
{
    if (error == http::error::end_of_stream || error == http::error::partial_message ||
        error == beast::error::timeout ||
        error == net::error::operation_aborted || error == net::error::connection_reset ||
        error == net::error::eof)
        return close();
    if (error) {
        // A head that is not HTTP, or too long: said once, then closed.
        inRequest = true;
        started = Clock::now();
        state.beginRequest();
        request = HttpRequest();
        request.client = client;
        request.method = "-";
        request.path = "-";
        const bool tooLong = error == http::error::header_limit;
        return send({tooLong ? 431 : 400, "application/json",
                     std::string("{\"error\":\"") +
                         (tooLong ? "the request's head is longer than 16 kB"
                                  : "not an HTTP request: " + error.message()) +
                         "\",\"status\":" + (tooLong ? "431" : "400") + "}\n",
                     {}},
                    false);
    }
    beginRequest();
    const auto length = parser->content_length();
    if (length && *length > state.limits.maxBody)
        return send({413, "application/json",
                     "{\"error\":\"the body is larger than the server takes (" +
                         std::to_string(state.limits.maxBody) + " bytes)\",\"status\":413}\n",
                     {}},
                    false);
    const auto read = [self = shared_from_this()] {
        http::async_read(self->stream, self->buffer, *self->parser,
                         [self](beast::error_code failure, size_t) { self->onBody(failure); });
    };
    const auto expect = parser->get().find(http::field::expect);
    if (expect != parser->get().end() && lowerCase(std::string(expect->value())) == "100-continue") {
        static const std::string proceed = "HTTP/1.1 100 Continue\r\n\r\n";
        return net::async_write(stream, net::buffer(proceed),
                                [read](beast::error_code failure, size_t) {
                                    if (!failure)
                                        read();
                                });
    }
    read();
}

void Session::onBody(beast::error_code error)
{
    if (error == http::error::body_limit)
        return send({413, "application/json",
                     "{\"error\":\"the body is larger than the server takes (" +
                         std::to_string(state.limits.maxBody) + " bytes)\",\"status\":413}\n",
                     {}},
                    false);
    if (error == beast::error::timeout)
        return send({408, "application/json",
                     "{\"error\":\"the request did not arrive whole within the read timeout\","
                     "\"status\":408}\n",
                     {}},
                    false);
    if (error) {
        inRequest = false;
        state.endRequest();
        return close();
    }
    answer();
}

void Session::answer()
{
    request.body = std::move(parser->get().body());
    const bool keepAlive = parser->get().keep_alive();
    HttpResponse response;
    try {
        response = state.handler(request);
    } catch (const std::exception &error) {
        response = {500, "application/json",
                    "{\"error\":\"the server failed\",\"status\":500}\n", {}};
    }
    send(std::move(response), keepAlive);
}

void Session::send(HttpResponse response, bool keepAlive)
{
    keepAlive = keepAlive && !state.stopping;
    auto message = std::make_shared<http::response<http::string_body>>(
        static_cast<http::status>(response.status), 11);
    message->set(http::field::server, "vokid");
    if (!response.contentType.empty())
        message->set(http::field::content_type, response.contentType);
    for (const auto &[name, value] : response.headers)
        message->set(name, value);
    message->keep_alive(keepAlive);
    const size_t size = response.body.size();
    if (request.method == "HEAD") {
        message->content_length(size);
    } else {
        message->body() = std::move(response.body);
        message->prepare_payload();
    }
    pending = message;
    if (state.logger)
        state.logger({&request, response.status,
                      std::chrono::duration<double>(Clock::now() - started).count()});
    stream.expires_after(readTimeout());
    http::async_write(stream, *message,
                      [self = shared_from_this(), keepAlive](beast::error_code error, size_t) {
                          self->onSent(error, keepAlive);
                      });
}

void Session::onSent(beast::error_code error, bool keepAlive)
{
    pending.reset();
    inRequest = false;
    state.endRequest();
    if (error || !keepAlive || state.stopping)
        return close();
    readHead();
}

void HttpServer::State::accept()
{
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted || !acceptor.is_open())
            return;
        if (!error)
            take(std::move(socket));
        accept();
    });
}

void HttpServer::State::take(tcp::socket socket)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping || sessions.size() >= limits.maxConnections) {
        lock.unlock();
        // Said without waiting (the socket's buffer takes it), then closed.
        static const std::string refusal =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
            "Content-Length: 59\r\nConnection: close\r\n\r\n"
            "{\"error\":\"too many connections; try again\",\"status\":503}\n";
        beast::error_code ignored;
        socket.non_blocking(true, ignored);
        socket.write_some(net::buffer(refusal), ignored);
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
        return;
    }
    auto session = std::make_shared<Session>(std::move(socket), *this);
    session->registered(sessions.insert(sessions.end(), session));
    lock.unlock();
    net::dispatch(session->executor(), [session] { session->start(); });
}

HttpServer::HttpServer(const std::string &address, uint16_t port, const HttpLimits &limits,
                       Handler handler, Logger logger)
    : state(std::make_unique<State>(limits, std::move(handler), std::move(logger)))
{
    beast::error_code error;
    const net::ip::address ip = net::ip::make_address(address, error);
    const tcp::endpoint endpoint(ip, port);
    const auto fail = [&](const char *what) {
        return HttpError("cannot " + std::string(what) + " " + address + ":" +
                         std::to_string(port) + ": " + error.message());
    };
    if (error)
        throw fail("listen on");
    if (state->acceptor.open(endpoint.protocol(), error))
        throw fail("open a socket for");
    state->acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (ip.is_v6())
        state->acceptor.set_option(net::ip::v6_only(true), error);
    if (state->acceptor.bind(endpoint, error))
        throw fail("listen on");
    if (state->acceptor.listen(net::socket_base::max_listen_connections, error))
        throw fail("listen on");
    state->accept();
    for (unsigned i = 0; i < std::max(1u, limits.threads); ++i)
        state->threads.emplace_back([this] { state->io.run(); });
}

HttpServer::~HttpServer()
{
    stop(0);
}

uint16_t HttpServer::port() const
{
    beast::error_code error;
    return state->acceptor.local_endpoint(error).port();
}

void HttpServer::stop(double graceSeconds)
{
    if (state->stopping.exchange(true)) {
        for (std::thread &thread : state->threads)
            if (thread.joinable())
                thread.join();
        return;
    }
    net::post(state->io, [this] {
        beast::error_code ignored;
        state->acceptor.close(ignored);
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    for (const std::weak_ptr<Session> &each : state->sessions)
        if (const std::shared_ptr<Session> session = each.lock())
            net::post(session->executor(), [session] { session->closeIfWaiting(); });
    state->idle.wait_for(lock, std::chrono::duration<double>(graceSeconds),
                         [this] { return state->busy == 0; });
    lock.unlock();
    state->io.stop();
    for (std::thread &thread : state->threads)
        thread.join();
}

} // namespace vokid
