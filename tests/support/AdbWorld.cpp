#include "support/AdbWorld.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "support/Wait.h"

namespace orvan::testing {
namespace {

std::atomic<int> liveWorlds{0};

bool portIsFree(int port) {
    for (const char* address : {"0.0.0.0", "127.0.0.1"}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, address, &sa.sin_addr);
        const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
        ::close(fd);
        if (!free) return false;
    }
    return true;
}

}  // namespace

int pickFreePort() {
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> range(20000, 32000);
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int port = range(random);
        if (port == 5037 || port == 15037) continue;
        if (portIsFree(port)) return port;
    }
    throw std::runtime_error("no free TCP port found");
}

std::filesystem::path AdbWorld::realAdb() {
    return ORVAN_REAL_ADB;
}

std::filesystem::path AdbWorld::simulatorPath() {
    return ORVAN_GLASSES_SIM;
}

std::optional<std::filesystem::path> AdbWorld::scrcpyStandinPath() {
#ifdef ORVAN_SCRCPY_STANDIN
    return std::filesystem::path(ORVAN_SCRCPY_STANDIN);
#else
    return std::nullopt;
#endif
}

bool AdbWorld::available() {
    return ::access(realAdb().c_str(), X_OK) == 0 && ::access(simulatorPath().c_str(), X_OK) == 0;
}

AdbWorld::AdbWorld() : dir_("orvan-world") {
    if (liveWorlds.fetch_add(1) != 0) {
        liveWorlds.fetch_sub(1);
        throw std::logic_error("only one AdbWorld may exist at a time in a process");
    }
    serverPort_ = pickFreePort();
    do {
        privatePort_ = pickFreePort();
    } while (privatePort_ == serverPort_);

    for (const char* sub : {"home/.android", "home/.config", "home/.local/share", "home/.cache", "home/.local/state",
                            "runtime", "tmp", "glasses"}) {
        std::filesystem::create_directories(root() / sub);
    }
    std::filesystem::permissions(root() / "runtime", std::filesystem::perms::owner_all);
    env_.set("HOME", home().string());
    env_.set("XDG_CONFIG_HOME", (home() / ".config").string());
    env_.set("XDG_DATA_HOME", (home() / ".local/share").string());
    env_.set("XDG_CACHE_HOME", (home() / ".cache").string());
    env_.set("XDG_STATE_HOME", (home() / ".local/state").string());
    env_.set("XDG_RUNTIME_DIR", (root() / "runtime").string());
    env_.set("TMPDIR", (root() / "tmp").string());  // adb's server log lands here too
    env_.set("ANDROID_ADB_SERVER_PORT", std::to_string(serverPort_));
    env_.set("ADB_EMU", "0");
    env_.set("ADB_USB", "0");
    env_.set("ADB_MDNS", "0");
    for (const char* name : {"ANDROID_SERIAL", "ADB_SERVER_SOCKET", "ANDROID_ADB_SERVER_ADDRESS", "ADB_VENDOR_KEYS",
                             "ADB_TRACE", "ADB_LOCAL_TRANSPORT_MAX_PORT", "ADBHOST", "ANDROID_ADB_LOG_PATH"}) {
        env_.unset(name);
    }
    createToolFolder();
    if (::access(realAdb().c_str(), X_OK) == 0) {
        const CommandResult keygen =
            runCommand({realAdb().string(), "keygen", adbKeyPath().string()}, std::chrono::seconds(20));
        if (keygen.exitCode != 0) throw std::runtime_error("adb keygen failed: " + keygen.out);
    }
}

AdbWorld::~AdbWorld() {
    if (::access(realAdb().c_str(), X_OK) == 0) {
        for (int port : {serverPort_, privatePort_}) {
            runCommand({realAdb().string(), "-P", std::to_string(port), "kill-server"}, std::chrono::seconds(10));
        }
    }
    glasses_.clear();  // each simulator is asked to quit, killed if it must be, and reaped
    if (std::getenv("ORVAN_KEEP_WORLD")) {
        dir_.keep();
        std::fprintf(stderr, "AdbWorld kept at %s (ORVAN_KEEP_WORLD)\n", root().c_str());
    }
    liveWorlds.fetch_sub(1);
}

void AdbWorld::createToolFolder() {
    const auto tools = toolFolder();
    std::filesystem::create_directories(tools);
    std::filesystem::copy_file(ORVAN_ADB_TRACER, tools / "adb");
    std::ofstream(tools / "orvan-adb-trace.conf") << "real=" << realAdb().string() << "\n"
                                                  << "trace=" << adbTracePath().string() << "\n";
    if (const auto standin = scrcpyStandinPath(); standin && std::filesystem::exists(*standin)) {
        std::filesystem::create_symlink(*standin, tools / "scrcpy");
    }
    std::ofstream(tools / "scrcpy-server").flush();
}

std::vector<AdbInvocation> AdbWorld::adbTrace() const {
    return readAdbTrace(adbTracePath());
}

void AdbWorld::clearAdbTrace() {
    std::error_code ignored;
    std::filesystem::remove(adbTracePath(), ignored);
}

CommandResult AdbWorld::adb(const std::vector<std::string>& args, std::chrono::milliseconds timeout) const {
    return adbOnPort(serverPort_, args, timeout);
}

CommandResult AdbWorld::adbOnPort(int port, const std::vector<std::string>& args,
                                  std::chrono::milliseconds timeout) const {
    std::vector<std::string> argv = {realAdb().string(), "-P", std::to_string(port)};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, timeout);
}

SimulatedGlasses& AdbWorld::startGlasses(GlassesOptions options) {
    const int index = nextGlasses_++;
    if (options.name.empty()) options.name = "glasses" + std::to_string(index);
    nlohmann::json config = {
        {"name", options.name},
        {"model", options.model},
        {"serialNo", options.serialNo.empty() ? "TV3SIM" + std::to_string(1000 + index) : options.serialNo},
        {"auth", options.auth},
        {"usb", options.usb},
        {"usbAnnounceTo", {serverPort_, privatePort_}},
        {"wirelessAdb", options.wirelessAdb},
        {"media", options.media},
        {"bulkCount", options.bulkCount},
        {"bulkFolder", options.bulkFolder},
        {"videoSize", options.videoSize},
        {"storageRoot", (root() / "glasses" / options.name).string()}};
    if (options.auth == "key" && options.trustWorldKey && std::filesystem::exists(adbPublicKeyPath())) {
        config["trustedKeyFiles"] = {adbPublicKeyPath().string()};
    }
    glasses_.push_back(std::make_unique<SimulatedGlasses>(simulatorPath(), config, root() / "glasses",
                                                          root() / ("glasses-" + options.name + ".log")));
    return *glasses_.back();
}

void AdbWorld::stopGlasses(SimulatedGlasses& glasses) {
    std::erase_if(glasses_, [&](const auto& owned) { return owned.get() == &glasses; });
}

std::string AdbWorld::connectWifi(SimulatedGlasses& glasses) {
    // The answer is the last line: a server that had to start first says so before it.
    std::string line = adb({"connect", glasses.wifiSerial()}).out;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line.substr(line.rfind('\n') + 1);
}

SimulatedGlasses& AdbWorld::startConnectedGlasses(GlassesOptions options) {
    SimulatedGlasses& glasses = startGlasses(std::move(options));
    const std::string answer = connectWifi(glasses);
    if (!waitForState(glasses.wifiSerial(), "device", kGenerousDeadline)) {
        throw std::runtime_error(glasses.wifiSerial() + " did not come online: " + answer);
    }
    return glasses;
}

void AdbWorld::registerUsb(SimulatedGlasses& glasses, const std::string& expectedState) {
    const auto port = glasses.usbPort();
    if (!port) throw std::runtime_error(glasses.name() + " has no USB side");
    const CommandResult result =
        adb({"connect", "emu:" + std::to_string(glasses.usbConsolePort()) + "," + std::to_string(*port)});
    if (result.exitCode != 0) throw std::runtime_error("adb connect emu: failed: " + result.out);
    if (!waitForState(glasses.usbSerial(), expectedState, kGenerousDeadline)) {
        throw std::runtime_error(glasses.usbSerial() + " did not become " + expectedState +
                                 "; state: " + deviceState(glasses.usbSerial()).value_or("(not listed)"));
    }
}

std::optional<std::string> AdbWorld::deviceState(const std::string& serial) const {
    const CommandResult result = adb({"devices"}, std::chrono::seconds(10));
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos && line.substr(0, tab) == serial) return line.substr(tab + 1);
    }
    return std::nullopt;
}

bool AdbWorld::waitForState(const std::string& serial, const std::string& state,
                            std::chrono::milliseconds timeout) const {
    return waitUntil(
        [&] {
            const auto current = deviceState(serial);
            return state.empty() ? !current.has_value() : current == state;
        },
        timeout);
}

}  // namespace orvan::testing
