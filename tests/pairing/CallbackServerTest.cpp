#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <mutex>

#include "pairing/WirelessAdbCallbackServer.h"
#include "support/ErrorOf.h"

namespace orvan {
namespace {

constexpr const char* kPath = "/orvan/wireless-adb/callback";
const std::string kAck =
    R"({"type":"ORVAN_WIRELESS_ADB_ACK","version":1,"action":"QUERY","sessionId":"S1","status":"WAITING",)"
    R"("device":{"ip":"127.0.0.9","adbPort":5555}})";

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    timeval bound{20, 0};  // a hang fails the test instead of blocking it
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

// Sends each piece with its own write, optionally half-closes, and reads the reply to EOF.
std::string exchange(int port, const std::vector<std::string>& pieces, bool halfClose = false) {
    int fd = connectTo(port);
    for (const auto& piece : pieces) ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
    if (halfClose) ::shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return reply;
}

// The exact reply bytes of a served callback.
const std::string kBody =
    R"({"adbAckSupported":true,"adbConnected":true,"adbPublicKey":"K/+=","alreadyMirroring":false,)"
    R"("mirrorAckSupported":true,"mirrorStatus":"STARTING","ok":true,"sessionId":"S1"})";
const std::string kReply =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(kBody.size()) +
    "\r\nConnection: close\r\n\r\n" + kBody;

const std::string kErrorTail =
    "\r\nContent-Type: application/json\r\nContent-Length: 12\r\nConnection: close\r\n\r\n{\"ok\":false}";

std::string post(const std::string& body, const std::string& lengthHeader = "Content-Length: ") {
    return "POST " + std::string(kPath) + " HTTP/1.1\r\nHost: x\r\n" + lengthHeader + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

class Served {
    std::mutex mutex_;  // before the server, whose loop may log while it is destroyed
    std::vector<std::string> lines_;

public:
    explicit Served(CallbackServerLimits limits = {.bindAddress = "127.0.0.1"})
        : server(
              kPath,
              [this](const std::string& line) {
                  std::lock_guard lock(mutex_);
                  lines_.push_back(line);
              },
              [](const WirelessAdbCallback& callback) {
                  return WirelessAdbCallbackResponse{
                      .adbPublicKey = "K/+=", .adbConnected = true, .sessionId = callback.sessionId};
              },
              limits),
          port(server.start(0)) {}
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    WirelessAdbCallbackServer server;
    int port;
};

struct HttpCase {
    const char* name;
    std::vector<std::string> pieces;
    bool halfClose;
    std::string statusLine;
    std::string logPart;  // a logged line must contain it; empty: nothing logged
};

class CallbackHttp : public ::testing::TestWithParam<HttpCase> {};

TEST_P(CallbackHttp, AnswersOverARealSocket) {
    Served served({.bindAddress = "127.0.0.1", .requestTimeout = std::chrono::milliseconds(500)});
    std::string reply = exchange(served.port, GetParam().pieces, GetParam().halfClose);
    EXPECT_EQ(reply, GetParam().logPart.empty() ? kReply : GetParam().statusLine + kErrorTail);
    served.server.stop();
    auto lines = served.lines();
    ASSERT_EQ(lines.size(), GetParam().logPart.empty() ? 0u : 1u);
    for (const auto& line : lines) EXPECT_NE(line.find(GetParam().logPart), std::string::npos) << line;
}

std::vector<std::string> bytewise(const std::string& text) {
    std::vector<std::string> pieces;
    for (char c : text) pieces.emplace_back(1, c);
    return pieces;
}
const std::string kHeader = "POST " + std::string(kPath) + " HTTP/1.1\r\nContent-Length: 400\r\n\r\n";
const std::string k200 = "HTTP/1.1 200 OK", k400 = "HTTP/1.1 400 Bad Request", k404 = "HTTP/1.1 404 Not Found";

INSTANTIATE_TEST_SUITE_P(
    Cases, CallbackHttp,
    ::testing::Values(
        HttpCase{"byteByByte", bytewise(post(kAck)), false, k200, ""},
        HttpCase{"body60k", {post(kAck + std::string(60000, ' '))}, false, k200, ""},
        HttpCase{"body70kCutAtCap", {post(std::string(70000, ' ') + kAck)}, false, k400, "JSON decode 失败"},
        HttpCase{"peerClosesEarlyComplete", {kHeader + kAck}, true, k200, ""},
        HttpCase{"peerClosesEarlyCut", {kHeader + kAck.substr(0, 40)}, true, k400, "JSON decode 失败"},
        HttpCase{"closedWithoutSending",
                 {},
                 true,
                 k400,
                 "读取请求失败: 无线 ADB 回调请求为空。; requestLine=-; bodyPreview=-"},
        HttpCase{"idlePastTheBound", {}, false, k400, "无线 ADB 回调请求超时。"},
        HttpCase{"get",
                 {"GET " + std::string(kPath) + " HTTP/1.1\r\n\r\n"},
                 false,
                 k404,
                 "requestLine=GET /orvan/wireless-adb/callback HTTP/1.1; bodyPreview=-"},
        HttpCase{"lowerCaseMethod", {"post" + post(kAck).substr(4)}, false, k404, "路径或方法不匹配"},
        HttpCase{"trailingSlash", {"POST " + std::string(kPath) + "/ HTTP/1.1\r\n\r\n"}, false, k404, "不匹配"},
        // A bare LF and control characters must not start a forged log line.
        HttpCase{"forgedLine",
                 {"GET /x\n[12:00:00] 伪造\x1b HTTP/1.1\r\n\r\nab\r\ncd"},
                 false,
                 k404,
                 "requestLine=GET /x [12:00:00] 伪造  HTTP/1.1; bodyPreview=ab\\r\\ncd"},
        HttpCase{
            "binary", {std::string("\xff\xfe\r\n\r\n\x80\x81", 8)}, false, k404, "requestLine=-; bodyPreview=80 81"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CallbackServer, TakesTheNextFreePortAndReleasesItOnStop) {
    // A loopback address of its own keeps the nine ports above the ephemeral base clear of other tests'
    // client sockets, which all sit on 127.0.0.1.
    std::string address = "127." + std::to_string(10 + ::getpid() % 200) + "." + std::to_string(::getpid() % 250 + 1) + ".7";
    std::vector<std::unique_ptr<WirelessAdbCallbackServer>> servers;
    auto make = [&] {
        return servers.emplace_back(new WirelessAdbCallbackServer(kPath, {}, {}, {.bindAddress = address})).get();
    };
    int base = make()->start(0);
    for (int i = 1; i < 10; ++i) ASSERT_EQ(make()->start(base), base + i);  // ports above an ephemeral one are free
    auto* late = make();
    EXPECT_EQ(testing::errorOf([&] { late->start(base); }), "端口 " + std::to_string(base + 9) + " 已被占用。");
    servers[2]->stop();  // shutdown and close free the port at once
    EXPECT_EQ(late->start(base), base + 2);
    // The app sets only the address: a silent peer is dropped after the default 10 s.
    EXPECT_EQ(CallbackServerLimits{.bindAddress = address}.requestTimeout, std::chrono::seconds(10));
}

TEST(CallbackServer, IdlePeersBeyondTheCapCannotBlockAQuery) {
    Served served({.bindAddress = "127.0.0.1", .maxConnections = 4});
    std::vector<int> idle;
    for (int i = 0; i < 12; ++i) idle.push_back(connectTo(served.port));
    EXPECT_TRUE(exchange(served.port, {post(kAck)}).starts_with(k200));
    for (int fd : idle) ::close(fd);
}

TEST(CallbackServer, RejectionLinesAreRateLimited) {
    Served served;
    for (int i = 0; i < 25; ++i) exchange(served.port, {"GET / HTTP/1.1\r\n\r\n"});
    served.server.stop();
    auto lines = served.lines();
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines.back(), "无线 ADB 回调拒绝记录过多，已省略 5 条。");
}

}  // namespace
}  // namespace orvan
