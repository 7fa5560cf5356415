// The `adb` of a test world's tool folder: records how it was called, then becomes the real
// adb. Its settings sit next to it in orvan-adb-trace.conf ("real=PATH" and "trace=PATH"), so
// the copy works wherever the app under test finds it and whatever environment it passes on.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    std::ifstream conf(self.parent_path() / "orvan-adb-trace.conf");
    std::string real, trace, line;
    while (std::getline(conf, line)) {
        if (line.starts_with("real="))
            real = line.substr(5);
        else if (line.starts_with("trace="))
            trace = line.substr(6);
    }
    if (real.empty()) {
        std::fprintf(stderr, "adb (test tracer): no orvan-adb-trace.conf next to %s\n", self.c_str());
        return 127;
    }
    if (!trace.empty()) {
        nlohmann::json record;
        record["args"] = std::vector<std::string>(argv + 1, argv + argc);
        const std::string text = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        // One append per invocation keeps concurrent records whole.
        const int fd = open(trace.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t written = write(fd, text.data(), text.size());
            close(fd);
        }
    }
    argv[0] = const_cast<char*>(real.c_str());
    execv(real.c_str(), argv);
    std::fprintf(stderr, "adb (test tracer): cannot run %s: %s\n", real.c_str(), std::strerror(errno));
    return 127;
}
