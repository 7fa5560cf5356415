#include "support/AdbTrace.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace orvan::testing {
namespace {

// Global options of adb 29 that take a value.
bool takesValue(const std::string& option) {
    return option == "-s" || option == "-P" || option == "-H" || option == "-L" || option == "-t";
}

std::optional<std::string> optionValue(const std::vector<std::string>& args, const std::string& option) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!args[i].starts_with("-")) break;
        if (args[i] == option && i + 1 < args.size()) return args[i + 1];
        if (takesValue(args[i])) ++i;
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> AdbInvocation::command() const {
    std::size_t i = 0;
    while (i < args.size() && args[i].starts_with("-")) i += takesValue(args[i]) ? 2 : 1;
    return std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(std::min(i, args.size())), args.end());
}

std::optional<std::string> AdbInvocation::serverPort() const {
    return optionValue(args, "-P");
}

std::string AdbInvocation::commandLine() const {
    std::string line = "adb";
    for (const auto& arg : args) line += " " + arg;
    return line;
}

std::vector<AdbInvocation> readAdbTrace(const std::filesystem::path& path) {
    std::vector<AdbInvocation> result;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        try {
            const nlohmann::json json = nlohmann::json::parse(line);
            AdbInvocation invocation;
            invocation.args = json.at("args").get<std::vector<std::string>>();
            result.push_back(std::move(invocation));
        } catch (const nlohmann::json::exception&) {
        }
    }
    return result;
}

}  // namespace orvan::testing
