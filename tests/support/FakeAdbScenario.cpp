#include "support/FakeAdbScenario.h"

#include <algorithm>
#include <stdexcept>

namespace orvan::testing {

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

// The first rule whose `when` variables and pattern fit, if any.
std::optional<size_t> findRule(const FakeAdbScenario& scenario, const std::map<std::string, std::string>& variables,
                               const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < scenario.rules.size(); ++i) {
        const auto& rule = scenario.rules[i];
        bool applies = std::all_of(rule.when.begin(), rule.when.end(), [&](const auto& wanted) {
            auto it = variables.find(wanted.first);
            return (it == variables.end() ? std::string() : it->second) == wanted.second;
        });
        if (applies && matchFrom(rule.match, 0, arguments, 0)) return i;
    }
    return std::nullopt;
}

// Decodes "0aff" into bytes; throws std::invalid_argument on a non-hex digit.
std::string bytesFromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

}  // namespace

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

}  // namespace orvan::testing
