#include "support/SimulatedGlasses.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace orvan::testing {
namespace {

std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

constexpr std::chrono::seconds kReplyTimeout{15};

}  // namespace

SimulatedGlasses::SimulatedGlasses(const std::filesystem::path& simulatorPath, const nlohmann::json& config,
                                   const std::filesystem::path& stateDir, const std::filesystem::path& logFile) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const std::string configText = config.dump();
    const std::string path = simulatorPath.string(), state = stateDir.string();
    const char* argv[] = {path.c_str(), "--device", configText.c_str(), "--state-dir", state.c_str(), nullptr};
    const int error = posix_spawn(&pid_, path.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (error != 0) {
        ::close(in[1]);
        ::close(out[0]);
        throw std::runtime_error("cannot start " + path);
    }
    stdinFd_ = in[1];
    stdoutFd_ = out[0];
    reader_ = std::thread([this] { readOutput(); });
    const std::string ready = readyLine(std::chrono::seconds(30));
    const nlohmann::json json = nlohmann::json::parse(ready);
    description_ = json.at("devices").at(0);
    name_ = description_.at("name").get<std::string>();
    serialNo_ = description_.at("serialNo").get<std::string>();
    storageRoot_ = description_.at("storageRoot").get<std::string>();
}

SimulatedGlasses::~SimulatedGlasses() {
    if (pid_ > 0) {
        const char quit[] = "quit\n";
        [[maybe_unused]] const ssize_t ignored = ::write(stdinFd_, quit, sizeof quit - 1);
        ::close(stdinFd_);  // end of input ends the simulator too
        int status = 0;
        bool reaped = false;
        for (int i = 0; i < 500 && !reaped; ++i) {  // up to 5 s for a clean exit
            reaped = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!reaped) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    if (reader_.joinable()) reader_.join();
    if (stdoutFd_ >= 0) ::close(stdoutFd_);
}

void SimulatedGlasses::readOutput() {
    std::string pending;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            std::lock_guard lock(mutex_);
            if (line.starts_with("event ")) {
                try {
                    events_.push_back(nlohmann::json::parse(line.substr(6)));
                } catch (const nlohmann::json::exception&) {
                    events_.push_back({{"event", "unparsable"}, {"line", line}});
                }
            } else if (line.starts_with("ready ")) {
                ready_ = line.substr(6);
            } else {
                replies_.push_back(line);
            }
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::string SimulatedGlasses::readyLine(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return ready_ || ended_ || !replies_.empty(); });
    if (ready_) return *ready_;
    const std::string detail = replies_.empty() ? "no output" : replies_.front();
    lock.unlock();
    throw std::runtime_error("glasses-sim did not start: " + detail);
}

nlohmann::json SimulatedGlasses::control(const std::string& line) {
    std::lock_guard command(commandMutex_);
    const std::string text = line + "\n";
    if (::write(stdinFd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("glasses-sim is gone");
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, kReplyTimeout, [&] { return !replies_.empty() || ended_; }) || replies_.empty()) {
        throw std::runtime_error("glasses-sim did not answer: " + line);
    }
    const std::string reply = replies_.front();
    replies_.pop_front();
    lock.unlock();
    if (reply.starts_with("ok ")) return nlohmann::json::parse(reply.substr(3));
    throw std::runtime_error("glasses-sim refused '" + line + "': " + reply);
}

std::string SimulatedGlasses::wlanAddress() const {
    std::lock_guard lock(mutex_);
    const auto& value = description_.at("wlanAddress");
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::uint16_t SimulatedGlasses::wirelessPort() const {
    std::lock_guard lock(mutex_);
    return description_.at("wirelessPort").get<std::uint16_t>();
}

std::optional<std::uint16_t> SimulatedGlasses::usbPort() const {
    std::lock_guard lock(mutex_);
    const auto& value = description_.at("usbPort");
    return value.is_number() ? std::optional<std::uint16_t>(value.get<std::uint16_t>()) : std::nullopt;
}

std::uint16_t SimulatedGlasses::usbConsolePort() const {
    const auto port = usbPort();
    if (!port) throw std::runtime_error(name_ + " has no USB side (GlassesOptions::usb)");
    return static_cast<std::uint16_t>(*port - 1);  // the emulator convention: console = adb port - 1
}

std::string SimulatedGlasses::usbSerial() const {
    return "emulator-" + std::to_string(usbConsolePort());
}

std::filesystem::path SimulatedGlasses::hostPath(const std::string& devicePath) const {
    // Shared storage is reached through /sdcard -> /storage/emulated/0 on the glasses.
    std::string path = devicePath;
    if (path == "/sdcard" || path.starts_with("/sdcard/")) path = "/storage/emulated/0" + path.substr(7);
    return storageRoot_ / std::filesystem::path(path).relative_path();
}

void SimulatedGlasses::delayReplies(std::chrono::milliseconds delay) {
    control("delay " + name_ + " " + std::to_string(delay.count()));
}

int SimulatedGlasses::acceptAuthorization() {
    return control("auth-accept " + name_).at("accepted").get<int>();
}

void SimulatedGlasses::removeFile(const std::string& devicePath) {
    control("rm " + name_ + " " + quoted(devicePath));
}

void SimulatedGlasses::moveFile(const std::string& from, const std::string& to) {
    control("mv " + name_ + " " + quoted(from) + " " + quoted(to));
}

std::filesystem::path SimulatedGlasses::makeFile(const std::string& devicePath, std::uint64_t bytes) {
    return control("mkfile " + name_ + " " + quoted(devicePath) + " " + std::to_string(bytes))
        .at("hostPath")
        .get<std::string>();
}

std::optional<nlohmann::json> SimulatedGlasses::waitForEvent(const std::function<bool(const nlohmann::json&)>& match,
                                                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    std::optional<nlohmann::json> found;
    changed_.wait_for(lock, timeout, [&] {
        for (const auto& event : events_) {
            if (match(event)) {
                found = event;
                return true;
            }
        }
        return ended_;
    });
    return found;
}

}  // namespace orvan::testing

namespace orvan::testing {

void SimulatedGlasses::setScrcpyVideoSize(int width, int height) {
    control("scrcpy-size " + name_ + " " + std::to_string(width) + "x" + std::to_string(height));
}

void SimulatedGlasses::failNextScrcpyStart(const std::string& serverVersion) {
    control("scrcpy-mismatch " + name_ + " " + quoted(serverVersion));
}

std::optional<nlohmann::json> SimulatedGlasses::waitForScrcpySession(const std::string& state,
                                                                     std::chrono::milliseconds timeout) const {
    return waitForEvent(
        [&](const auto& e) { return e.value("event", "") == "scrcpy-session" && e.value("state", "") == state; }, timeout);
}

}  // namespace orvan::testing
