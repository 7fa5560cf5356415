#include "mirror/MirrorService.h"

#include <algorithm>

#include "adb/SharedAdbServerGuard.h"
#include "platform/X11WindowSystem.h"

namespace orvan {

MirrorService::MirrorService(MirrorServiceOptions options)
    : tools_(std::move(options.tools)), clock_(options.clock), runner_(tools_.adb, options.privatePort, log_) {
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
}

void MirrorService::beginTermination() {
    // Starts in progress end on their own threads (their windows close there), later ones launch
    // nothing; the windows that are registered now close below. Nothing here waits.
    launcher_->closeForTermination();
    orchestrator_->stopMirror();
}

void MirrorService::finishTermination(std::chrono::milliseconds grace) {
    // The app does not leave before its mirror windows have, so none outlives it as an orphan.
    // Every child launched so far is in this list, a cancelled start's included. Each is ended
    // through its own handle, which reaps it under its lock: a recycled pid is never signalled.
    auto deadline = std::chrono::steady_clock::now() + grace;
    for (const auto& child : launcher_->launchedChildrenNotEnded()) {
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

MirrorService::ScrcpyClientState MirrorService::checkScrcpyClient() const {
    std::error_code error;
    if (tools_.scrcpy.empty() || !std::filesystem::exists(tools_.scrcpy, error))
        return {std::nullopt, std::string("未找到 scrcpy，暂时无法投屏（检测设备和导出照片不受影响）。") + kScrcpyInstallHint};
    try {
        return {scrcpyVersions_->requireSupported(tools_.scrcpy), ""};
    } catch (const std::exception& failure) {
        return {std::nullopt, failure.what()};
    }
}

MirrorService::~MirrorService() = default;

}  // namespace orvan
