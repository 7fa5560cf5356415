#include "shell/ManualPageRules.h"

#include <algorithm>

namespace orvan {

StatusRows statusRowsFor(const std::optional<ConnectedAdbDevice>& selected, bool mirroring, const std::string& computerWifiName) {
    if (!selected) return StatusRows{"未检测", "-", "-", computerWifiName, "-", "就绪"};
    const auto& device = *selected;
    std::string status;
    if (device.isRecent() && !device.isCurrentlyConnected()) status = "未连接，点击开始无线投屏可尝试连接。";
    else if (mirroring) status = "投屏中";
    else status = "已连接，可开始投屏。";
    return StatusRows{device.connectionText(), device.model.value_or("-"), device.displayDeviceId(), computerWifiName,
                      device.ip.value_or("-"), status};
}

std::string ActiveMirrors::displayName(const ConnectedAdbDevice& device) {
    if (auto id = device.storableDeviceId()) return *id;
    if (device.model && !device.model->empty()) return *device.model;
    if (device.ip && !device.ip->empty()) return *device.ip;
    return device.serial;
}

std::string ActiveMirrors::keyFor(const ConnectedAdbDevice& device) {
    if (auto id = device.storableDeviceId()) return *id;
    return displayName(device);
}

void ActiveMirrors::registerMirror(const ConnectedAdbDevice& device) {
    std::erase_if(devices_, [&](const auto& entry) { return entry.second.isSamePhysicalDevice(device); });
    devices_[keyFor(device)] = device;
}

void ActiveMirrors::remove(const std::string& key) { devices_.erase(key); }

std::optional<std::string> ActiveMirrors::keyOf(const ConnectedAdbDevice& device) const {
    for (const auto& [key, mirrored] : devices_)
        if (mirrored.isSamePhysicalDevice(device)) return key;
    return std::nullopt;
}

bool ActiveMirrors::contains(const ConnectedAdbDevice& device) const { return keyOf(device).has_value(); }

ActionDevice currentConnectedDeviceForAction(const std::optional<ConnectedAdbDevice>& selected,
                                             const std::vector<ConnectedAdbDevice>& detected) {
    if (selected && selected->isCurrentlyConnected()) return {selected, false};
    auto connected = std::find_if(detected.begin(), detected.end(), [](const auto& d) { return d.isCurrentlyConnected(); });
    if (connected != detected.end()) {
        bool switched = !selected || !connected->isSamePhysicalDevice(*selected);
        return {*connected, switched};
    }
    return {selected, false};
}

ExportTarget mediaExportTargetDevice(const std::optional<ConnectedAdbDevice>& selected, const ActiveMirrors& mirrors,
                                     const std::vector<ConnectedAdbDevice>& detected) {
    const bool manyMirrors = mirrors.size() > 1;
    ExportTarget target;
    if (selected && selected->isCurrentlyConnected()) target.device = selected;
    else if (mirrors.size() == 1 && (!selected || !selected->isCurrentlyConnected())) target.device = mirrors.devices().begin()->second;
    if (!target.device) {
        // With a selection, only the same glasses will do: exporting another pair's photos
        // because the selected one went offline would surprise the user.
        auto usable = [&](const ConnectedAdbDevice& device) {
            return device.isCurrentlyConnected() && (!selected || device.isSamePhysicalDevice(*selected));
        };
        auto found = std::find_if(detected.begin(), detected.end(), usable);
        if (found != detected.end()) target.device = *found;
    }
    if (target.device) {
        target.tooltip = "导出当前页签设备的照片/视频";
    } else if (manyMirrors) {
        target.tooltip = "多台眼镜正在投屏，请先选择要导出的设备页签";
        target.unavailableMessage = "检测到多台正在投屏的眼镜，请先在“手动连接”中选择要导出的设备页签。";
    } else {
        target.tooltip = "请先连接并选择一个当前在线的设备页签";
        target.unavailableMessage = "未检测到当前在线的 ADB 设备，请先连接并选择 Tervo3。";
    }
    return target;
}

AudioToggleOutcome audioForwardingChanged(bool requested, bool current, bool mirrorsRunning) {
    if (mirrorsRunning) return {false, current, "", "请先停止全部投屏，再修改声音设置"};
    return {true, requested, std::string("眼镜声音传输已") + (requested ? "开启" : "关闭") + "，设置对新启动的投屏生效。", ""};
}

std::string audioTooltip(bool mirrorsRunning) {
    return mirrorsRunning ? "请先停止全部投屏，再修改声音设置" : "设置对新启动的投屏生效";
}

}  // namespace orvan
