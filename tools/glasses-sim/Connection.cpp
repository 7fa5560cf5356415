#include "glasses-sim/Connection.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "glasses-sim/Glasses.h"
#include "glasses-sim/ScrcpyServer.h"
#include "glasses-sim/ShellProtocol.h"
#include "glasses-sim/SyncService.h"

namespace orvan::sim {
namespace {

// The host's shell protocol reader takes packets of at most this size.
constexpr std::size_t kShellPacketPayload = 4096 - 5;

std::string trimService(std::string_view payload) {
    while (!payload.empty() && payload.back() == '\0') payload.remove_suffix(1);
    return std::string(payload);
}

}  // namespace

std::string sideName(Side side) {
    return side == Side::wifi ? "wifi" : "usb";
}

Connection::Connection(Glasses& glasses, UniqueFd socket, std::string peer, Side side, int id)
    : glasses_(glasses), socket_(std::move(socket)), peer_(std::move(peer)), side_(side), id_(id) {}

Connection::~Connection() = default;

void Connection::log(const std::string& text) const {
    glasses_.log("conn#" + std::to_string(id_) + " (" + sideName(side_) + " " + peer_ + "): " + text);
}

std::string Connection::stateName() const {
    std::lock_guard lock(stateMutex_);
    if (frozen_) return "frozen";
    switch (state_) {
        case State::awaitingConnect:
            return "connecting";
        case State::held:
            return "held";
        case State::awaitingSignature:
            return "authorizing";
        case State::awaitingUser:
            return "unauthorized";
        case State::online:
            return "online";
        case State::closed:
            return "closed";
    }
    return "?";
}

void Connection::start() {
    std::thread([self = shared_from_this()] { self->run(); }).detach();
}

void Connection::close(bool abrupt) {
    if (broken_.exchange(true)) return;
    // The descriptor number stays valid until destruction (see retireSocket), so this is safe
    // from any thread. Shutting down the reading side wakes the reader without telling the
    // peer anything; the reader then closes the socket, with a reset when lingering is off.
    if (abrupt) {
        const linger hard{1, 0};
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::shutdown(socket_.get(), SHUT_RD);
    } else {
        ::shutdown(socket_.get(), SHUT_RDWR);
    }
}

void Connection::retireSocket() {
    // Close the socket but keep its number taken (by /dev/null) until the object goes away, so
    // that a late close() or send() from another thread can never hit an unrelated descriptor.
    UniqueFd placeholder(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (placeholder)
        ::dup2(placeholder.get(), socket_.get());
    else
        ::shutdown(socket_.get(), SHUT_RDWR);
}

void Connection::freeze() {
    frozen_ = true;
}

void Connection::run() {
    MessageDecoder decoder(static_cast<std::uint32_t>(glasses_.config().maxPayload));
    std::string buffer(256 * 1024, '\0');
    std::string reason;
    while (true) {
        const ssize_t n = ::recv(socket_.get(), buffer.data(), buffer.size(), 0);
        if (n == 0) {
            reason = broken_ ? "closed by the glasses" : "host closed the connection";
            break;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            reason = broken_ ? "closed by the glasses" : std::string("read failed: ") + std::strerror(errno);
            break;
        }
        if (frozen_) continue;  // a vanished device hears nothing
        decoder.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        while (auto message = decoder.next()) handle(*message);
        if (decoder.error()) {
            reason = "protocol error: " + *decoder.error();
            break;
        }
        if (broken_) {
            reason = "closed by the glasses";
            break;
        }
    }
    {
        std::lock_guard lock(stateMutex_);
        state_ = State::closed;
    }
    broken_ = true;
    std::unique_lock lock(streamsMutex_);
    for (auto& [id, stream] : streams_) stream->onHostClose(true);
    servicesDone_.wait(lock, [&] { return runningServices_ == 0; });
    lock.unlock();
    retireSocket();
    log("closed: " + reason);
    glasses_.connectionEnded(shared_from_this(), reason);
}

void Connection::handle(AdbMessage& message) {
    if (message.command == kCnxn) {
        onConnect(message);
        return;
    }
    State state;
    {
        std::lock_guard lock(stateMutex_);
        state = state_;
    }
    if (message.command == kAuth) {
        onAuth(message);
        return;
    }
    // Before the handshake is done only CNXN and AUTH mean anything.
    if (state != State::online) return;
    switch (message.command) {
        case kOpen:
            onOpen(message);
            return;
        case kOkay:
        case kWrte:
        case kClse: {
            std::shared_ptr<Stream> stream;
            {
                std::lock_guard lock(streamsMutex_);
                const auto it = streams_.find(message.arg1);
                if (it == streams_.end() || it->second->remoteId() != message.arg0) return;  // late or unknown: ignore
                stream = it->second;
            }
            if (message.command == kOkay)
                stream->onHostOkay();
            else if (message.command == kWrte)
                stream->onHostWrite(message.payload);
            else
                stream->onHostClose();
            return;
        }
        default:
            log("ignoring unknown command " + commandName(message.command));
            return;
    }
}

void Connection::onConnect(const AdbMessage& message) {
    const GlassesConfig& config = glasses_.config();
    {
        std::lock_guard lock(stateMutex_);
        version_ = std::min(message.arg0, config.version);
        sendMaxPayload_ = std::min<std::size_t>({config.maxPayload, message.arg1, kMaxPayload});
        if (sendMaxPayload_ < 256) sendMaxPayload_ = kMaxPayloadV1;
    }
    log("host CNXN version 0x" +
        [&] {
            char text[16];
            std::snprintf(text, sizeof text, "%08x", message.arg0);
            return std::string(text);
        }() +
        " maxdata " + std::to_string(message.arg1));
    if (glasses_.silent()) {
        std::lock_guard lock(stateMutex_);
        state_ = State::held;
        return;
    }
    startHandshake();
}

void Connection::resume() {
    {
        std::lock_guard lock(stateMutex_);
        if (state_ != State::held) return;
    }
    startHandshake();
}

void Connection::startHandshake() {
    if (glasses_.authMode() == AuthMode::off)
        sendConnect();
    else
        sendToken();
}

void Connection::sendToken() {
    std::string token(20, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(token.data()), static_cast<int>(token.size()));
    {
        std::lock_guard lock(stateMutex_);
        token_ = token;
        if (state_ != State::awaitingUser) state_ = State::awaitingSignature;
    }
    send(kAuth, kAuthToken, 0, token);
}

void Connection::sendConnect() {
    {
        std::lock_guard lock(stateMutex_);
        if (state_ == State::closed) return;
        state_ = State::online;
    }
    const GlassesConfig& config = glasses_.config();
    send(kCnxn, config.version, static_cast<std::uint32_t>(config.maxPayload), glasses_.banner());
    log("online");
}

void Connection::completeAuthorization() {
    {
        std::lock_guard lock(stateMutex_);
        if (state_ != State::awaitingUser && state_ != State::awaitingSignature) return;
    }
    sendConnect();
}

void Connection::onAuth(const AdbMessage& message) {
    std::string token;
    {
        std::lock_guard lock(stateMutex_);
        if (state_ != State::awaitingSignature && state_ != State::awaitingUser) return;
        token = token_;
    }
    if (message.arg0 == kAuthSignature) {
        switch (glasses_.checkSignature(token, message.payload)) {
            case SignatureVerdict::accept:
                sendConnect();
                return;
            case SignatureVerdict::ignore:
                return;  // "still authorizing" forever
            case SignatureVerdict::reject:
                sendToken();
                return;
        }
    } else if (message.arg0 == kAuthRsaPublicKey) {
        {
            std::lock_guard lock(stateMutex_);
            state_ = State::awaitingUser;
        }
        glasses_.publicKeyOffered(shared_from_this(), message.payload);
    } else {
        log("ignoring AUTH of type " + std::to_string(message.arg0));
    }
}

void Connection::onOpen(const AdbMessage& message) {
    const std::string service = trimService(message.payload);
    if (glasses_.stalled()) {
        log("stalled: no answer to OPEN " + service);
        return;
    }
    // A scrcpy client's socket goes to the server listening on that abstract name; the role is
    // fixed here, in arrival order, before any service thread runs.
    std::optional<ScrcpyServer::Socket> scrcpySocket;
    if (service.starts_with("localabstract:")) scrcpySocket = glasses_.scrcpy().connect(service.substr(14));
    if (!scrcpySocket && !glasses_.acceptsService(service)) {
        log("refused service " + service);
        send(kClse, 0, message.arg0, {});
        return;
    }
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard lock(streamsMutex_);
        if (broken_) return;
        const std::uint32_t localId = nextLocalId_++;
        if (nextLocalId_ == 0) nextLocalId_ = 1;
        std::weak_ptr<Connection> weak = weak_from_this();
        stream = std::make_shared<Stream>(
            localId, message.arg0, sendMaxPayload_,
            [weak](std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload) {
                const auto self = weak.lock();
                return self && self->send(command, arg0, arg1, payload);
            });
        streams_[localId] = stream;
        ++runningServices_;
    }
    send(kOkay, stream->localId(), stream->remoteId(), {});
    std::thread([self = shared_from_this(), stream, service, scrcpySocket] {
        if (scrcpySocket)
            scrcpySocket->session->serveSocket(scrcpySocket->claim, stream);
        else
            self->runService(stream, service);
        self->serviceEnded(stream);
    }).detach();
}

void Connection::serviceEnded(const std::shared_ptr<Stream>& stream) {
    stream->finish();
    std::lock_guard lock(streamsMutex_);
    streams_.erase(stream->localId());
    --runningServices_;
    servicesDone_.notify_all();
}

void Connection::runService(const std::shared_ptr<Stream>& stream, const std::string& service) {
    if (const auto shell = parseShellService(service)) {
        if (const auto scrcpy = parseScrcpyServerCommand(shell->command)) {
            glasses_.scrcpy().run(*scrcpy, *stream, shell->v2 && !shell->exec, glasses_.storage());
            return;
        }
        const ShellResult result = glasses_.runShell(shell->command);
        if (result.hang) {
            stream->waitForHostClose();
            return;
        }
        if (result.delay.count() > 0 && !stream->sleepFor(result.delay)) return;
        if (shell->v2 && !shell->exec) {
            std::string packets;
            for (const auto& [id, text] : {std::pair{ShellPacketId::stdoutData, &result.out},
                                           std::pair{ShellPacketId::stderrData, &result.err}}) {
                for (std::size_t at = 0; at < text->size(); at += kShellPacketPayload) {
                    packets += encodeShellPacket(id, std::string_view(*text).substr(at, kShellPacketPayload));
                }
            }
            packets += encodeShellExit(result.exitCode);
            stream->write(packets);
        } else {
            // Without the packet protocol stderr shares the stream and the exit status is lost.
            stream->write(result.out + result.err);
        }
        return;
    }
    if (service == "sync:") {
        SyncService sync(*stream, glasses_.storage(), [this](const std::string& text) { log("sync: " + text); });
        log("sync ended: " + sync.run());
        return;
    }
    if (service.starts_with("tcpip:")) {
        const std::string portText = service.substr(6);
        int port = 0;
        for (char c : portText) port = (c >= '0' && c <= '9' && port < 65536) ? port * 10 + (c - '0') : -1;
        if (portText.empty() || port <= 0 || port > 65535) {
            stream->write("invalid port\n");
            return;
        }
        stream->write("restarting in TCP mode port: " + std::to_string(port) + "\n");
        glasses_.restartInTcpMode(static_cast<std::uint16_t>(port), side_);
        return;
    }
    if (service == "usb:") {
        stream->write("restarting in USB mode\n");
        glasses_.restartInUsbMode();
        return;
    }
    if (service.starts_with("reboot:")) {
        glasses_.reboot();
        return;
    }
    if (service == "root:") {
        stream->write("adbd cannot run as root in production builds\n");
        return;
    }
    if (service == "unroot:") {
        stream->write("adbd not running as root\n");
        return;
    }
}

bool Connection::send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload) {
    if (broken_) return false;
    if (frozen_) return true;  // swallowed: the host never hears from us again
    const auto delay = glasses_.replyDelay();
    std::lock_guard lock(writeMutex_);
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    bool checksum;
    {
        std::lock_guard state(stateMutex_);
        checksum = version_ < kVersionSkipChecksum || command == kCnxn || command == kAuth;
    }
    const std::string header = encodeHeader(command, arg0, arg1, payload, checksum);
    iovec parts[2] = {{const_cast<char*>(header.data()), header.size()},
                      {const_cast<char*>(payload.data()), payload.size()}};
    std::size_t total = header.size() + payload.size();
    int count = payload.empty() ? 1 : 2;
    iovec* next = parts;
    while (total > 0) {
        msghdr msg{};
        msg.msg_iov = next;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        const ssize_t n = ::sendmsg(socket_.get(), &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            broken_ = true;
            ::shutdown(socket_.get(), SHUT_RDWR);
            return false;
        }
        std::size_t sent = static_cast<std::size_t>(n);
        total -= sent;
        while (count > 0 && sent >= next->iov_len) {
            sent -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + sent;
            next->iov_len -= sent;
        }
    }
    return true;
}

}  // namespace orvan::sim
