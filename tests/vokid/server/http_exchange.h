// A small HTTP/1.1 client on plain sockets, written apart from the server
// it tests so that the server's answers are read as any client reads them:
// the status line, the headers, and a body of Content-Length bytes, or up
// to the end of the connection. Requests can be sent whole or a piece at a
// time, for the tests of slow and hostile clients.
#ifndef VOK_TESTS_VOKID_SERVER_HTTP_EXCHANGE_H
#define VOK_TESTS_VOKID_SERVER_HTTP_EXCHANGE_H

#include <cstdint>
#include <map>
#include <string>

namespace vokid_test {

struct HttpReply {
    int status = 0; // 0 when the connection closed before a status line
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    bool closed = false; // the server closed the connection
};

// One open connection to 127.0.0.1:port.
class HttpConnection {
public:
    explicit HttpConnection(uint16_t port);
    ~HttpConnection();
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;

    bool connected() const { return fd >= 0; }
    // False when the server has closed the connection (or reset it).
    bool send(const std::string &bytes);
    // Reads one answer, waiting at most `seconds`.
    HttpReply receive(double seconds = 60);
    // Whether the server closes the connection within `seconds`.
    bool closedWithin(double seconds);

private:
    int fd = -1;
    std::string pending; // read beyond the last answer
};

// "POST /query HTTP/1.1" with Host, Content-Length and the extra header
// lines given ("Authorization: Bearer x\r\n").
std::string httpRequest(const std::string &method, const std::string &target,
                        const std::string &body = "", const std::string &headers = "");

// One request on a connection of its own.
HttpReply httpCall(uint16_t port, const std::string &method, const std::string &target,
                   const std::string &body = "", const std::string &headers = "");

} // namespace vokid_test

#endif
