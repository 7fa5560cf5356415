#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

#include "foundation/MirrorError.h"
#include "pairing/WirelessAdbCallbackServer.h"

namespace orvan {
namespace {

constexpr const char* kPath = "/orvan/wireless-adb/callback";
const std::string kAck =
    R"({"type":"ORVAN_WIRELESS_ADB_ACK","version":1,"action":"QUERY","sessionId":"S1","status":"WAITING",)"
    R"("device":{"ip":"127.0.0.9","adbPort":5555}})";

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval bound{20, 0};  // a hang fails the test instead of blocking it
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends each piece with its own write, optionally half-closes, and reads the reply to EOF.
std::string exchange(int port, const std::vector<std::string>& pieces, bool halfClose) {
    int fd = connectTo(port);
    if (fd < 0) return "connect failed";
    for (const auto& piece : pieces) ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
    if (halfClose) ::shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return reply;
}

std::string post(const std::string& body, const std::string& lengthHeader = "Content-Length: ") {
    return "POST " + std::string(kPath) + " HTTP/1.1\r\nHost: x\r\n" + lengthHeader + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::vector<std::string> bytewise(const std::string& text) {
    std::vector<std::string> pieces;
    for (char c : text) pieces.emplace_back(1, c);
    return pieces;
}

class CallbackServerFixture {
    // Before the server: its loop may log while the server is destroyed.
    std::mutex mutex_;
    std::vector<std::string> lines_;

public:
    explicit CallbackServerFixture(CallbackServerLimits limits = {.bindAddress = "127.0.0.1"})
        : server(
              kPath, [this](const std::string& line) { record(line); },
              [this](const WirelessAdbCallback& callback) {
                  record("callback " + callback.sessionId);
                  return WirelessAdbCallbackResponse{.adbConnected = true, .sessionId = callback.sessionId};
              },
              limits) {
        port = server.start(freePortBase());
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // A base with ten free ports above it, from the kernel's ephemeral range (never 15037/5037).
    static int freePortBase() {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t size = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        ::close(fd);
        return ntohs(address.sin_port);
    }

    WirelessAdbCallbackServer server;
    int port = 0;

private:
    void record(const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
};

struct HttpCase {
    const char* name;
    std::vector<std::string> pieces;
    bool halfClose;
    std::string statusLine;
    std::string logPart;  // a line containing it must be logged
};

class CallbackHttp : public ::testing::TestWithParam<HttpCase> {};

TEST_P(CallbackHttp, AnswersOverARealSocket) {
    CallbackServerFixture fixture({.bindAddress = "127.0.0.1", .requestTimeout = std::chrono::milliseconds(500)});
    std::string reply = exchange(fixture.port, GetParam().pieces, GetParam().halfClose);
    EXPECT_EQ(reply.substr(0, reply.find("\r\n")), GetParam().statusLine) << reply;
    fixture.server.stop();  // flushes nothing but makes every log line visible
    auto lines = fixture.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(GetParam().logPart) != std::string::npos;
    })) << GetParam().logPart;
    if (GetParam().statusLine != "HTTP/1.1 200 OK") {
        EXPECT_TRUE(reply.ends_with("\r\n\r\n{\"ok\":false}"));
    }
}

const std::string kPadded = kAck + std::string(60000, ' ');
const std::string kHeader = "POST " + std::string(kPath) + " HTTP/1.1\r\nContent-Length: 400\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CallbackHttp,
    ::testing::Values(
        HttpCase{"oneWrite", {post(kAck)}, false, "HTTP/1.1 200 OK", "callback S1"},
        HttpCase{"byteByByte", bytewise(post(kAck)), false, "HTTP/1.1 200 OK", "callback S1"},
        HttpCase{
            "lowerCaseLengthSpaced", {post(kAck, "content-length: \t  ")}, false, "HTTP/1.1 200 OK", "callback S1"},
        HttpCase{"body60k", {post(kPadded)}, false, "HTTP/1.1 200 OK", "callback S1"},
        HttpCase{"body70kCutAtCap",
                 {post(std::string(70000, ' ') + kAck)},
                 false,
                 "HTTP/1.1 400 Bad Request",
                 "JSON decode 失败"},
        HttpCase{"shortBodyComplete", {kHeader + kAck}, true, "HTTP/1.1 200 OK", "callback S1"},
        HttpCase{"shortBodyCut", {kHeader + kAck.substr(0, 40)}, true, "HTTP/1.1 400 Bad Request", "JSON decode 失败"},
        HttpCase{"closedWithoutSending",
                 {},
                 true,
                 "HTTP/1.1 400 Bad Request",
                 "读取请求失败: 无线 ADB 回调请求为空。; requestLine=-; bodyPreview=-"},
        HttpCase{"idlePastTheBound", {}, false, "HTTP/1.1 400 Bad Request", "无线 ADB 回调请求超时。"},
        HttpCase{"get",
                 {"GET " + std::string(kPath) + " HTTP/1.1\r\n\r\n"},
                 false,
                 "HTTP/1.1 404 Not Found",
                 "requestLine=GET /orvan/wireless-adb/callback HTTP/1.1; bodyPreview=-"},
        HttpCase{
            "lowerCaseMethod", {"post" + post(kAck).substr(4)}, false, "HTTP/1.1 404 Not Found", "路径或方法不匹配"},
        HttpCase{"queryString",
                 {"POST " + std::string(kPath) + "?a=1 HTTP/1.1\r\n\r\n"},
                 false,
                 "HTTP/1.1 404 Not Found",
                 "路径或方法不匹配"},
        HttpCase{"trailingSlash",
                 {"POST " + std::string(kPath) + "/ HTTP/1.1\r\n\r\n"},
                 false,
                 "HTTP/1.1 404 Not Found",
                 "路径或方法不匹配"},
        // A bare LF and control characters must not start a forged log line.
        HttpCase{"forgedLine",
                 {"GET /x\n[12:00:00] 伪造\x1b HTTP/1.1\r\n\r\nab\r\ncd"},
                 false,
                 "HTTP/1.1 404 Not Found",
                 "requestLine=GET /x [12:00:00] 伪造  HTTP/1.1; bodyPreview=ab\\r\\ncd"},
        HttpCase{"binary",
                 {std::string("\xff\xfe\r\n\r\n\x80\x81", 8)},
                 false,
                 "HTTP/1.1 404 Not Found",
                 "requestLine=-; bodyPreview=80 81"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CallbackServer, ReplyBytesAreExact) {
    CallbackServerFixture fixture;
    std::string body = R"({"adbAckSupported":true,"adbConnected":true,"alreadyMirroring":false,)"
                       R"("mirrorAckSupported":true,"mirrorStatus":"STARTING","ok":true,"sessionId":"S1"})";
    EXPECT_EQ(exchange(fixture.port, {post(kAck)}, false),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body);
}

TEST(CallbackServer, TakesTheNextFreePortAndFailsWithTheLastOne) {
    WirelessAdbCallbackServer first(kPath, {}, {}, {.bindAddress = "127.0.0.1"});
    int base = first.start(CallbackServerFixture::freePortBase());
    WirelessAdbCallbackServer second(kPath, {}, {}, {.bindAddress = "127.0.0.1"});
    EXPECT_EQ(second.start(base), base + 1);
    WirelessAdbCallbackServer third(kPath, {}, {}, {.bindAddress = "127.0.0.1"});
    EXPECT_EQ(third.start(base), base + 2);
    std::vector<std::unique_ptr<WirelessAdbCallbackServer>> rest;
    for (int i = 3; i < 10; ++i) {
        rest.push_back(std::make_unique<WirelessAdbCallbackServer>(kPath, nullptr, nullptr,
                                                                   CallbackServerLimits{.bindAddress = "127.0.0.1"}));
        rest.back()->start(base + i);
    }
    WirelessAdbCallbackServer late(kPath, {}, {}, {.bindAddress = "127.0.0.1"});
    try {
        late.start(base);
        FAIL() << "every port was taken";
    } catch (const MirrorError& error) {
        EXPECT_EQ(std::string(error.what()), "端口 " + std::to_string(base + 9) + " 已被占用。");
    }
    // stop() releases the port at once: the same server or another may bind it again.
    second.stop();
    EXPECT_EQ(late.start(base), base + 1);
}

TEST(CallbackServer, IdlePeersBeyondTheCapCannotBlockAQuery) {
    CallbackServerFixture fixture({.bindAddress = "127.0.0.1", .maxConnections = 4});
    std::vector<int> idle;
    for (int i = 0; i < 12; ++i) idle.push_back(connectTo(fixture.port));
    std::string reply = exchange(fixture.port, {post(kAck)}, false);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK")) << reply;
    for (int fd : idle) ::close(fd);
}

TEST(CallbackServer, RejectionLinesAreRateLimited) {
    CallbackServerFixture fixture;
    for (int i = 0; i < 25; ++i) exchange(fixture.port, {"GET / HTTP/1.1\r\n\r\n"}, false);
    fixture.server.stop();
    auto lines = fixture.lines();
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines.back(), "无线 ADB 回调拒绝记录过多，已省略 5 条。");
}

}  // namespace
}  // namespace orvan
