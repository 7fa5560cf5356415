// The command spine's costs:
//  1. runAdb's overhead over the child's own run: runAdb of a tiny command against posix_spawn +
//     waitpid of the same command, interleaved in one run; medians and their ratio.
//  2. The caller's cost of one activity-log line (median), with the file on the real disk.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "adb/AdbRunner.h"
#include "foundation/ActivityLog.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double spawnAndWait(const std::string& path, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::vector<std::string> all{path};
    all.insert(all.end(), args.begin(), args.end());
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Same plumbing as the runner minus its bookkeeping: output to a pipe nobody reads is
    // replaced by /dev/null so the baseline never blocks.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    auto start = Clock::now();
    pid_t pid;
    int failed = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return -1;
    int status;
    waitpid(pid, &status, 0);
    return micros(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    // The stand-in child: /bin/true by default, or the real adb's client-only "version".
    std::string tool = argc > 1 ? argv[1] : "/bin/true";
    std::vector<std::string> args;
    for (int i = 2; i < argc; ++i) args.emplace_back(argv[i]);
    const int rounds = 400;

    orvan::AdbRunner runner(tool, 15037, nullptr);
    std::vector<double> baseline, spine;
    for (int i = 0; i < rounds; ++i) {
        baseline.push_back(spawnAndWait(tool, args));
        auto start = Clock::now();
        runner.runAdb(args, {.timeout = std::chrono::seconds(10), .check = false});
        spine.push_back(micros(Clock::now() - start));
    }
    double base = median(baseline), ours = median(spine);
    std::printf("runAdb(%s): median %.0f us; posix_spawn+waitpid: median %.0f us; overhead %.0f us; ratio %.2f\n",
                tool.c_str(), ours, base, ours - base, ours / base);

    auto folder = std::filesystem::temp_directory_path() / ("orvan-bench-log-" + std::to_string(getpid()));
    {
        orvan::ActivityLog log(folder);
        std::vector<double> costs;
        std::string message = "$ /usr/bin/adb -P 15037 -s 192.168.1.20:5555 shell getprop ro.product.model";
        for (int i = 0; i < 20000; ++i) {
            auto start = Clock::now();
            log.appendLog(message);
            costs.push_back(micros(Clock::now() - start));
        }
        std::printf(
            "appendLog: median %.1f us, p99 %.1f us over %zu lines\n", median(costs),
            [&] {
                auto c = costs;
                std::sort(c.begin(), c.end());
                return c[c.size() * 99 / 100];
            }(),
            costs.size());
    }
    std::filesystem::remove_all(folder);
    return 0;
}
