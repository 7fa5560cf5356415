// An adb of another protocol version (1.0.99) for the end-to-end test of the shared-server guard:
//
//   adb version                 prints "Android Debug Bridge version 1.0.99", contacts nobody
//   adb -P PORT fork-server server
//                               listens on 127.0.0.1:PORT and answers "host:version" with 99, as
//                               a server of that version would; a real adb of another version
//                               that reaches it sends "host:kill", which ends it. Every request
//                               is appended to $ORVAN_OTHER_ADB_RECORD as "request <service>"
//   adb ANYTHING ELSE           appends "run <arguments>" to the record and prints "other <arguments>"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void record(const std::string& line) {
    if (const char* path = std::getenv("ORVAN_OTHER_ADB_RECORD"); path && *path)
        std::ofstream(path, std::ios::app) << line << "\n" << std::flush;
}

std::string readRequest(int fd) {
    char length[5] = {};
    if (recv(fd, length, 4, MSG_WAITALL) != 4) return "";
    std::string service(std::strtoul(length, nullptr, 16) & 0xffff, '\0');
    if (!service.empty() && recv(fd, service.data(), service.size(), MSG_WAITALL) != ssize_t(service.size())) return "";
    return service;
}

int serve(int port) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 16) != 0) {
        std::fprintf(stderr, "other-version adb: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    record("ready " + std::to_string(getpid()));
    for (bool stop = false; !stop;) {
        int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        timeval timeout{2, 0};
        setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        std::string service = readRequest(connection);
        record("request " + service);
        std::string reply = service == "host:version" ? "OKAY00040063" : "FAIL0000";
        stop = service == "host:kill";
        if (stop) reply = "OKAY";
        ssize_t ignored = send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
        (void)ignored;
        close(connection);
    }
    close(listener);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? " " : "") + std::string(argv[i]);
    if (argc == 2 && arguments == "version") {
        std::printf("Android Debug Bridge version 1.0.99\nVersion 99.0.0-other\nInstalled as %s\n", argv[0]);
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "-P" && std::string(argv[4]) == "server") return serve(std::atoi(argv[2]));
    record("run " + arguments);
    std::printf("other %s\n", arguments.c_str());
    return 0;
}
