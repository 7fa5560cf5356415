#include "glasses-sim/HttpPost.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/UniqueFd.h"

namespace orvan::sim {

HttpUrl parseHttpUrl(const std::string& url) {
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) throw std::invalid_argument("not an http URL: " + url);
    const std::string rest = url.substr(scheme.size());
    const std::size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    HttpUrl parsed;
    parsed.path = slash == std::string::npos ? "/" : rest.substr(slash);
    const std::size_t colon = authority.rfind(':');
    parsed.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + 1);
        if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5) {
            throw std::invalid_argument("bad port in URL: " + url);
        }
        parsed.port = std::stoi(port);
    }
    if (parsed.host.empty() || parsed.port <= 0 || parsed.port > 65535) throw std::invalid_argument("bad URL: " + url);
    return parsed;
}

bool sendToLoopback(int port, const std::string& bytes) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return false;
    return ::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

HttpResponse httpPost(const std::string& address, int port, const std::string& path, const std::string& hostHeader,
                      const std::string& body, std::chrono::milliseconds timeout) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) throw std::runtime_error("bad address " + address);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        throw std::runtime_error("connect to " + address + ":" + std::to_string(port) +
                                 " failed: " + std::strerror(errno));
    }
    const std::string request = "POST " + path + " HTTP/1.1\r\nHost: " + hostHeader +
                                "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\nConnection: close\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[8192];
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("no complete reply within the time-out");
        pollfd pfd{fd.get(), POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error(std::string("receive failed: ") + std::strerror(errno));
        if (n == 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
        if (reply.size() > 1024 * 1024) throw std::runtime_error("reply too large");
    }
    HttpResponse response;
    if (reply.compare(0, 5, "HTTP/") != 0 || reply.find(' ') == std::string::npos) {
        throw std::runtime_error("reply is not HTTP: " + reply.substr(0, 64));
    }
    response.status = std::atoi(reply.c_str() + reply.find(' ') + 1);
    const std::size_t end = reply.find("\r\n\r\n");
    if (end != std::string::npos) response.body = reply.substr(end + 4);
    return response;
}

}  // namespace orvan::sim
