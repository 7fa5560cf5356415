// glasses-sim: simulated smart glasses for end-to-end tests against the real adb.
//
//   glasses-sim [--config FILE] [--device JSON]... [--state-dir DIR] [--log FILE] [--no-stdin]
//
// Prints "ready <json>" once every pair listens, then takes control commands on standard input
// (one reply line each; "help" lists them) and reports events as "event <json>" lines. It ends
// on "quit", at the end of standard input (so it never outlives the test that started it),
// or on SIGTERM/SIGINT.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "glasses-sim/Log.h"
#include "glasses-sim/Simulator.h"

namespace {

struct Arguments {
    std::vector<nlohmann::json> devices;
    std::string stateDir;
    std::string logFile;
    bool readStdin = true;
};

[[noreturn]] void usage(const std::string& problem) {
    std::fprintf(stderr,
                 "glasses-sim: %s\nusage: glasses-sim [--config FILE] [--device JSON]... [--state-dir DIR] "
                 "[--log FILE] [--no-stdin]\n",
                 problem.c_str());
    std::exit(2);
}

Arguments parseArguments(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(option + " needs a value");
            return argv[++i];
        };
        try {
            if (option == "--config") {
                std::ifstream in(value());
                if (!in) usage("cannot read the configuration file");
                const nlohmann::json config = nlohmann::json::parse(in);
                const nlohmann::json& list = config.is_array() ? config : config.at("devices");
                for (const auto& device : list) args.devices.push_back(device);
            } else if (option == "--device") {
                args.devices.push_back(nlohmann::json::parse(value()));
            } else if (option == "--state-dir") {
                args.stateDir = value();
            } else if (option == "--log") {
                args.logFile = value();
            } else if (option == "--no-stdin") {
                args.readStdin = false;
            } else {
                usage("unknown option " + option);
            }
        } catch (const nlohmann::json::exception& error) {
            usage(std::string("bad JSON: ") + error.what());
        }
    }
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args = parseArguments(argc, argv);
    // Signals arrive through a descriptor on the main thread; every other thread blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    bool ownStateDir = false;
    if (args.stateDir.empty()) {
        char pattern[] = "/tmp/glasses-sim-XXXXXX";
        if (!mkdtemp(pattern)) usage("cannot create a state folder");
        args.stateDir = pattern;
        ownStateDir = true;
    }

    orvan::sim::Log log;
    if (!args.logFile.empty()) log.openFile(args.logFile);
    int status = 0;
    {
        orvan::sim::Simulator simulator(log, args.stateDir);
        try {
            for (const auto& device : args.devices) simulator.add(device);
        } catch (const std::exception& error) {
            log.reply(std::string("error ") + error.what());
            simulator.shutdown();
            if (ownStateDir) std::filesystem::remove_all(args.stateDir);
            return 1;
        }
        log.reply("ready " + nlohmann::json({{"pid", getpid()}, {"devices", simulator.describeAll()}}).dump());

        std::string pending;
        bool stdinOpen = args.readStdin;
        while (!simulator.quitRequested()) {
            pollfd fds[2] = {{signalFd, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[0].revents) break;
            if (!fds[1].revents) continue;
            char buffer[65536];
            const ssize_t n = read(0, buffer, sizeof buffer);
            if (n <= 0) break;  // whoever controlled us is gone
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t newline;
            while ((newline = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, newline);
                pending.erase(0, newline + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.empty()) continue;
                log.reply(simulator.execute(line));
                if (simulator.quitRequested()) break;
            }
        }
        simulator.shutdown();
    }
    if (ownStateDir) std::filesystem::remove_all(args.stateDir);
    return status;
}
