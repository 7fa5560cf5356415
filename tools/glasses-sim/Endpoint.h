#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"

namespace orvan::sim {

// One TCP address the glasses answer on (the Wi-Fi side on a loopback alias, or the port that
// the adb server reaches a "USB" pair through). Three states:
//   reserved  - bound but not listening: connections are refused, and no one else can take
//               the address (a closed wireless ADB, a reboot, an unplugged cable);
//   listening - accepting connections and handing them to the owner;
//   paused    - listening but no longer accepting: the kernel still completes handshakes
//               until its backlog is full, after that connects hang (glasses out of range).
class Endpoint {
public:
    enum class State { reserved, listening, paused };
    using AcceptHandler = std::function<void(UniqueFd socket, std::string peer)>;

    // Binds address:port (port 0 picks one). Throws std::system_error when it cannot.
    Endpoint(const std::string& address, std::uint16_t port, AcceptHandler onAccept);
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    const std::string& address() const { return address_; }
    std::uint16_t port() const { return port_; }
    State state() const;
    void setState(State state);

    // Tries to reserve port `port` on random loopback aliases until one is free.
    static std::string pickFreeLoopbackAddress(std::uint16_t port);

private:
    void bindSocket();
    void startAccepting();
    void stopAccepting();
    void acceptLoop();

    std::string address_;
    std::uint16_t port_;
    AcceptHandler onAccept_;
    mutable std::mutex mutex_;
    State state_ = State::reserved;
    UniqueFd socket_;
    UniqueFd wake_;  // eventfd that ends the accept loop
    std::thread acceptThread_;
};

std::string stateName(Endpoint::State state);

}  // namespace orvan::sim
