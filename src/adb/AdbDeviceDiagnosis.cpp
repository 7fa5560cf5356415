#include "adb/AdbDeviceDiagnosis.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "adb/AdbTransportState.h"
#include "foundation/Text.h"

namespace orvan {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRulesFile = "/etc/udev/rules.d/51-orvan-glasses.rules";

std::optional<std::string> firstLine(const fs::path& file) {
    std::ifstream stream(file);
    std::string line;
    if (!stream || !std::getline(stream, line)) return std::nullopt;
    return text::trimmed(line);
}

std::string diagnosis(const UnusableAdbDevice& device, const fs::path& sysfsRoot) {
    const std::string glasses = "检测到眼镜 " + device.serial;
    if (device.state == "no permissions") {
        auto vendor = usbVendorIdForSerial(device.serial, sysfsRoot);
        std::string rule =
            "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"" + vendor.value_or("<厂商ID>") + "\", TAG+=\"uaccess\"";
        return glasses + "，但系统未授予本应用访问该 USB 设备的权限（no permissions）。请将下面这一行写入 " +
               kRulesFile + "：\n" + rule + "\n" +
               (vendor ? "" : "（未能读取眼镜的 USB 厂商 ID，可用 lsusb 查看后替换 <厂商ID>。）\n") +
               "然后运行 sudo udevadm control --reload-rules && sudo udevadm trigger，并重新插拔 USB 线。";
    }
    const auto state = parseAdbTransportState(device.state);
    if (state == AdbTransportState::unauthorized)
        return glasses +
               "，但尚未授权本电脑进行 USB 调试（unauthorized）。请在眼镜上确认“允许 USB 调试”提示；"
               "若未看到提示，请先解锁眼镜。";
    if (state == AdbTransportState::offline)
        return glasses +
               "，但连接处于离线状态（offline）。请重新插拔 USB 线；若另一台电脑的 adb 正占用眼镜，请先停止它。";
    return glasses + "，当前状态为 " + device.state + "，暂时无法使用。";
}

}  // namespace

std::optional<std::string> usbVendorIdForSerial(const std::string& serial, const fs::path& sysfsRoot) {
    std::error_code error;
    for (fs::directory_iterator it(sysfsRoot / "bus" / "usb" / "devices", error), end; !error && it != end;
         it.increment(error)) {
        if (firstLine(it->path() / "serial") != serial) continue;
        if (auto vendor = firstLine(it->path() / "idVendor"); vendor && !vendor->empty()) return vendor;
    }
    return std::nullopt;
}

std::optional<std::string> diagnoseUnusableDevices(const AdbDevices& devices, const fs::path& sysfsRoot) {
    if (devices.hasAny() || devices.unusable.empty()) return std::nullopt;
    std::vector<std::string> paragraphs;
    for (const auto& device : devices.unusable) paragraphs.push_back(diagnosis(device, sysfsRoot));
    return text::joined(paragraphs, "\n");
}

}  // namespace orvan
