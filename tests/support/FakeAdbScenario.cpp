#include "support/FakeAdbScenario.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orvan::testing {

using nlohmann::json;

namespace {

bool matchFrom(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& arguments, size_t a) {
    if (p == pattern.size()) return a == arguments.size();
    if (pattern[p] == "**") {
        for (size_t skip = a; skip <= arguments.size(); ++skip)
            if (matchFrom(pattern, p + 1, arguments, skip)) return true;
        return false;
    }
    if (a == arguments.size()) return false;
    if (pattern[p] != "*" && pattern[p] != arguments[a]) return false;
    return matchFrom(pattern, p + 1, arguments, a + 1);
}

template <typename T>
void readIfPresent(const json& object, const char* key, T& value) {
    if (auto it = object.find(key); it != object.end()) it->get_to(value);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("not a hex digit");
}

}  // namespace

bool argumentsMatch(const std::vector<std::string>& pattern, const std::vector<std::string>& arguments) {
    return matchFrom(pattern, 0, arguments, 0);
}

std::optional<size_t> findRule(const FakeAdbScenario& scenario, const std::map<std::string, std::string>& variables,
                               const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < scenario.rules.size(); ++i) {
        const auto& rule = scenario.rules[i];
        bool applies = true;
        for (const auto& [name, value] : rule.when) {
            auto it = variables.find(name);
            std::string current = it == variables.end() ? std::string() : it->second;
            if (current != value) {
                applies = false;
                break;
            }
        }
        if (applies && argumentsMatch(rule.match, arguments)) return i;
    }
    return std::nullopt;
}

std::string bytesFromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(hexDigit(hex[i]) * 16 + hexDigit(hex[i + 1])));
    return bytes;
}

FakeAdbResponse takeResponse(const FakeAdbScenario& scenario, FakeAdbState& state, FakeAdbCall& call) {
    state.runs.resize(scenario.rules.size(), 0);
    FakeAdbResponse response = scenario.unmatched;
    if (auto rule = findRule(scenario, state.variables, call.arguments)) {
        const auto& responses = scenario.rules[*rule].responses;
        size_t last = responses.empty() ? 0 : responses.size() - 1;
        size_t index = std::min<size_t>(static_cast<size_t>(state.runs[*rule]++), last);
        response = responses.empty() ? FakeAdbResponse{} : responses[index];
        call.rule = static_cast<int>(*rule);
        call.response = static_cast<int>(index);
    }
    for (const auto& [name, value] : response.set) state.variables[name] = value;
    return response;
}

std::string responseBytes(const FakeAdbResponse& response) {
    std::string once = response.output + bytesFromHex(response.outputHex), bytes;
    for (int i = 0; i < response.repeat; ++i) bytes += once;
    return bytes;
}

std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void to_json(json& j, const FakeAdbRule& rule) {
    j = json{{"match", rule.match}, {"when", rule.when}, {"responses", rule.responses}};
}

void from_json(const json& j, FakeAdbRule& rule) {
    j.at("match").get_to(rule.match);
    readIfPresent(j, "when", rule.when);
    readIfPresent(j, "responses", rule.responses);
    if (rule.responses.empty()) rule.responses.emplace_back();  // a rule without responses exits 0 silently
}

void to_json(json& j, const FakeAdbCall& c) {
    j = json{{"arguments", c.arguments},
             {"environment", c.environment},
             {"rule", c.rule},
             {"response", c.response},
             {"pid", c.pid},
             {"startedAt", c.startedAt},
             {"terminated", c.terminated}};
    if (c.endedAt) j["endedAt"] = *c.endedAt;
}

void from_json(const json& j, FakeAdbCall& c) {
    readIfPresent(j, "arguments", c.arguments);
    readIfPresent(j, "environment", c.environment);
    readIfPresent(j, "rule", c.rule);
    readIfPresent(j, "response", c.response);
    readIfPresent(j, "pid", c.pid);
    readIfPresent(j, "startedAt", c.startedAt);
    readIfPresent(j, "terminated", c.terminated);
    if (j.contains("endedAt")) c.endedAt = j.at("endedAt").get<double>();
}

}  // namespace orvan::testing
