#include "support/FakeAdb.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "foundation/Text.h"

#ifndef ORVAN_FAKE_ADB_EXECUTABLE
#error "ORVAN_FAKE_ADB_EXECUTABLE must name the built fake-adb"
#endif

namespace orvan::testing {

namespace fs = std::filesystem;

namespace {

// Holds the fake's folder lock, so the test never reads or resets half-written state.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder)
        : fd_(open((folder / kFakeAdbLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) flock(fd_, LOCK_EX);
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

}  // namespace

FakeAdbRuleBuilder& FakeAdbRuleBuilder::when(const std::string& variable, const std::string& value) {
    fake_.scenario_.rules[index_].when[variable] = value;
    return changed();
}

FakeAdbRuleBuilder& FakeAdbRuleBuilder::reply(const std::string& output, int status) {
    FakeAdbResponse response;
    response.output = output;
    response.status = status;
    fake_.scenario_.rules[index_].responses.push_back(response);
    return changed();
}

FakeAdbRuleBuilder& FakeAdbRuleBuilder::replyBytes(const std::string& bytes, int status) {
    static constexpr char digits[] = "0123456789abcdef";
    FakeAdbResponse response;
    for (unsigned char c : bytes) {
        response.outputHex.push_back(digits[c >> 4]);
        response.outputHex.push_back(digits[c & 15]);
    }
    response.status = status;
    fake_.scenario_.rules[index_].responses.push_back(response);
    return changed();
}

FakeAdbRuleBuilder& FakeAdbRuleBuilder::changed() {
    fake_.writeScenario();
    return *this;
}

FakeAdbResponse& FakeAdbRuleBuilder::latest() {
    auto& responses = fake_.scenario_.rules[index_].responses;
    if (responses.empty()) responses.emplace_back();
    return responses.back();
}

FakeAdbRuleBuilder& FakeAdbRuleBuilder::sets(const std::string& variable, const std::string& value) {
    latest().set[variable] = value;
    return changed();
}

FakeAdbRuleBuilder& FakeAdbRuleBuilder::hangs() {
    latest().hang = true;
    return changed();
}

FakeAdbRuleBuilder& FakeAdbRuleBuilder::repeated(int times) {
    latest().repeat = times;
    return changed();
}

FakeAdb::FakeAdb() : folder_(dir_.path()) {
    fs::create_symlink(ORVAN_FAKE_ADB_EXECUTABLE, folder_ / "adb");
    std::ofstream(folder_ / "scrcpy") << "#!/bin/sh\nexit 1\n";
    writeScenario();
}

FakeAdbRuleBuilder FakeAdb::on(std::vector<std::string> pattern) {
    scenario_.rules.push_back(FakeAdbRule{std::move(pattern), {}, {}});
    writeScenario();
    return FakeAdbRuleBuilder(*this, scenario_.rules.size() - 1);
}

void FakeAdb::setVariable(const std::string& name, const std::string& value) {
    scenario_.variables[name] = value;
    writeScenario();
    if (std::lock_guard memory(memoryMutex_); memory_) memory_->variables[name] = value;
    FolderLock lock(folder_);
    std::string stateText = readWholeFile(folder_ / kFakeAdbStateFile);
    if (stateText.empty()) return;  // the first run starts from the scenario's variables
    auto state = nlohmann::json::parse(stateText).get<FakeAdbState>();
    state.variables[name] = value;
    std::ofstream(folder_ / kFakeAdbStateFile, std::ios::trunc) << nlohmann::json(state).dump();
}

void FakeAdb::writeScenario() const {
    FolderLock lock(folder_);
    auto temporary = folder_ / "scenario.tmp";
    std::ofstream(temporary, std::ios::trunc) << nlohmann::json(scenario_).dump(2);
    fs::rename(temporary, folder_ / kFakeAdbScenarioFile);
}

std::vector<FakeAdbCall> FakeAdb::calls() const {
    std::string contents;
    {
        FolderLock lock(folder_);
        contents = readWholeFile(folder_ / kFakeAdbCallsFile);
    }
    std::vector<FakeAdbCall> calls;
    std::map<int, size_t> byPid;
    for (const auto& line : text::splitLines(contents)) {
        auto record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.contains("event")) continue;  // a line cut short by a kill
        std::string event = record["event"].get<std::string>();
        int pid = record.value("pid", 0);
        if (event == "start") {
            byPid[pid] = calls.size();
            calls.push_back(record.get<FakeAdbCall>());
        } else if (auto it = byPid.find(pid); it != byPid.end()) {
            calls[it->second].terminated = event == "terminated";
        }
    }
    std::lock_guard memory(memoryMutex_);
    calls.insert(calls.end(), memoryCalls_.begin(), memoryCalls_.end());
    return calls;
}

std::vector<std::string> FakeAdb::commandLines() const {
    std::vector<std::string> lines;
    for (const auto& call : calls()) lines.push_back(text::joined(call.arguments, " "));
    return lines;
}

std::vector<FakeAdbCall> FakeAdb::unmatchedCalls() const {
    std::vector<FakeAdbCall> unmatched;
    for (auto& call : calls())
        if (call.rule < 0) unmatched.push_back(std::move(call));
    return unmatched;
}

std::function<FiniteRun(const ProcessSpec&, std::chrono::duration<double>)> FakeAdb::inProcess() {
    return [this](const ProcessSpec& spec, std::chrono::duration<double> timeout) {
        std::lock_guard memory(memoryMutex_);
        if (!memory_) memory_ = FakeAdbState{{}, scenario_.variables};
        FakeAdbCall call;
        call.arguments = spec.arguments;
        call.timeout = timeout.count();
        FakeAdbResponse response = takeResponse(scenario_, *memory_, call);
        const bool timedOut = response.hang;
        call.terminated = timedOut;
        memoryCalls_.push_back(call);
        return timedOut ? FiniteRun{true, 0, ""} : FiniteRun{false, response.status, responseBytes(response)};
    };
}

}  // namespace orvan::testing
