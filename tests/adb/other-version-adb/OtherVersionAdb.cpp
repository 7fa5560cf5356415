// An adb of another protocol version (1.0.99) for the tests of the shared-server guard. It plays
// both halves of adb closely enough for a real adb client to talk to it:
//
//   adb version                      prints "Android Debug Bridge version 1.0.99", contacts nobody
//   adb [-P PORT | -L tcp:PORT] [fork-server|nodaemon] server
//                                    serves the host protocol on 127.0.0.1:PORT; every request
//                                    is appended to $ORVAN_OTHER_ADB_RECORD as
//                                    "request <peer address> <service>"; "host:kill" ends it
//   adb [-P PORT] [-s SERIAL] CMD    a client, as adb is: it asks the server's version first and
//                                    then sends CMD's request. It connects from 127.0.0.7 so that
//                                    the server's record tells its own clients from anyone else's.
//
// It never starts a server by itself: a client that finds no server fails, so that a command
// that should have reached a running server cannot silently succeed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kProtocolVersion = 99;
constexpr const char* kClientAddress = "127.0.0.7";

struct Options {
    std::optional<int> port;
    std::optional<std::string> serial;
    std::vector<std::string> command;
};

std::optional<int> portOf(std::string_view text) {
    if (text.starts_with("tcp:")) text.remove_prefix(4);
    if (auto colon = text.rfind(':'); colon != std::string_view::npos) text.remove_prefix(colon + 1);
    if (text.empty() || text.size() > 5) return std::nullopt;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

Options parse(int argc, char** argv) {
    Options options;
    bool explicitPort = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if ((argument == "-P" || argument == "-L") && i + 1 < argc) {
            options.port = portOf(argv[++i]);
            explicitPort = true;
        } else if (argument == "-s" && i + 1 < argc) {
            options.serial = argv[++i];
        } else if (argument == "--reply-fd" && i + 1 < argc) {
            ++i;
        } else {
            options.command.push_back(argument);
        }
    }
    if (!explicitPort) {
        const char* socket = std::getenv("ADB_SERVER_SOCKET");
        const char* port = std::getenv("ANDROID_ADB_SERVER_PORT");
        if (socket && *socket)
            options.port = portOf(socket);
        else if (port && *port)
            options.port = portOf(port);
        else
            options.port = 5037;
    }
    return options;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

std::optional<std::string> readExactly(int fd, size_t count) {
    std::string bytes(count, '\0');
    size_t done = 0;
    while (done < count) {
        ssize_t got = recv(fd, bytes.data() + done, count - done, 0);
        if (got <= 0) return std::nullopt;
        done += static_cast<size_t>(got);
    }
    return bytes;
}

std::string lengthPrefixed(std::string_view text) {
    char length[5];
    std::snprintf(length, sizeof(length), "%04zx", text.size());
    return std::string(length) + std::string(text);
}

std::optional<std::string> readLengthPrefixed(int fd) {
    auto length = readExactly(fd, 4);
    if (!length) return std::nullopt;
    char* end = nullptr;
    unsigned long size = std::strtoul(length->c_str(), &end, 16);
    if (end != length->c_str() + 4 || size > 65536) return std::nullopt;
    return readExactly(fd, size);
}

void setTimeouts(int fd) {
    timeval timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

sockaddr_in loopback(const char* address, int port) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &socketAddress.sin_addr);
    return socketAddress;
}

// ---- server ----

void record(const std::string& line) {
    const char* path = std::getenv("ORVAN_OTHER_ADB_RECORD");
    if (!path || !*path) return;
    std::ofstream(path, std::ios::app) << line << "\n" << std::flush;
}

std::string answer(const std::string& service, bool& stop) {
    auto okay = [](std::string_view payload) { return "OKAY" + lengthPrefixed(payload); };
    auto fail = [](std::string_view message) { return "FAIL" + lengthPrefixed(message); };
    char version[5];
    std::snprintf(version, sizeof(version), "%04x", kProtocolVersion);
    if (service == "host:version") return okay(version);
    if (service == "host:devices" || service == "host:devices-l") return okay("");
    if (service == "host:kill") {
        stop = true;
        return "OKAY";
    }
    if (service.starts_with("host:connect:")) {
        return okay("failed to connect to '" + service.substr(13) + "': Connection refused");
    }
    if (service.starts_with("host:disconnect:")) return fail("no such device '" + service.substr(16) + "'");
    if (service.starts_with("host-serial:")) {  // host-serial:<serial>:<request>
        std::string serial = service.substr(12, service.rfind(':') - 12);
        return fail("device '" + serial + "' not found");
    }
    if (service.starts_with("host:") && service != "host:features") return fail("no devices/emulators found");
    return fail("unknown host service");
}

int serve(int port) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address = loopback("127.0.0.1", port);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 16) != 0) {
        std::fprintf(stderr, "other-version adb: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    record("ready " + std::to_string(getpid()));
    for (bool stop = false; !stop;) {
        sockaddr_in peer{};
        socklen_t peerLength = sizeof(peer);
        int connection = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (connection < 0) continue;
        setTimeouts(connection);
        char peerText[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof(peerText));
        if (auto service = readLengthPrefixed(connection)) {
            record("request " + std::string(peerText) + " " + *service);
            sendAll(connection, answer(*service, stop));
        }
        close(connection);
    }
    close(listener);
    return 0;
}

// ---- client ----

struct Reply {
    bool okay = false;
    std::string payload;
};

// One request on its own connection, as adb does it. Nothing when the server cannot be reached
// or breaks the protocol.
std::optional<Reply> request(int port, const std::string& service, bool payloadFollowsOkay) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    setTimeouts(fd);
    sockaddr_in source = loopback(kClientAddress, 0);
    sockaddr_in server = loopback("127.0.0.1", port);
    std::optional<Reply> reply;
    if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof(source)) == 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof(server)) == 0 &&
        sendAll(fd, lengthPrefixed(service))) {
        if (auto status = readExactly(fd, 4)) {
            if (*status == "OKAY") {
                auto payload = payloadFollowsOkay ? readLengthPrefixed(fd) : std::optional<std::string>("");
                if (payload) reply = Reply{true, *payload};
            } else if (*status == "FAIL") {
                if (auto message = readLengthPrefixed(fd)) reply = Reply{false, *message};
            }
        }
    }
    close(fd);
    return reply;
}

std::string transportPrefix(const Options& options) {
    return options.serial ? "host-serial:" + *options.serial + ":" : std::string("host:");
}

int client(const Options& options) {
    int port = *options.port;
    auto version = request(port, "host:version", true);
    if (!version) {
        std::fprintf(stderr, "* cannot connect to daemon at tcp:%d\n", port);
        return 1;
    }
    int serverVersion = version->okay ? static_cast<int>(std::strtol(version->payload.c_str(), nullptr, 16)) : -1;
    if (serverVersion != kProtocolVersion) {
        // What adb does; the tests make sure that this never happens to a server of theirs.
        std::fprintf(stderr, "adb server version (%d) doesn't match this client (%d); killing...\n", serverVersion,
                     kProtocolVersion);
        request(port, "host:kill", false);
        return 1;
    }
    const auto& command = options.command;
    std::string verb = command.empty() ? "" : command[0];
    std::string argument = command.size() > 1 ? command[1] : "";
    std::optional<Reply> reply;
    if (verb == "start-server") return 0;
    if (verb == "kill-server") {
        reply = request(port, "host:kill", false);
    } else if (verb == "devices") {
        reply = request(port, argument == "-l" ? "host:devices-l" : "host:devices", true);
        if (reply && reply->okay) reply->payload = "List of devices attached\n" + reply->payload;
    } else if (verb == "get-state" || verb == "get-serialno" || verb == "get-devpath") {
        reply = request(port, transportPrefix(options) + verb, true);
    } else if (verb == "connect" && !argument.empty()) {
        reply = request(port, "host:connect:" + argument, true);
    } else if (verb == "disconnect") {
        reply = request(port, "host:disconnect:" + argument, true);
    } else {
        reply = request(port, options.serial ? "host:transport:" + *options.serial : "host:transport-any", false);
    }
    if (!reply) {
        std::fprintf(stderr, "error: protocol fault (couldn't read status)\n");
        return 1;
    }
    if (!reply->okay) {
        std::fprintf(stderr, "error: %s\n", reply->payload.c_str());
        return 1;
    }
    std::printf("%s\n", reply->payload.c_str());
    return reply->payload.starts_with("failed") ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse(argc, argv);
    const auto& command = options.command;
    if (!command.empty() && (command[0] == "version" || command[0] == "--version")) {
        std::printf("Android Debug Bridge version 1.0.%d\nVersion 99.0.0-other\nInstalled as %s\n", kProtocolVersion,
                    argv[0]);
        return 0;
    }
    if (!options.port) {
        std::fprintf(stderr, "adb: bad server port\n");
        return 1;
    }
    if (!command.empty() && command.back() == "server") return serve(*options.port);
    return client(options);
}
