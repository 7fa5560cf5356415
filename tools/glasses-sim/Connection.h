#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "glasses-sim/AdbMessage.h"
#include "glasses-sim/Stream.h"
#include "platform/UniqueFd.h"

namespace orvan::sim {

class Glasses;

// Which side of the glasses a connection came in on.
enum class Side { wifi, usb };
std::string sideName(Side side);

// One TCP connection from an adb server: the handshake and authorization, the stream table,
// and one service thread per open stream. Its reader thread owns the socket; any protocol
// fault closes this connection only.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Glasses& glasses, UniqueFd socket, std::string peer, Side side, int id);
    ~Connection();

    // Starts the reader thread; the connection keeps itself alive until it ends.
    void start();
    // Closes the TCP connection: `abrupt` sends a reset instead of a FIN.
    void close(bool abrupt);
    // Stops answering and reading while the socket stays open (the glasses vanished).
    void freeze();
    bool frozen() const { return frozen_; }
    // Called when the glasses stop being silent: a held handshake goes on.
    void resume();
    // The user accepted this computer's key.
    void completeAuthorization();

    Side side() const { return side_; }
    int id() const { return id_; }
    const std::string& peer() const { return peer_; }
    std::string stateName() const;

private:
    enum class State { awaitingConnect, held, awaitingSignature, awaitingUser, online, closed };

    void run();
    void handle(AdbMessage& message);
    void onConnect(const AdbMessage& message);
    void onAuth(const AdbMessage& message);
    void onOpen(const AdbMessage& message);
    void startHandshake();
    void sendToken();
    void sendConnect();
    bool send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload);
    void runService(const std::shared_ptr<Stream>& stream, const std::string& service);
    void serviceEnded(const std::shared_ptr<Stream>& stream);
    void log(const std::string& text) const;
    void retireSocket();

    Glasses& glasses_;
    UniqueFd socket_;
    const std::string peer_;
    const Side side_;
    const int id_;

    mutable std::mutex stateMutex_;
    State state_ = State::awaitingConnect;
    std::uint32_t version_ = kVersionSkipChecksum;
    std::size_t sendMaxPayload_ = kMaxPayload;
    std::string token_;
    std::string closeReason_;

    std::mutex writeMutex_;
    std::atomic<bool> frozen_{false};
    std::atomic<bool> broken_{false};

    std::mutex streamsMutex_;
    std::condition_variable servicesDone_;
    std::map<std::uint32_t, std::shared_ptr<Stream>> streams_;
    std::uint32_t nextLocalId_ = 1;
    int runningServices_ = 0;
};

}  // namespace orvan::sim
