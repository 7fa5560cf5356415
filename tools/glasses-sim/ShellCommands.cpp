#include "glasses-sim/ShellCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <vector>

#include "glasses-sim/ShellProtocol.h"

namespace orvan::sim {
namespace {

ShellResult failure(std::string err, int exitCode) {
    ShellResult result;
    result.err = std::move(err);
    result.exitCode = exitCode;
    return result;
}

ShellResult output(std::string out) {
    ShellResult result;
    result.out = std::move(out);
    return result;
}

ShellResult getprop(const std::vector<std::string>& words, const ShellEnvironment& env) {
    if (words.size() == 1) {
        std::string all;
        for (const auto& [key, value] : env.properties) all += "[" + key + "]: [" + value + "]\n";
        return output(all);
    }
    const auto it = env.properties.find(words[1]);
    if (it != env.properties.end()) return output(it->second + "\n");
    // An unset property prints the default (third argument) or an empty line.
    return output((words.size() > 2 ? words[2] : std::string()) + "\n");
}

ShellResult echo(const std::vector<std::string>& words) {
    std::size_t first = 1;
    bool newline = true;
    if (words.size() > 1 && words[1] == "-n") {
        newline = false;
        first = 2;
    }
    std::string text;
    for (std::size_t i = first; i < words.size(); ++i) {
        if (i > first) text += ' ';
        text += words[i];
    }
    return output(newline ? text + "\n" : text);
}

std::string wlanBlock(const ShellEnvironment& env) {
    std::string text = "32: wlan0: <BROADCAST,MULTICAST";
    text += env.wlanAddress ? ",UP,LOWER_UP> mtu 1500 qdisc mq state UP" : "> mtu 1500 qdisc mq state DOWN";
    text += " group default qlen 3000\n";
    text += "    link/ether " + env.macAddress + " brd ff:ff:ff:ff:ff:ff\n";
    if (env.wlanAddress) {
        text += "    inet " + *env.wlanAddress + "/24 brd " + env.wlanAddress->substr(0, env.wlanAddress->rfind('.')) +
                ".255 scope global wlan0\n";
        text += "       valid_lft forever preferred_lft forever\n";
        text += "    inet6 fe80::ff:fe4f:5256/64 scope link\n";
        text += "       valid_lft forever preferred_lft forever\n";
    }
    return text;
}

ShellResult ip(const std::vector<std::string>& words, const ShellEnvironment& env) {
    std::vector<std::string> args;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "-4" || words[i] == "-f" || words[i] == "inet") continue;
        args.push_back(words[i]);
    }
    if (args.empty() || (args[0] != "addr" && args[0] != "address" && args[0] != "a")) {
        return failure("Object \"" + (args.empty() ? std::string() : args[0]) + "\" is unknown, try \"ip help\".\n", 1);
    }
    std::string device;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "show" || args[i] == "list" || args[i] == "dev") continue;
        device = args[i];
    }
    if (device.empty()) {
        return output(
            "1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue state UNKNOWN group default qlen 1000\n"
            "    link/loopback 00:00:00:00:00:00 brd 00:00:00:00:00:00\n"
            "    inet 127.0.0.1/8 scope host lo\n"
            "       valid_lft forever preferred_lft forever\n" +
            wlanBlock(env));
    }
    if (device != "wlan0") return failure("Device \"" + device + "\" does not exist.\n", 1);
    return output(wlanBlock(env));
}

std::string wifiInfoLine(const ShellEnvironment& env, bool known) {
    if (!known || !env.ssid || !env.wlanAddress) {
        return "SSID: <unknown ssid>, BSSID: <none>, MAC: " + env.macAddress +
               ", IP: null, Security type: -1, Supplicant state: DISCONNECTED, RSSI: -127, Link speed: -1Mbps, "
               "Frequency: -1MHz, Net ID: -1, Metered hint: false, score: 0";
    }
    return "SSID: \"" + *env.ssid + "\", BSSID: 02:00:00:00:01:00, MAC: " + env.macAddress + ", IP: /" +
           *env.wlanAddress +
           ", Security type: 2, Supplicant state: COMPLETED, Wi-Fi standard: 5, RSSI: -52, Link speed: 433Mbps, "
           "Tx Link speed: 433Mbps, Rx Link speed: 390Mbps, Frequency: 5180MHz, Net ID: 0, Metered hint: false, "
           "score: 60";
}

ShellResult cmd(const std::vector<std::string>& words, const ShellEnvironment& env) {
    if (words.size() < 2) return failure("cmd: No service specified; use -l to list all services\n", 20);
    if (words[1] != "wifi") return failure("cmd: Can't find service: " + words[1] + "\n", 20);
    if (env.cmdWifi == CmdWifiMode::unsupported) return failure("cmd: Can't find service: wifi\n", 20);
    if (words.size() < 3 || words[2] != "status") {
        return failure("Unknown command: " + (words.size() > 2 ? words[2] : std::string()) + "\n", 255);
    }
    const bool known = env.cmdWifi == CmdWifiMode::answers && env.ssid && env.wlanAddress;
    std::string text =
        "Wifi is enabled\nWifi scanning is always available\n==== Primary ClientModeManager instance ====\n";
    text += known ? "Wifi is connected to \"" + *env.ssid + "\"\n" : "Wifi is not connected\n";
    text += "WifiInfo: " + wifiInfoLine(env, known) + "\n";
    return output(text);
}

ShellResult dumpsys(const std::vector<std::string>& words, const ShellEnvironment& env) {
    if (words.size() < 2) return output("Currently running services:\n  wifi\n");
    if (words[1] != "wifi") return output("Can't find service: " + words[1] + "\n");
    const bool known = env.ssid && env.wlanAddress;
    std::string text = "Wi-Fi is enabled\nVerbose logging is off\nStay-awake conditions: 0\n\n";
    text += "WifiConfigManager - Log Begin ----\n";
    text += "WifiConfigManager - Log End ----\n\n";
    text += "mWifiInfo " + wifiInfoLine(env, known) + "\n";
    text += "mDhcpResultsParcelable ";
    text += known ? "baseConfiguration IP address " + *env.wlanAddress + "/24 Gateway null DNS servers: [ ] Domains \n"
                  : "null\n";
    text += "mNetworkInfo [type: WIFI[], state: " +
            std::string(known ? "CONNECTED/CONNECTED" : "DISCONNECTED/DISCONNECTED") +
            ", reason: (unspecified), extra: " + (known ? "\"" + *env.ssid + "\"" : std::string("<unknown ssid>")) +
            ", failover: false, available: true, roaming: false]\n";
    text += "\nLatest scan results:\n";
    return output(text);
}

std::string permissionString(std::uint32_t mode) {
    std::string text(10, '-');
    if (S_ISDIR(mode))
        text[0] = 'd';
    else if (S_ISLNK(mode))
        text[0] = 'l';
    else if (S_ISCHR(mode))
        text[0] = 'c';
    else if (S_ISBLK(mode))
        text[0] = 'b';
    else if (S_ISFIFO(mode))
        text[0] = 'p';
    else if (S_ISSOCK(mode))
        text[0] = 's';
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if (mode & (1u << (8 - i))) text[static_cast<std::size_t>(i + 1)] = rwx[i];
    }
    if (mode & S_ISUID) text[3] = (mode & S_IXUSR) ? 's' : 'S';
    if (mode & S_ISGID) text[6] = (mode & S_IXGRP) ? 's' : 'S';
    if (mode & S_ISVTX) text[9] = (mode & S_IXOTH) ? 't' : 'T';
    return text;
}

std::string ownerName(std::uint32_t id) {
    switch (id) {
        case 0:
            return "root";
        case 1015:
            return "sdcard_rw";
        case 1023:
            return "media_rw";
        default:
            break;
    }
    if (id >= 10000 && id < 20000) return "u0_a" + std::to_string(id - 10000);
    return std::to_string(id);
}

std::string formatTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

struct LsRow {
    std::string perms, links, user, group, size, time, name;
};

std::string padLeft(const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}
std::string padRight(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

// toybox pads each column to its widest entry within one listing.
std::string renderRows(const std::vector<LsRow>& rows) {
    std::size_t links = 0, user = 0, group = 0, size = 0;
    for (const auto& row : rows) {
        links = std::max(links, row.links.size());
        user = std::max(user, row.user.size());
        group = std::max(group, row.group.size());
        size = std::max(size, row.size.size());
    }
    std::string text;
    for (const auto& row : rows) {
        text += row.perms + " " + padLeft(row.links, links) + " " + padRight(row.user, user) + " " +
                padRight(row.group, group) + " " + padLeft(row.size, size) + " " + row.time + " " + row.name + "\n";
    }
    return text;
}

LsRow makeRow(const std::string& name, const FileInfo& info, const std::string& linkTarget) {
    LsRow row;
    row.perms = permissionString(info.mode);
    row.links = std::to_string(info.nlink);
    row.user = ownerName(info.uid);
    row.group = ownerName(info.gid);
    row.size = std::to_string(info.size);
    row.time = formatTime(info.mtime);
    row.name = S_ISLNK(info.mode) ? name + " -> " + linkTarget : name;
    return row;
}

std::uint64_t blocksOf(const FileInfo& info) {
    return (info.size + 4095) / 4096 * 4;
}

}  // namespace

ShellResult runLs(const std::vector<std::string>& words, const ShellEnvironment& env) {
    bool longFormat = false, all = false, almostAll = false, directoryItself = false;
    std::vector<std::string> paths;
    bool optionsDone = false;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!optionsDone && word == "--") {
            optionsDone = true;
        } else if (!optionsDone && word.size() > 1 && word[0] == '-') {
            for (std::size_t j = 1; j < word.size(); ++j) {
                switch (word[j]) {
                    case 'l':
                        longFormat = true;
                        break;
                    case 'a':
                        all = true;
                        break;
                    case 'A':
                        almostAll = true;
                        break;
                    case 'd':
                        directoryItself = true;
                        break;
                    case '1':
                        break;
                    default:
                        return failure(std::string("ls: Unknown option '") + word[j] + "'\n", 1);
                }
            }
        } else {
            paths.push_back(word);
        }
    }
    if (paths.empty()) paths.push_back("/");
    if (!env.storage) return failure("ls: /: Permission denied\n", 1);
    const DeviceStorage& storage = *env.storage;

    ShellResult result;
    std::vector<LsRow> fileRows;
    std::vector<std::string> fileNames;
    std::vector<std::pair<std::string, std::vector<DirectoryEntry>>> directories;
    for (const auto& path : paths) {
        FileInfo info;
        // Arguments are looked at without following a final link unless they end with '/'.
        int error = storage.stat(path, false, info);
        if (error == 0 && S_ISLNK(info.mode) && !longFormat && !directoryItself) {
            FileInfo target;
            if (storage.stat(path, true, target) == 0) info = target;
        }
        if (error != 0) {
            result.err += "ls: " + path + ": " + std::strerror(error) + "\n";
            result.exitCode = 1;
            continue;
        }
        if (S_ISDIR(info.mode) && !directoryItself) {
            std::vector<DirectoryEntry> entries;
            error = storage.list(path, entries);
            if (error != 0) {
                result.err += "ls: " + path + ": " + std::strerror(error) + "\n";
                result.exitCode = 1;
                continue;
            }
            directories.emplace_back(path, std::move(entries));
        } else {
            std::string target;
            if (S_ISLNK(info.mode)) storage.readLink(path, target);
            fileRows.push_back(makeRow(path, info, target));
            fileNames.push_back(path);
        }
    }
    if (longFormat)
        result.out += renderRows(fileRows);
    else
        for (const auto& name : fileNames) result.out += name + "\n";
    const bool headers = paths.size() > 1;
    for (auto& [path, entries] : directories) {
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
        if (headers) {
            if (!result.out.empty()) result.out += "\n";
            result.out += path + ":\n";
        }
        std::vector<LsRow> rows;
        std::uint64_t total = 0;
        for (const auto& entry : entries) {
            const bool dotted = entry.name.starts_with('.');
            const bool dotDir = entry.name == "." || entry.name == "..";
            if (dotted && !all && !(almostAll && !dotDir)) continue;
            total += blocksOf(entry.info);
            if (longFormat)
                rows.push_back(makeRow(entry.name, entry.info, entry.linkTarget));
            else
                result.out += entry.name + "\n";
        }
        if (longFormat) result.out += "total " + std::to_string(total) + "\n" + renderRows(rows);
    }
    return result;
}

ShellResult runShellCommand(const std::string& commandLine, const ShellEnvironment& env) {
    if (const auto commands = splitCommandList(commandLine); commands.size() > 1) {
        ShellResult all;
        for (const auto command : commands) {
            ShellResult one = runShellCommand(std::string(command), env);
            all.out += one.out;
            all.err += one.err;
            all.exitCode = one.exitCode;
            all.delay += one.delay;
            all.hang = all.hang || one.hang;
        }
        return all;
    }
    const auto parsed = splitShellWords(commandLine);
    if (!parsed) return failure("/system/bin/sh: syntax error: unterminated quoted string\n", 1);
    const std::vector<std::string>& words = *parsed;
    if (words.empty()) return {};
    const std::string& name = words[0];
    if (name == "getprop") return getprop(words, env);
    if (name == "echo") return echo(words);
    if (name == "ip") return ip(words, env);
    if (name == "cmd") return cmd(words, env);
    if (name == "dumpsys") return dumpsys(words, env);
    if (name == "ls") return runLs(words, env);
    if (name == "true") return {};
    if (name == "false") return failure("", 1);
    if (name == "exit") {
        int status = 0;
        if (words.size() > 1) std::from_chars(words[1].data(), words[1].data() + words[1].size(), status);
        return failure("", status);
    }
    if (name == "sleep") {
        ShellResult result;
        double seconds = 0;
        if (words.size() > 1) seconds = std::strtod(words[1].c_str(), nullptr);
        result.delay = std::chrono::milliseconds(static_cast<long long>(std::max(0.0, seconds) * 1000));
        return result;
    }
    if (name == "mkdir" && env.storage) {
        ShellResult result;
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i].starts_with('-')) continue;
            if (const int error = env.storage->makeDirectories(words[i]); error != 0) {
                result.err += "mkdir: '" + words[i] + "': " + std::strerror(error) + "\n";
                result.exitCode = 1;
            }
        }
        return result;
    }
    if (name == "rm" && env.storage) {
        ShellResult result;
        const bool force = std::find(words.begin(), words.end(), "-f") != words.end();
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i].starts_with('-')) continue;
            const int error = env.storage->remove(words[i]);
            if (error != 0 && !(force && error == ENOENT)) {
                result.err += "rm: " + words[i] + ": " + std::strerror(error) + "\n";
                result.exitCode = 1;
            }
        }
        return result;
    }
    if (name == "cat" && env.storage && words.size() == 2) {
        int error = 0;
        UniqueFd fd = env.storage->openForRead(words[1], error);
        if (!fd) return failure("cat: " + words[1] + ": " + std::strerror(error) + "\n", 1);
        std::string text;
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
        return output(text);
    }
    return failure("/system/bin/sh: " + name + ": inaccessible or not found\n", 127);
}

}  // namespace orvan::sim
