#include "shell/ManualPageController.h"

#include <algorithm>

#include "adb/AdbDeviceDiagnosis.h"
#include "adb/RecentDeviceStore.h"
#include "foundation/MirrorError.h"
#include "platform/Dispatch.h"
#include "shell/DeviceTabs.h"

namespace orvan {

namespace {
constexpr size_t kRecentDeviceLimit = 5;
constexpr size_t kRecentReconnectLimit = 3;
constexpr double kRecentReconnectTimeout = 4.0;
}  // namespace

ManualPageController::ManualPageController(std::shared_ptr<ManualPageBackend> backend,
                                           std::shared_ptr<RecentDeviceStore> store, ManualPageView& view,
                                           std::function<void(const std::string&)> log)
    : backend_(std::move(backend)), store_(std::move(store)), view_(view), log_(std::move(log)) {}

void ManualPageController::loadRecentDevices() {
    recent_ = store_->loadRecentDevices(kRecentDeviceLimit);
    view_.setAudioForwarding(backend_->isAudioForwardingEnabled(), audioTooltip(false));
    render();
}

void ManualPageController::showError(const std::string& message) {
    view_.setStatus("失败");
    log_("错误: " + message);
    view_.showWarning("操作失败", message);
}

void ManualPageController::runAction(std::function<std::function<void()>()> work) {
    actionInProgress_ = true;
    view_.setBusy(true);
    std::weak_ptr<ManualPageController> weak = weak_from_this();
    tasks_.async(
        [weak, work = std::move(work)] {
            std::function<void()> finish;
            std::string failure;
            bool normalClosure = false, cancelled = false;
            try {
                finish = work();
            } catch (const MirrorError& error) {
                failure = error.what();
                normalClosure = error.isNormalScrcpyClosure();
                cancelled = error.isCancellation();
            } catch (const std::exception& error) {
                failure = error.what();
            }
            Dispatch::main().post([weak, finish, failure, normalClosure, cancelled] {
                auto self = weak.lock();
                if (!self) return;
                self->actionInProgress_ = false;
                self->view_.setBusy(false);
                if (finish)
                    finish();
                else if (normalClosure)
                    self->view_.setStatus("投屏已结束");
                else if (cancelled)
                    self->log_(failure);  // the app quits or a scan took over: no failure to show
                else
                    self->showError(failure);
            });
        },
        QualityOfService::userInitiated);
}

void ManualPageController::reconnectRecentWireless() const {
    size_t tried = 0;
    for (const auto& device : store_->loadRecentDevices(std::nullopt)) {
        if (!device.ip || device.ip->empty()) continue;
        if (tried++ == kRecentReconnectLimit) break;
        if (tasks_.stopRequested()) throw MirrorError::cancelled();  // between pairs: the app quits
        try {
            backend_->connectWireless(*device.ip, kWirelessAdbPort, kRecentReconnectTimeout, true);
        } catch (const std::exception&) {
            // A remembered pair that is off or elsewhere is simply not reconnected.
        }
    }
}

ManualPageController::Detection ManualPageController::detect(bool silent, bool remember) const {
    Detection detection;
    detection.devices = backend_->detectAdbDevices(silent);
    for (const auto& serial : remember ? detection.devices.usb : std::vector<std::string>{}) {
        std::string ip;
        try {
            ip = backend_->getWlanIp(serial, silent);
        } catch (const std::exception& error) {
            log_("无法记录最近设备 " + serial + ": " + error.what());
            continue;
        }
        auto model = detection.devices.models.contains(serial) ? std::optional(detection.devices.models.at(serial))
                                                               : backend_->getDeviceModel(serial, silent);
        if (auto skipped = store_->saveRecentDevice(serial, ip, backend_->getWlanSsid(serial, silent), model))
            log_("无法记录最近设备 " + serial + ": " + *skipped);
    }
    detection.recent = store_->loadRecentDevices(kRecentDeviceLimit);
    detection.wifiName = backend_->computerWifiName();
    detection.diagnosis = diagnoseUnusableDevices(detection.devices, sysfsRoot_);
    return detection;
}

void ManualPageController::detectDevice() {
    if (actionInProgress_) return;
    view_.setStatus("正在检测 ADB 设备...");
    std::weak_ptr<ManualPageController> weak = weak_from_this();
    runAction([owner = shared_from_this(), weak]() -> std::function<void()> {
        auto detection = owner->detect(false, true);
        if (!detection.devices.hasAny()) {
            owner->reconnectRecentWireless();
            detection = owner->detect(false, true);
        }
        return [weak, detection] {
            auto self = weak.lock();
            if (!self) return;
            self->applyDetection(detection);
            // Found devices: the status rows rendered above say how the selection stands.
            const std::string none = "未检测到 ADB 设备，请确认 Tervo3 已连接并允许 USB 调试。";
            if (!detection.devices.hasAny()) self->showError(detection.diagnosis ? none + "\n" + *detection.diagnosis : none);
        };
    });
}

void ManualPageController::applyDetection(const Detection& detection) {
    detected_ = mergedDevices(detection.devices.connectedDevices(), {});
    recent_ = detection.recent;
    computerWifiName_ = detection.wifiName;
    noteDiagnosis(detection.diagnosis);
    render();
}

void ManualPageController::noteDiagnosis(const std::optional<std::string>& diagnosis) {
    // Every refresh brings the same listing again: the log hears about a change only.
    if (diagnosis == diagnosis_) return;
    diagnosis_ = diagnosis;
    if (diagnosis_) log_(*diagnosis_);
}

void ManualPageController::refreshDevicesSilently(bool validateWireless) {
    // Actions refresh on their own; a tick during one would only race it.
    if (refreshInProgress_ || actionInProgress_) return;
    refreshInProgress_ = true;
    std::weak_ptr<ManualPageController> weak = weak_from_this();
    auto backend = backend_;
    tasks_.async([weak, backend, validateWireless, sysfsRoot = sysfsRoot_] {
        std::optional<AdbDevices> listing;
        std::optional<std::string> diagnosis;
        try {
            listing = validateWireless ? backend->detectAdbDevices(true) : backend->detectAdbDevicePresence(true);
            diagnosis = diagnoseUnusableDevices(*listing, sysfsRoot);
        } catch (const std::exception&) {
            // A background refresh reports nothing; the next tick tries again.
        }
        Dispatch::main().post([weak, listing, diagnosis] {
            auto self = weak.lock();
            if (!self) return;
            self->refreshInProgress_ = false;
            if (!listing) return;
            self->noteDiagnosis(diagnosis);
            self->detected_ = mergedDevices(withKnownDetails(listing->connectedDevices(), self->detected_), {});
            self->render();
        });
    });
}

void ManualPageController::refreshComputerWifiName() {
    std::weak_ptr<ManualPageController> weak = weak_from_this();
    auto backend = backend_;
    tasks_.async([weak, backend] {
        auto name = backend->computerWifiName();
        Dispatch::main().post([weak, name] {
            auto self = weak.lock();
            if (!self) return;
            self->computerWifiName_ = name;
            self->updateSelection();
        });
    });
}

void ManualPageController::showComputerWifiName(const std::string& name) {
    if (name == computerWifiName_) return;
    computerWifiName_ = name;
    updateSelection();
}

void ManualPageController::render() {
    tabs_ = mergedDevices(detected_, recent_);
    auto index = keptSelection(tabs_, selected_);
    selected_ = index ? std::optional(tabs_[*index]) : std::nullopt;
    std::vector<DeviceTab> rendered;
    rendered.reserve(tabs_.size());
    for (const auto& device : tabs_)
        rendered.push_back({tabTitle(device, mirrors_.contains(device)), tabTooltip(device)});
    view_.renderTabs(rendered, index);
    updateSelection();
    if (onActiveMirrorsChanged_) onActiveMirrorsChanged_(mirrors_);
}

void ManualPageController::registerActiveMirror(const ConnectedAdbDevice& device) {
    mirrors_.registerMirror(device);
    render();
}

void ManualPageController::removeActiveMirror(const std::string& key) {
    mirrors_.remove(key);
    render();
}

void ManualPageController::stopMirroringSession(const std::string& key,
                                                std::function<void(const ConnectedAdbDevice&)> release,
                                                std::function<void(bool stopped)> done) {
    auto found = mirrors_.devices().find(key);
    if (found == mirrors_.devices().end()) {
        // Already gone: the list catches up with the next render.
        render();
        if (done) done(true);
        return;
    }
    const ConnectedAdbDevice device = found->second;
    const std::string name = ActiveMirrors::displayName(device);
    view_.setStatus("正在停止 " + name + " 投屏...");
    std::weak_ptr<ManualPageController> weak = weak_from_this();
    // Not an exclusive action: a stop must work while a detection or another start runs.
    tasks_.async(
        [weak, owner = shared_from_this(), device, key, name, release, done] {
            std::optional<std::string> failure;
            try {
                owner->backend_->stopMirror(device);
            } catch (const std::exception& error) {
                failure = error.what();
            }
            std::optional<Detection> detection;
            if (!failure) {
                try {
                    detection = owner->detect(true, false);
                } catch (const std::exception&) {
                    // Only refreshes the tabs; the next tick lists the devices anyway.
                }
            }
            Dispatch::main().post([weak, device, key, name, release, done, failure, detection] {
                auto self = weak.lock();
                if (!self) return;
                if (failure) {
                    self->showError(*failure);
                    if (done) done(false);
                    return;
                }
                if (release) release(device);
                self->mirrors_.remove(key);
                if (detection)
                    self->applyDetection(*detection);
                else
                    self->render();
                self->log_("已停止投屏: " + name + "，无线 ADB 连接保留。");
                self->syncActiveMirrorUi();
                if (done) done(true);
            });
        },
        QualityOfService::userInitiated);
}

void ManualPageController::updateSelection() {
    bool mirroring = selected_ && mirrors_.contains(*selected_);
    view_.setMirrorButtonTitle(mirroring ? "停止无线投屏" : "开始无线投屏");
    auto rows = statusRowsFor(selected_, mirroring, computerWifiName_);
    if (diagnosis_) rows.status = *diagnosis_;
    view_.showStatusRows(rows);
    view_.setAudioForwarding(backend_->isAudioForwardingEnabled(), audioTooltip(!mirrors_.empty()));
    auto exportTarget = mediaExportTargetDevice();
    view_.setExportAvailability(exportTarget.device.has_value(), exportTarget.tooltip);
}

ExportTarget ManualPageController::mediaExportTargetDevice() const {
    return orvan::mediaExportTargetDevice(selected_, mirrors_, detected_);
}

void ManualPageController::selectDeviceTab(size_t index) {
    if (index >= tabs_.size()) return;
    selected_ = tabs_[index];
    render();
}

void ManualPageController::start() {
    startMirror(false);
}

void ManualPageController::startGlassShell() {
    startMirror(true);
}

std::optional<ConnectedAdbDevice> ManualPageController::deviceForAction() {
    auto action = currentConnectedDeviceForAction(selected_, detected_);
    if (action.switched && action.device) {
        log_("已自动切换到当前连接设备 " + action.device->tabDisplayName());
        selected_ = action.device;
        render();
    }
    return action.device;
}

void ManualPageController::startMirror(bool glassShell) {
    if (actionInProgress_) return;
    auto action = deviceForAction();
    if (!action) {
        showError("请先点击“检测设备”，并选择一个设备页签。");
        return;
    }
    auto device = *action;
    std::weak_ptr<ManualPageController> weak = weak_from_this();

    if (!glassShell && mirrors_.contains(device)) {
        view_.setStatus("正在停止 " + device.tabDisplayName() + " 的无线投屏...");
        runAction([owner = shared_from_this(), device, weak]() -> std::function<void()> {
            owner->backend_->stopMirror(device);
            auto detection = owner->detect(true, false);
            return [weak, detection, device] {
                auto self = weak.lock();
                if (!self) return;
                if (auto key = self->mirrors_.keyOf(device)) self->mirrors_.remove(*key);
                self->applyDetection(detection);
                self->view_.setStatus("已停止无线投屏，ADB连接保留。");
            };
        });
        return;
    }

    view_.setStatus("正在启动 " + device.tabDisplayName() + (glassShell ? " 眼镜外壳投屏..." : " 无线投屏..."));
    runAction([owner = shared_from_this(), device, glassShell, weak]() -> std::function<void()> {
        owner->backend_->startWirelessMirror(device, glassShell);
        auto detection = owner->detect(true, false);
        // Remember the glasses with the address they are mirrored through.
        auto now = mergedDevices(detection.devices.connectedDevices(), {});
        auto current =
            std::find_if(now.begin(), now.end(), [&](const auto& d) { return d.isSamePhysicalDevice(device); });
        auto mirrored = current == now.end() ? device : *current;
        if (auto id = mirrored.storableDeviceId(); id && mirrored.ip && !isWirelessSerial(*id)) {
            if (auto skipped = owner->store_->saveRecentDevice(*id, *mirrored.ip, mirrored.wifiName, mirrored.model))
                owner->log_("无法记录最近设备 " + *id + ": " + *skipped);
            detection.recent = owner->store_->loadRecentDevices(kRecentDeviceLimit);
        }
        return [weak, detection, mirrored, glassShell] {
            auto self = weak.lock();
            if (!self) return;
            self->mirrors_.registerMirror(mirrored);
            self->applyDetection(detection);
            self->view_.setStatus(glassShell ? "眼镜外壳投屏中" : "投屏中");
        };
    });
}

void ManualPageController::disconnect() {
    if (actionInProgress_) return;
    // No device at all: every wireless transport is disconnected.
    auto device = deviceForAction();
    view_.setStatus("正在断开 ADB 连接...");
    std::weak_ptr<ManualPageController> weak = weak_from_this();
    runAction([owner = shared_from_this(), device, weak]() -> std::function<void()> {
        owner->backend_->disconnect(device);
        auto detection = owner->detect(true, false);
        return [weak, detection] {
            auto self = weak.lock();
            if (!self) return;
            self->applyDetection(detection);
            self->view_.setStatus("已断开无线 ADB 连接。");
            self->syncActiveMirrorUi();
        };
    });
}

void ManualPageController::syncActiveMirrorUi() {
    if (mirrors_.empty()) {
        render();
        return;
    }
    auto running = mirrors_.devices();
    auto backend = backend_;
    std::weak_ptr<ManualPageController> weak = weak_from_this();
    // The launcher's registry lock is held through a whole start: ask off the main thread.
    tasks_.async([weak, backend, running] {
        std::vector<std::string> ended;
        for (const auto& [key, device] : running)
            if (!backend->isMirroring(device)) ended.push_back(key);
        Dispatch::main().post([weak, ended] {
            auto self = weak.lock();
            if (!self) return;
            for (const auto& key : ended) self->mirrors_.remove(key);
            self->render();
        });
    });
}

void ManualPageController::audioForwardingToggled(bool requested) {
    auto outcome = audioForwardingChanged(requested, backend_->isAudioForwardingEnabled(), !mirrors_.empty());
    if (outcome.accepted) {
        backend_->setAudioForwardingEnabled(outcome.value);
        log_(outcome.logMessage);
    }
    view_.setAudioForwarding(outcome.value, audioTooltip(!mirrors_.empty()));
    if (!outcome.accepted) view_.showInformation(outcome.alertMessage, "知道了");
}

}  // namespace orvan
