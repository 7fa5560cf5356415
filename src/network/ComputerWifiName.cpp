#include "network/ComputerWifiName.h"

#include <unistd.h>

#include "foundation/ProcessRunner.h"
#include "foundation/Text.h"

namespace orvan {
namespace {

std::optional<std::string> findTool(const std::string& name) {
    for (const char* folder : {"/usr/bin/", "/usr/sbin/", "/sbin/", "/bin/", "/usr/local/bin/"}) {
        std::string path = std::string(folder) + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return std::nullopt;
}

std::optional<std::string> runTool(const std::string& tool, const std::vector<std::string>& arguments) {
    auto path = findTool(tool);
    if (!path) return std::nullopt;
    try {
        // nmcli translates its words and mangles non-ASCII names outside a UTF-8 locale.
        auto run = runFinite(ProcessSpec{*path, arguments, {{"LC_ALL", "C.UTF-8"}}, {}}, Seconds(3.0));
        if (run.timedOut || run.status != 0 || !text::isValidUtf8(run.bytes)) return std::nullopt;
        return run.bytes;
    } catch (const LaunchError&) {
        return std::nullopt;
    }
}

}  // namespace

ComputerWifiName::ComputerWifiName() : runner_(runTool) {}

ComputerWifiName::ComputerWifiName(ToolRunner runner) : runner_(std::move(runner)) {}

std::vector<std::string> ComputerWifiName::splitTerse(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            fields.back() += line[++i];
        } else if (line[i] == ':') {
            fields.emplace_back();
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

std::optional<std::string> ComputerWifiName::ssidFromNmcli(const std::string& output) {
    for (const auto& line : text::splitLines(output)) {
        auto fields = splitTerse(line);
        if (fields.size() >= 2 && text::trimmed(fields[0]) == "*" && !fields[1].empty()) return fields[1];
    }
    return std::nullopt;
}

std::optional<std::string> ComputerWifiName::currentSsid() const {
    if (auto nmcli = runner_("nmcli", {"-t", "-f", "IN-USE,SSID", "dev", "wifi", "list", "--rescan", "no"})) {
        if (auto ssid = ssidFromNmcli(*nmcli)) return ssid;
    }
    if (auto iwgetid = runner_("iwgetid", {"-r"})) {
        // The raw name and a newline; only the line end is ours to strip.
        std::string name = *iwgetid;
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        if (!name.empty()) return name;
    }
    return std::nullopt;
}

std::string ComputerWifiName::displayName() const { return currentSsid().value_or("-"); }

}  // namespace orvan
