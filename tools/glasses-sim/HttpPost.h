#pragma once

#include <chrono>
#include <string>

namespace orvan::sim {

struct HttpUrl {
    std::string host;
    int port = 80;
    std::string path = "/";
};

// Parses "http://host[:port][/path]"; throws std::invalid_argument otherwise.
HttpUrl parseHttpUrl(const std::string& url);

struct HttpResponse {
    int status = 0;
    std::string body;
};

// One POST with a JSON body to an IPv4 address, reading the reply until the server closes
// (the callback server answers each connection once). Throws std::runtime_error on network
// errors or a reply that is not HTTP.
HttpResponse httpPost(const std::string& address, int port, const std::string& path, const std::string& hostHeader,
                      const std::string& body, std::chrono::milliseconds timeout);

// Connects to 127.0.0.1:port, sends the bytes and closes; false when nothing listens.
bool sendToLoopback(int port, const std::string& bytes);

}  // namespace orvan::sim
