#include "mirror/MirrorService.h"

#include <algorithm>
#include <cstdlib>

#include "adb/SharedAdbServerGuard.h"
#include "foundation/MirrorError.h"
#include "mirror/ScrcpyCommandLine.h"
#include "platform/X11WindowSystem.h"

namespace orvan {

namespace {
constexpr double kRecoveryProbeTimeout = 0.8;
// How often a recovery probe tries the port again while it watches: a pair that answers again
// is noticed within this, against a start that takes a few hundred milliseconds.
constexpr double kRecoveryProbeInterval = 0.04;
constexpr double kRecoveryConnectTimeout = 4.0;
const std::string kQuitStopReason = "应用退出";
}  // namespace

MirrorService::MirrorService(MirrorServiceOptions options)
    : tools_(std::move(options.tools)),
      baseClock_(options.clock),
      stoppableClock_(*options.clock, tasks_.token()),
      runner_(tools_.adb, options.privatePort, log_) {
    runner_.setAbandonToken(commandsAbandoned_.token());
    // The IDE's server on the shared port may be another adb version: follow it, never kill it.
    SharedAdbServerGuard::installIn(runner_);
    launcher_ = ScrcpyLauncher::create(
        ScrcpyLauncherSettings{tools_, options.privatePort, log_, clock_,
                               options.windows ? std::move(options.windows) : std::make_shared<X11WindowSystem>(),
                               std::move(options.processList), std::move(options.mainQueue),
                               [this](AdbServerScope scope) { return runner_.binaryFor(scope); }, scrcpyVersions_});
    orchestrator_ = std::make_unique<MirrorOrchestrator>(
        MirrorOrchestrator::Parts{runner_, tools_, *clock_, discovery_, targetProbe_, readiness_, connector_,
                                  connectedTarget_, targets_, *launcher_});
    // The supervisor's pauses wake on its own stops; the quit stops it through the orchestrator.
    supervisor_ = MirrorSupervisor::create({
        .clock = baseClock_,
        .log = log_,
        .answers = [this](const std::string& ip, int port, double window, const std::function<bool()>& go) {
            const auto end = deadlineAfter(*clock_, Seconds(window));
            while (true) {
                const double left = std::chrono::duration<double>(end - clock_->now()).count();
                if (localNetwork_.probeLocalNetworkAccess(ip, port, std::clamp(left, 0.05, kRecoveryProbeTimeout))
                        .kind == LocalNetworkProbeOutcome::Kind::reachable)
                    return true;
                if (!go() || clock_->now() >= end) return false;
                clock_->sleepFor(Seconds(std::min(kRecoveryProbeInterval, std::max(left, 0.0))));
            }
        },
        .onEvent = nullptr,
        .closeWindow = [launcher = std::weak_ptr(launcher_)](const MirrorKey& processKey) {
            if (auto self = launcher.lock()) self->stopProcessKeys({processKey});
        },
        .runInBackground = nullptr,
    });
    orchestrator_->setOnStop([supervisor = std::weak_ptr(supervisor_)](const std::optional<std::string>& identity,
                                                                        const std::string& reason) {
        auto self = supervisor.lock();
        if (!self) return;
        if (identity)
            self->stop(*identity, reason);
        else
            self->stopAll(reason);
    });
}

void MirrorService::superviseMirror(const ConnectedAdbDevice& device, const std::string& target, bool glassShell,
                                    const std::string& name, std::optional<AdbServerScope> scanScope) {
    if (target.rfind(':') == std::string::npos) return;  // a USB mirror has no address to come back on
    supervisor_->watch(supervisedMirror(device, target, glassShell, name, scanScope));
}

SupervisedMirror MirrorService::supervisedMirror(const ConnectedAdbDevice& device, const std::string& target,
                                                 bool glassShell, const std::string& name,
                                                 std::optional<AdbServerScope> scanScope) {
    auto colon = target.rfind(':');
    std::string ip = target.substr(0, colon);
    int port = std::atoi(target.c_str() + colon + 1);
    SupervisedMirror mirror{.identity = device.mirrorIdentity(),
                            .name = name,
                            .processKey = MirrorKey::of(target, glassShell),
                            .ip = ip,
                            .port = port,
                            .restart = nullptr,
                            .onUsb = nullptr,
                            .switchOverUsb = nullptr};
    // The same steps as the first start: the wireless connect (with its retries and fallback),
    // then the start path the mirror came from.
    mirror.restart = [this, device, target, ip, port, glassShell, scanScope](const std::function<bool()>& go) {
        AdbServerScope scope = scanScope ? privateServer_.preferredScanAdbServerScope() : AdbServerScope::sharedDevelopment;
        if (scope == AdbServerScope::privateMirroring) {
            // The transport under the ended window is dead, but the server keeps it (offline,
            // reconnecting on its own schedule), and a connect would wait on it: a fresh one
            // forms at once. The shared server's transports are left to their owner.
            runner_.runAdb({"disconnect", target},
                           {.timeout = Seconds(kRecoveryConnectTimeout), .check = false, .scope = scope});
        }
        std::string failure;
        if (!connector_.tryConnectWirelessAdb(ip, port,
                                              {.timeout = kRecoveryConnectTimeout,
                                               .onFailure = [&](const WirelessConnectFailure& f) { failure = f.text; },
                                               .scope = scope}))
            throw MirrorError::message(failure.empty() ? "无线 ADB 连接失败: " + target : failure);
        if (!go()) return;
        if (scanScope) {
            ConnectedAdbDevice wireless = device;
            wireless.serial = target;
            orchestrator_->startVerifiedWirelessMirror(wireless, nullptr, go, scope);
        } else if (glassShell) {
            orchestrator_->startWirelessGlassShellMirror(device);
        } else {
            orchestrator_->startWirelessMirror(device);
        }
    };
    // Only a mirror that knows the glasses' hardware id can find them on the cable; the others
    // need no device listing while they wait.
    if (!device.storableDeviceId()) return mirror;
    // The same glasses on the cable: the one attached by USB with this mirror's identity.
    auto usbPair = [this, identity = device.mirrorIdentity()]() -> std::optional<ConnectedAdbDevice> {
        for (const auto& attached : discovery_.detectAdbDevices(true).connectedDevices())
            if (!isWirelessSerial(attached.serial) && attached.mirrorIdentity() == identity) return attached;
        return std::nullopt;
    };
    mirror.onUsb = [usbPair] { return usbPair().has_value(); };
    mirror.switchOverUsb = [this, usbPair, device, target, glassShell, name,
                            scanScope](const std::function<bool()>& go) -> SupervisedMirror {
        auto usb = usbPair();
        if (!usb) throw MirrorError::message("眼镜已不在 USB 上: " + target);
        if (!go()) throw MirrorError::cancelled();
        std::string moved = orchestrator_->startWirelessMirrorFromUsb(*usb, glassShell, device.mirrorIdentity(), target);
        ConnectedAdbDevice wireless = device;
        wireless.serial = moved;
        wireless.ip = moved.substr(0, moved.rfind(':'));
        return supervisedMirror(wireless, moved, glassShell, name, scanScope);
    };
    return mirror;
}

void MirrorService::beginTermination() {
    // Starts in progress end on their own threads (their windows close there), later ones launch
    // nothing; the windows that are registered now close below. Nothing here waits.
    tasks_.stop();
    launcher_->closeForTermination();
    supervisor_->stopAll(kQuitStopReason);
    orchestrator_->stopMirror();
}

void MirrorService::finishTermination(std::chrono::milliseconds grace) {
    // The app does not leave before its mirror windows have, so none outlives it as an orphan.
    // Every child launched so far is in this list, a cancelled start's included. Each is ended
    // through its own handle, which reaps it under its lock: a recycled pid is never signalled.
    auto deadline = std::chrono::steady_clock::now() + grace;
    for (const auto& child : launcher_->registry().launchedChildrenNotEnded()) {
        auto left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now());
        child->waitForExit(Seconds(std::max(0.0, left.count())));
    }
    privateServer_.stopPrivateWirelessAdbServer();
}

void MirrorService::startMirror(const std::string& target) {
    checkTools();
    launcher_->startScrcpy(target, false, std::nullopt, nullptr, AdbServerScope::sharedDevelopment);
}

void MirrorService::startGlassShellMirror(const std::string& target) {
    checkTools();
    launcher_->startScrcpy(target, true, std::nullopt, nullptr, AdbServerScope::sharedDevelopment);
}

MirrorService::ScrcpyClientState MirrorService::checkScrcpyClient(const std::filesystem::path& scrcpy,
                                                                 ScrcpyVersionReader& versions) {
    std::error_code error;
    if (scrcpy.empty() || !std::filesystem::exists(scrcpy, error))
        return {std::nullopt, std::string("未找到 scrcpy，暂时无法投屏（检测设备和导出照片不受影响）。") + kScrcpyInstallHint};
    try {
        return {versions.requireSupported(scrcpy), ""};
    } catch (const std::exception& failure) {
        return {std::nullopt, failure.what()};
    }
}

MirrorService::~MirrorService() = default;

}  // namespace orvan
