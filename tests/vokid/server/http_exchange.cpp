#include "tests/vokid/server/http_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace vokid_test {

namespace {

using Clock = std::chrono::steady_clock;

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// What comes before `deadline`: the bytes read into `chunk`, 0 at the end
// of the connection (or an error), -1 at the deadline.
ssize_t receiveBefore(int fd, char *chunk, size_t size, Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd waiting{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
        return -1;
    return std::max<ssize_t>(0, recv(fd, chunk, size, 0));
}

// Reads what has come, waiting until `deadline`; false at the end of the
// connection or the deadline.
bool readMore(int fd, std::string &into, Clock::time_point deadline)
{
    char chunk[65536];
    const ssize_t got = receiveBefore(fd, chunk, sizeof chunk, deadline);
    if (got <= 0)
        return false;
    into.append(chunk, static_cast<size_t>(got));
    return true;
}

void parseHead(const std::string &head, HttpReply &reply)
{
    const size_t lineEnd = head.find("\r\n");
    const std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.compare(0, 5, "HTTP/") == 0 && statusLine.size() >= 12)
        reply.status = std::atoi(statusLine.c_str() + 9);
    size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (at < head.size()) {
        const size_t end = std::min(head.find("\r\n", at), head.size());
        const std::string line = head.substr(at, end - at);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            reply.headers[lower(line.substr(0, colon))] = value;
        }
        at = end + 2;
    }
}

} // namespace

HttpConnection::HttpConnection(uint16_t port)
{
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
}

HttpConnection::~HttpConnection()
{
    if (fd >= 0)
        close(fd);
}

bool HttpConnection::send(const std::string &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        sent += static_cast<size_t>(count);
    }
    return true;
}

HttpReply HttpConnection::receive(double seconds)
{
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    HttpReply reply;
    std::string &data = pending;
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
        if (!readMore(fd, data, deadline)) {
            reply.closed = true;
            return reply;
        }
    parseHead(data.substr(0, headEnd), reply);
    data.erase(0, headEnd + 4);
    const auto length = reply.headers.find("content-length");
    if (length != reply.headers.end()) {
        const size_t size = std::strtoull(length->second.c_str(), nullptr, 10);
        while (data.size() < size)
            if (!readMore(fd, data, deadline)) {
                reply.closed = true;
                break;
            }
        reply.body = data.substr(0, std::min(size, data.size()));
        data.erase(0, reply.body.size());
    } else if (reply.status != 204 && reply.status != 304) {
        while (readMore(fd, data, deadline)) {
        }
        reply.body = data;
        data.clear();
        reply.closed = true;
    }
    return reply;
}

bool HttpConnection::closedWithin(double seconds)
{
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    char chunk[4096];
    for (;;) {
        const ssize_t got = receiveBefore(fd, chunk, sizeof chunk, deadline);
        if (got <= 0)
            return got == 0;
    }
}

std::string httpRequest(const std::string &method, const std::string &target,
                        const std::string &body, const std::string &headers)
{
    return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

HttpReply httpCall(uint16_t port, const std::string &method, const std::string &target,
                   const std::string &body, const std::string &headers)
{
    HttpConnection connection(port);
    if (!connection.connected() || !connection.send(httpRequest(method, target, body, headers)))
        return HttpReply{0, {}, {}, true};
    return connection.receive();
}

} // namespace vokid_test
