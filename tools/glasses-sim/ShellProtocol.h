#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvan::sim {

// Packet ids of the v2 shell protocol: id (u8), length (u32 LE), payload.
enum class ShellPacketId : std::uint8_t {
    stdinData = 0,
    stdoutData = 1,
    stderrData = 2,
    exit = 3,
    closeStdin = 4,
    windowSize = 5
};

struct ShellPacket {
    ShellPacketId id = ShellPacketId::stdoutData;
    std::string payload;
};

std::string encodeShellPacket(ShellPacketId id, std::string_view payload);
std::string encodeShellExit(int status);

// Incremental decoder for what the host sends on a v2 shell stream; packets may be split or
// packed across WRTEs. Lengths above `maxPacket` are an error (a host never sends them).
class ShellPacketDecoder {
public:
    explicit ShellPacketDecoder(std::uint32_t maxPacket = 1024 * 1024) : maxPacket_(maxPacket) {}
    void feed(std::string_view bytes) { buffer_.append(bytes); }
    std::optional<ShellPacket> next();
    const std::optional<std::string>& error() const { return error_; }

private:
    std::uint32_t maxPacket_;
    std::string buffer_;
    std::optional<std::string> error_;
};

// A parsed "shell[,args]:command" or "exec:command" service string.
struct ShellRequest {
    bool v2 = false;
    bool pty = false;
    bool exec = false;  // exec: raw stream, no packets, no pty
    std::optional<std::string> term;
    std::string command;
};

// Nothing for a service that is not a shell. The split is at the first ':' so that commands
// may contain colons; unknown arguments are ignored like adbd does.
std::optional<ShellRequest> parseShellService(std::string_view service);

// Splits a command line like a POSIX shell would for the simple commands the glasses are asked
// to run: blanks separate words, single and double quotes group, backslash escapes. An
// unterminated quote is reported as nothing.
std::optional<std::vector<std::string>> splitShellWords(std::string_view command);

// The commands of a list "a; b; c" (a ";" inside quotes or after a backslash is text), so that
// a path pasted unquoted into a command line runs what a real shell would run.
std::vector<std::string_view> splitCommandList(std::string_view command);

}  // namespace orvan::sim
