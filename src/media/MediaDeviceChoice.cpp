#include "media/MediaDeviceChoice.h"

#include <algorithm>

#include "foundation/MirrorError.h"

namespace orvan {

bool isDeviceListed(const AdbDevices& devices, const std::string& serial) {
    auto has = [&serial](const std::vector<std::string>& list) {
        return std::find(list.begin(), list.end(), serial) != list.end();
    };
    return has(devices.usb) || has(devices.wireless);
}

std::string chooseMediaDevice(const AdbDevices& devices, const std::optional<std::string>& preferredSerial) {
    if (preferredSerial && isDeviceListed(devices, *preferredSerial)) return *preferredSerial;
    const std::size_t count = devices.usb.size() + devices.wireless.size();
    if (count == 1) return devices.usb.empty() ? devices.wireless.front() : devices.usb.front();
    if (count == 0) throw MirrorError::message("未检测到 ADB 设备，请先连接 Tervo3。");
    throw MirrorError::message("检测到多个 ADB 设备，请先选择一个设备页签后再导出照片/视频。");
}

std::string mediaDeviceGoneText(const std::string& serial) {
    return "眼镜 " + serial + " 已断开连接，请重新连接后再打开导出窗口。";
}

}  // namespace orvan
