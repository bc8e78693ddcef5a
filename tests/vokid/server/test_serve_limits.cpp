// `vokid serve` against clients that do not play along: bodies over the
// limit, slow senders, more connections than it takes, a stop asked while
// requests are in flight, and an index damaged under it. Each gets an
// answer or is dropped within its bound, and the server keeps serving.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "tests/support/recording.h"
#include "tests/support/wav_writer.h"
#include "tests/vokid/program/vokid_runs.h"
#include "tests/vokid/server/http_exchange.h"
#include "tests/vokid/server/served_index.h"

namespace {

namespace fs = std::filesystem;
using vokid_test::HttpConnection;
using vokid_test::httpCall;
using vokid_test::HttpReply;
using vokid_test::httpRequest;
using vokid_test::ServedIndex;
using vokid_test::vokid;

constexpr uint32_t kRate = 11025;

class ServeLimits : public ::testing::Test {
protected:
    void SetUp() override
    {
        clipBytes = wavBytes(vok_test::recording(501, 20, kRate, 1));
        const std::string track = dir.file("t.wav");
        std::ofstream(track, std::ios::binary) << clipBytes;
        db = dir.file("index");
        const vok_test::RunResult added = vokid({"add", db, track});
        ASSERT_EQ(0, added.exit_code) << added.err;
    }

    static std::string wavBytes(const std::vector<int16_t> &samples)
    {
        vok_test::TempDir scratch;
        vok_test::write_wav(scratch.file("a.wav"), 1, 1, kRate, 16, vok_test::pcm16(samples));
        std::ifstream in(scratch.file("a.wav"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    bool stillServes(const ServedIndex &server)
    {
        return httpCall(server.port(), "GET", "/healthz").status == 200;
    }

    vok_test::TempDir dir;
    std::string db;
    std::string clipBytes;
};

TEST_F(ServeLimits, AnswersABodyOverTheLimitWith413WithoutReadingIt)
{
    ServedIndex server(db, {"--max-body", "1"});
    ASSERT_TRUE(server.started()) << server.log();
    // Told by its length: the answer comes before any of the body is sent.
    HttpConnection told(server.port());
    ASSERT_TRUE(told.send("POST /query HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000\r\n\r\n"));
    const HttpReply early = told.receive(10);
    EXPECT_EQ(413, early.status);
    EXPECT_NE(std::string::npos, early.body.find("\"status\":413")) << early.body;
    // Sent in chunks with no length: cut off once it passes the limit.
    HttpConnection chunked(server.port());
    ASSERT_TRUE(chunked.send("POST /v1/identify HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"));
    const std::string chunk(65536, 'a');
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    for (int i = 0; i < 40 && chunked.send(size + chunk + "\r\n"); ++i) {
    }
    const HttpReply late = chunked.receive(10);
    EXPECT_TRUE(late.status == 413 || late.closed) << late.status;
    // Just under the limit is read and answered.
    const HttpReply under = httpCall(server.port(), "POST", "/v1/identify", clipBytes);
    EXPECT_EQ(200, under.status) << under.body;
    EXPECT_TRUE(stillServes(server));
}

TEST_F(ServeLimits, DropsSlowSendersAfterTheReadTimeout)
{
    ServedIndex server(db, {"--read-timeout", "1"});
    ASSERT_TRUE(server.started()) << server.log();
    // Silent after connecting; a header a byte at a time; a body that stops.
    HttpConnection silent(server.port());
    HttpConnection dripping(server.port());
    HttpConnection stalled(server.port());
    ASSERT_TRUE(stalled.send("POST /query HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\nabc"));
    const std::string header = "GET /healthz HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    bool dropped = false;
    for (size_t i = 0; i < 80 && !dropped; ++i) {
        dropped = !dripping.send(std::string(1, i < header.size() ? header[i] : 'a'));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        dropped = dropped || dripping.closedWithin(0);
    }
    EXPECT_TRUE(dropped || dripping.closedWithin(3)) << "a header sent for 8 s was not cut off";
    EXPECT_TRUE(silent.closedWithin(5));
    EXPECT_TRUE(stalled.closedWithin(5));
    EXPECT_TRUE(stillServes(server));
}

TEST_F(ServeLimits, BoundsTheConnectionsItHolds)
{
    ServedIndex server(db, {"--max-connections", "4", "--read-timeout", "5"});
    ASSERT_TRUE(server.started()) << server.log();
    std::vector<std::unique_ptr<HttpConnection>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(std::make_unique<HttpConnection>(server.port()));
        ASSERT_TRUE(idle.back()->connected());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The fifth is closed, not held, and costs the server nothing.
    HttpConnection fifth(server.port());
    if (fifth.connected()) {
        fifth.send(httpRequest("GET", "/healthz"));
        const HttpReply reply = fifth.receive(3);
        EXPECT_TRUE(reply.closed || reply.status == 503) << reply.status;
    }
    idle.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(stillServes(server));
}

TEST_F(ServeLimits, AnswersTheRequestsInFlightWhenStopped)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    // A request whose headers have come but whose body has not: in flight.
    HttpConnection inFlight(server.port());
    const std::string request = httpRequest("POST", "/v1/identify", clipBytes);
    const size_t half = request.size() / 2;
    ASSERT_TRUE(inFlight.send(request.substr(0, half)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(server.pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // No new connections are taken.
    HttpConnection late(server.port());
    EXPECT_TRUE(!late.connected() || !late.send(httpRequest("GET", "/healthz")) ||
                late.receive(3).status == 0);
    ASSERT_TRUE(inFlight.send(request.substr(half)));
    const HttpReply answer = inFlight.receive(20);
    EXPECT_EQ(200, answer.status) << answer.body;
    EXPECT_NE(std::string::npos, answer.body.find("\"track\":1")) << answer.body;
    EXPECT_EQ(0, server.stop(SIGTERM, 15)) << server.log();
}

TEST_F(ServeLimits, ExitsAtOnceWhenNothingIsInFlight)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    HttpConnection idle(server.port()); // kept open, but asking nothing
    EXPECT_EQ(0, server.stop(SIGINT, 5)) << server.log();
}

TEST_F(ServeLimits, AnswersADamagedIndexWith503AndKeepsServing)
{
    ServedIndex server(db);
    ASSERT_TRUE(server.started()) << server.log();
    ASSERT_EQ(200, httpCall(server.port(), "GET", "/healthz").status);
    // The track record's path, changed in place: its checksum no longer holds.
    const std::string data = db + "/data.mdb";
    std::fstream file(data, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string path = fs::canonical(dir.file("t.wav")).string();
    const size_t at = bytes.find(path);
    ASSERT_NE(std::string::npos, at);
    file.seekp(static_cast<std::streamoff>(at + path.size() - 5));
    file.put('X');
    file.close();
    for (const char *target : {"/v1/tracks", "/v1/tracks/1"}) {
        const HttpReply reply = httpCall(server.port(), "GET", target);
        EXPECT_EQ(503, reply.status) << target << ": " << reply.body;
        EXPECT_NE(std::string::npos, reply.body.find("the index is damaged")) << reply.body;
    }
    const HttpReply health = httpCall(server.port(), "GET", "/healthz");
    EXPECT_EQ(503, health.status) << health.body;
    EXPECT_NE(std::string::npos, health.body.find("the index is damaged")) << health.body;
    EXPECT_EQ(200, httpCall(server.port(), "GET", "/metrics").status);
    EXPECT_EQ(0, server.stop(SIGTERM));
}

TEST_F(ServeLimits, RefusesToStartWithoutItsIndexOrAddress)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"serve", dir.file("none")}, "none"},
        {{"serve", db, "--listen", "localhost:80"}, "--listen localhost:80"},
        {{"serve", db, "--listen", "127.0.0.1:70000"}, "--listen 127.0.0.1:70000"},
        {{"serve", db, "--token-file", dir.file("missing")}, "missing"},
    };
    for (const auto &[args, named] : cases) {
        const vok_test::RunResult run = vokid(args);
        EXPECT_NE(0, run.exit_code) << named;
        EXPECT_NE(std::string::npos, run.err.find(named)) << run.err;
        EXPECT_EQ("", run.out);
    }
}

} // namespace
