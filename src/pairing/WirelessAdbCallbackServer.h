#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "pairing/WirelessAdbCallback.h"
#include "pairing/WirelessAdbCallbackResponse.h"
#include "platform/UniqueFd.h"

namespace orvan {

// Limits of one server; tests shrink them and bind to loopback.
struct CallbackServerLimits {
    std::string bindAddress = "0.0.0.0";
    // Each connection must deliver its whole request within this time.
    std::chrono::milliseconds requestTimeout{10000};
    // Connections being read at once; a new one beyond this closes the oldest.
    size_t maxConnections = 512;
};

// The HTTP endpoint the glasses report to: one POST with a JSON body per connection, answered
// with the callback's reply. One event-loop thread reads every connection without blocking, so
// idle or slow peers cost a descriptor, never a thread, and cannot delay anyone else; decoded
// callbacks run on the background pool (the callback may block for a while).
class WirelessAdbCallbackServer {
public:
    using Callback = std::function<WirelessAdbCallbackResponse(const WirelessAdbCallback&)>;
    using LogFunction = std::function<void(const std::string&)>;

    static constexpr int kPortAttempts = 10;

    WirelessAdbCallbackServer(std::string callbackPath, LogFunction onLog, Callback callback,
                              CallbackServerLimits limits = {});
    ~WirelessAdbCallbackServer();  // stops
    WirelessAdbCallbackServer(const WirelessAdbCallbackServer&) = delete;
    WirelessAdbCallbackServer& operator=(const WirelessAdbCallbackServer&) = delete;

    // Stops, then listens on the first free port of preferredPort..preferredPort+9 and returns it
    // (0: any free port).
    // Throws MirrorError "端口 N 已被占用。" for the last port, or "无法创建无线 ADB 回调监听。".
    int start(int preferredPort);
    // Ends the event loop and closes the listening socket and every connection not yet handed to
    // a worker; a handed-over connection is still answered. Safe to repeat.
    void stop();

    int port() const { return port_; }

    struct Shared;  // what outlives stop(): path, log, callback

private:
    UniqueFd bindPort(int port);
    void run();

    std::shared_ptr<Shared> shared_;
    CallbackServerLimits limits_;
    UniqueFd listenFd_;
    UniqueFd wakeFd_;
    int port_ = 0;
    std::thread loop_;
};

}  // namespace orvan
