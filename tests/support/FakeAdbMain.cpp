// fake-adb: plays `adb` for process-boundary tests by replaying the scenario in its folder and
// recording every run. The folder is $ORVAN_FAKE_ADB_DIR, else the folder of argv[0] (tests run
// it through a link named "adb" in a temporary tool folder). See FakeAdb.h.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/FakeAdbScenario.h"

namespace {

namespace fs = std::filesystem;
using namespace orvan::testing;

// The calls file, kept open for the termination handler, which may only use write().
int callsFd = -1;
char terminationLine[96];
size_t terminationLineLength = 0;

void onTerminate(int signal) {
    if (callsFd >= 0 && terminationLineLength > 0) {
        ssize_t ignored = write(callsFd, terminationLine, terminationLineLength);
        (void)ignored;
    }
    _exit(128 + signal);
}

void writeFileAtomically(const fs::path& path, const std::string& contents) {
    auto temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << contents;
    }
    fs::rename(temporary, path);
}

void appendLine(const std::string& line) {
    std::string withNewline = line + "\n";
    ssize_t ignored = write(callsFd, withNewline.data(), withNewline.size());
    (void)ignored;
}

fs::path fakeFolder(const char* argv0) {
    if (const char* folder = std::getenv(kFakeAdbFolderVariable); folder && *folder) return folder;
    fs::path self(argv0);
    return self.has_parent_path() ? self.parent_path() : fs::current_path();
}

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;  // the reader went away: nothing more to say
        done += static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    fs::path folder = fakeFolder(argv[0]);
    std::vector<std::string> arguments(argv + 1, argv + argc);

    int lockFd = open((folder / kFakeAdbLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    callsFd = open((folder / kFakeAdbCallsFile).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0 || callsFd < 0) {
        std::fprintf(stderr, "fake adb: cannot use folder %s\n", folder.c_str());
        return 2;
    }

    FakeAdbResponse response;
    FakeAdbCall call;
    try {
        flock(lockFd, LOCK_EX);
        FakeAdbScenario scenario =
            nlohmann::json::parse(readWholeFile(folder / kFakeAdbScenarioFile)).get<FakeAdbScenario>();
        FakeAdbState state;
        std::string stateText = readWholeFile(folder / kFakeAdbStateFile);
        if (stateText.empty())
            state.variables = scenario.variables;
        else
            state = nlohmann::json::parse(stateText).get<FakeAdbState>();
        call.arguments = arguments;
        call.pid = static_cast<int>(getpid());
        response = takeResponse(scenario, state, call);
        writeFileAtomically(folder / kFakeAdbStateFile, nlohmann::json(state).dump());

        nlohmann::json start = call;
        start["event"] = "start";
        appendLine(start.dump());
        flock(lockFd, LOCK_UN);
    } catch (const std::exception& error) {
        flock(lockFd, LOCK_UN);
        std::fprintf(stderr, "fake adb: bad scenario in %s: %s\n", folder.c_str(), error.what());
        return 2;
    }

    terminationLineLength = static_cast<size_t>(
        std::snprintf(terminationLine, sizeof terminationLine, "{\"event\":\"terminated\",\"pid\":%d}\n", call.pid));
    std::signal(SIGTERM, onTerminate);
    std::signal(SIGINT, onTerminate);

    while (response.hang) pause();

    std::string bytes;
    try {
        bytes = responseBytes(response);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fake adb: bad outputHex: %s\n", error.what());
        return 2;
    }
    writeAll(STDOUT_FILENO, bytes);

    return response.status;
}
