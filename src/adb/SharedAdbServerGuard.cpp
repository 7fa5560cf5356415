#include "adb/SharedAdbServerGuard.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <system_error>

#include "adb/AdbRunner.h"
#include "adb/AdbVersion.h"

namespace orvan {
namespace fs = std::filesystem;

namespace {

constexpr int kDefaultAdbServerPort = 5037;
constexpr std::string_view kDeletedMark = " (deleted)";

std::optional<int> parsePort(std::string_view digits) {
    int port = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

bool isLocalHost(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return host == "localhost" || host == "::1" || host.starts_with("127.");
}

std::string environmentValue(const EnvironmentLookup& environment, const std::string& name) {
    auto value = environment(name);
    return value ? *value : std::string();
}

std::vector<std::uint64_t> inodesOf(const std::vector<ListeningSocket>& sockets) {
    std::vector<std::uint64_t> inodes;
    for (const auto& socket : sockets) inodes.push_back(socket.inode);
    std::sort(inodes.begin(), inodes.end());
    return inodes;
}

bool isQuiet(SharedServerVerdict verdict) {
    return verdict == SharedServerVerdict::notLocal || verdict == SharedServerVerdict::noServer ||
           verdict == SharedServerVerdict::sameVersion;
}

std::string versionText(const std::optional<int>& version) {
    return version ? "1.0." + std::to_string(*version) : std::string("未知");
}

std::string logMessage(const SharedServerCheck& check) {
    std::string server = "共享 " + (check.port ? std::to_string(*check.port) : std::string()) + " ADB 服务";
    std::string executable = check.serverExecutable ? check.serverExecutable->string() : std::string("未知");
    switch (check.verdict) {
        case SharedServerVerdict::otherVersion:
            return server + "属于另一版本的 adb（" + executable + "，版本 " + versionText(check.serverVersion) +
                   "；本应用自带 " + versionText(check.ownVersion) +
                   "），本应用改用该服务自带的 adb，以保持 IDE 的连接";
        case SharedServerVerdict::sameVersion:
            return server + "与本应用的 adb 版本一致，改回使用本应用自带的 adb";
        case SharedServerVerdict::noServer:
            return server + "已不在运行，改回使用本应用自带的 adb";
        case SharedServerVerdict::notLocal:
            return "共享 ADB 服务不在本机端口上，改回使用本应用自带的 adb";
        case SharedServerVerdict::ownerUnreadable:
            return "无法查看" + server + "所属的进程（可能属于其他用户），继续使用本应用自带的 adb";
        case SharedServerVerdict::notAdb:
            return "共享 " + (check.port ? std::to_string(*check.port) : std::string()) + " 端口由其他程序监听（" +
                   executable + "），继续使用本应用自带的 adb";
        case SharedServerVerdict::versionUnreadable:
            return "无法读取" + server + "的 adb 版本（" + executable + "），继续使用本应用自带的 adb";
    }
    return {};
}

}  // namespace

std::optional<int> sharedAdbServerPort(const EnvironmentLookup& environment) {
    // adb's own order: a socket spec wins over the address and port variables.
    std::string socket = environmentValue(environment, "ADB_SERVER_SOCKET");
    if (!socket.empty()) {
        std::string_view spec(socket);
        if (!spec.starts_with("tcp:")) return std::nullopt;
        spec.remove_prefix(4);
        auto colon = spec.rfind(':');
        if (colon != std::string_view::npos) {
            if (!isLocalHost(spec.substr(0, colon))) return std::nullopt;
            spec.remove_prefix(colon + 1);
        }
        return parsePort(spec);
    }
    std::string address = environmentValue(environment, "ANDROID_ADB_SERVER_ADDRESS");
    if (!address.empty() && !isLocalHost(address)) return std::nullopt;
    std::string port = environmentValue(environment, "ANDROID_ADB_SERVER_PORT");
    if (port.empty()) return kDefaultAdbServerPort;
    return parsePort(port);
}

SharedAdbServerGuard::SharedAdbServerGuard(fs::path ownAdb, SharedLogSink log, SharedAdbServerGuardOptions options)
    : ownAdb_(std::move(ownAdb)),
      log_(log ? std::move(log) : std::make_shared<LogSink>()),
      options_(std::move(options)),
      sockets_(options_.procRoot) {
    if (!options_.environment) {
        options_.environment = [](const std::string& name) -> std::optional<std::string> {
            const char* value = std::getenv(name.c_str());
            if (!value) return std::nullopt;
            return std::string(value);
        };
    }
}

std::shared_ptr<SharedAdbServerGuard> SharedAdbServerGuard::installIn(AdbRunner& runner,
                                                                      SharedAdbServerGuardOptions options) {
    auto guard = std::make_shared<SharedAdbServerGuard>(runner.adbPath(), runner.log(), std::move(options));
    runner.setSharedBinaryResolver([guard] { return guard->sharedBinary(); });
    return guard;
}

SharedServerCheck SharedAdbServerGuard::check() {
    std::lock_guard lock(mutex_);
    SharedServerCheck result;
    try {
        result.port = sharedAdbServerPort(options_.environment);
        if (!result.port) {
            result.verdict = SharedServerVerdict::notLocal;
            cached_.reset();
        } else if (cached_ && cached_->port == result.port && cached_->pid &&
                   sockets_.holds(*cached_->pid, cachedSockets_)) {
            // The known server still holds its listening socket, so nobody else can have taken
            // the port: the common case, which must stay cheap (the socket tables walk every
            // connection of the machine and cost milliseconds on a big one).
            result = *cached_;
        } else if (auto sockets = sockets_.listeningSockets(*result.port); sockets.empty()) {
            result.verdict = SharedServerVerdict::noServer;
            cached_.reset();
        } else if (cached_ && cached_->port == result.port && !cached_->pid &&
                   inodesOf(cachedSockets_) == inodesOf(sockets)) {
            // The same listener whose process we could not see: no new look either.
            result = *cached_;
        } else {
            result = inspect(*result.port, sockets);
            cached_ = result;
            cachedSockets_ = std::move(sockets);
        }
    } catch (const std::exception&) {
        // Whatever went wrong while looking, our own tool is the answer that changes nothing.
        result = SharedServerCheck{SharedServerVerdict::ownerUnreadable, result.port, {}, {}, {}, {}, {}};
        cached_.reset();
    }
    logChange(result);
    return result;
}

SharedServerCheck SharedAdbServerGuard::inspect(int port, const std::vector<ListeningSocket>& sockets) {
    SharedServerCheck check;
    check.port = port;
    check.verdict = SharedServerVerdict::ownerUnreadable;
    check.pid = sockets_.ownerOf(sockets);
    if (!check.pid) return check;
    check.serverExecutable = sockets_.executableOf(*check.pid);
    if (!check.serverExecutable) return check;
    return inspectOwner(std::move(check));
}

SharedServerCheck SharedAdbServerGuard::inspectOwner(SharedServerCheck check) {
    std::string executable = check.serverExecutable->string();
    bool deleted = executable.ends_with(kDeletedMark);
    if (deleted) executable.resize(executable.size() - kDeletedMark.size());
    // Only an adb is ever run for its version: any other listener could be anything.
    if (fs::path(executable).filename() != "adb") {
        check.verdict = SharedServerVerdict::notAdb;
        return check;
    }
    if (deleted) {  // an SDK updated under a running server: its binary is gone
        check.verdict = SharedServerVerdict::versionUnreadable;
        return check;
    }
    if (isOwnBinary(executable)) {
        check.verdict = SharedServerVerdict::sameVersion;
        return check;
    }
    check.ownVersion = ownVersion();
    check.serverVersion = readAdbProtocolVersion(executable, options_.versionTimeout);
    if (!check.ownVersion || !check.serverVersion) {
        check.verdict = SharedServerVerdict::versionUnreadable;
    } else if (*check.ownVersion == *check.serverVersion) {
        check.verdict = SharedServerVerdict::sameVersion;
    } else {
        check.verdict = SharedServerVerdict::otherVersion;
        check.binary = fs::path(executable);
    }
    return check;
}

std::optional<int> SharedAdbServerGuard::ownVersion() {
    // Our tool never changes while the app runs; a failed read is tried again next time.
    if (!ownVersion_) ownVersion_ = readAdbProtocolVersion(ownAdb_, options_.versionTimeout);
    return ownVersion_;
}

bool SharedAdbServerGuard::isOwnBinary(const fs::path& executable) {
    std::error_code error;
    fs::path own = fs::canonical(ownAdb_, error);
    if (error) return false;
    fs::path other = fs::canonical(executable, error);
    return !error && own == other;
}

void SharedAdbServerGuard::logChange(const SharedServerCheck& check) {
    std::string key = std::to_string(static_cast<int>(check.verdict)) + "|" +
                      (check.port ? std::to_string(*check.port) : std::string()) + "|" +
                      (check.serverExecutable ? check.serverExecutable->string() : std::string());
    if (key == lastLogKey_) return;
    bool quiet = isQuiet(check.verdict);
    // Our own tool on an ordinary server is the normal state: worth a line only as a return.
    if (!(quiet && lastChoiceQuiet_)) (*log_)(logMessage(check));
    lastLogKey_ = std::move(key);
    lastChoiceQuiet_ = quiet;
}

}  // namespace orvan
