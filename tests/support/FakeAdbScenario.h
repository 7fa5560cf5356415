#pragma once

// The scenario a scripted fake `adb` replays, shared by the fake executable (which reads it on
// every run) and the test-side FakeAdb (which writes it). See FakeAdb.h for the whole picture.

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace orvan::testing {

// What one run of the fake prints and how it ends.
struct FakeAdbResponse {
    std::string output;                      // printed to stdout as is
    std::string outputHex;                   // raw bytes in hex, printed after `output` (for non-UTF-8 output)
    int repeat = 1;                          // the output is printed this many times (huge output)
    int status = 0;                          // exit status
    bool hang = false;                       // never exit on its own (the caller's time-out must end it)
    std::map<std::string, std::string> set;  // scenario variables changed by this run

    bool operator==(const FakeAdbResponse&) const = default;
};

// A rule applies to an argument list that `match` describes element by element: a literal, "*"
// (any one argument) or "**" (any number of arguments, also none), and only while every variable
// of `when` has the given value ("" also matches an unset variable). Successive runs of one rule
// take its responses in order; the last one repeats (a rule without responses exits 0 silently).
struct FakeAdbRule {
    std::vector<std::string> match;
    std::map<std::string, std::string> when;
    std::vector<FakeAdbResponse> responses;
};

struct FakeAdbScenario {
    std::vector<FakeAdbRule> rules;                // the first applicable rule wins
    std::map<std::string, std::string> variables;  // initial values
    // What a run that no rule matches does; it is recorded with rule -1.
    FakeAdbResponse unmatched{"fake adb: no rule for these arguments", "", 1, 1, false, {}};
};

// The mutable part, kept beside the scenario: how often each rule ran, and the variables now.
struct FakeAdbState {
    std::vector<int> runs;
    std::map<std::string, std::string> variables;
};

// One recorded run.
struct FakeAdbCall {
    std::vector<std::string> arguments;  // without argv[0]
    int rule = -1;                       // index of the rule that answered, -1 when none did
    int response = -1;                   // index of the response within that rule
    int pid = 0;
    bool terminated = false;  // a signal ended it (the caller's time-out)
    double timeout = 0;       // in-process runs only: the time-out the caller asked for
};

// One run's response: the first applicable rule's next one (the last repeats), else `unmatched`.
// Counts the run in `state`, applies the response's variable changes, notes rule and response in
// `call`.
FakeAdbResponse takeResponse(const FakeAdbScenario& scenario, FakeAdbState& state, FakeAdbCall& call);
// What a response prints: its output and hex bytes, `repeat` times.
std::string responseBytes(const FakeAdbResponse& response);

// Missing keys keep their defaults.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FakeAdbResponse, output, outputHex, repeat, status, hang, set)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FakeAdbRule, match, when, responses)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FakeAdbScenario, rules, variables, unmatched)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FakeAdbState, runs, variables)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FakeAdbCall, arguments, rule, response, pid, terminated, timeout)

// File names inside the fake's folder.
inline constexpr const char* kFakeAdbScenarioFile = "fake-adb-scenario.json";
inline constexpr const char* kFakeAdbStateFile = "fake-adb-state.json";
inline constexpr const char* kFakeAdbCallsFile = "fake-adb-calls.jsonl";
inline constexpr const char* kFakeAdbLockFile = "fake-adb.lock";
// Overrides the folder (otherwise the folder of argv[0], the link the tests run).
inline constexpr const char* kFakeAdbFolderVariable = "ORVAN_FAKE_ADB_DIR";

}  // namespace orvan::testing
