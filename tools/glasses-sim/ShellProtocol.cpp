#include "glasses-sim/ShellProtocol.h"

#include "glasses-sim/ByteOrder.h"

namespace orvan::sim {

std::string encodeShellPacket(ShellPacketId id, std::string_view payload) {
    std::string packet(1, static_cast<char>(id));
    appendU32(packet, static_cast<std::uint32_t>(payload.size()));
    packet.append(payload);
    return packet;
}

std::string encodeShellExit(int status) {
    return encodeShellPacket(ShellPacketId::exit, std::string(1, static_cast<char>(status & 0xff)));
}

std::optional<ShellPacket> ShellPacketDecoder::next() {
    if (error_ || buffer_.size() < 5) return std::nullopt;
    const auto id = static_cast<std::uint8_t>(buffer_[0]);
    const std::uint32_t length = readU32(buffer_, 1);
    if (id > static_cast<std::uint8_t>(ShellPacketId::windowSize)) {
        error_ = "unknown shell packet id " + std::to_string(id);
        return std::nullopt;
    }
    if (length > maxPacket_) {
        error_ = "shell packet of " + std::to_string(length) + " bytes is too large";
        return std::nullopt;
    }
    if (buffer_.size() < 5 + std::size_t{length}) return std::nullopt;
    ShellPacket packet{static_cast<ShellPacketId>(id), buffer_.substr(5, length)};
    buffer_.erase(0, 5 + std::size_t{length});
    return packet;
}

std::optional<ShellRequest> parseShellService(std::string_view service) {
    ShellRequest request;
    if (service.starts_with("exec:")) {
        request.exec = true;
        request.command = std::string(service.substr(5));
        return request;
    }
    if (!service.starts_with("shell")) return std::nullopt;
    const std::size_t colon = service.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view args = service.substr(5, colon - 5);
    if (!args.empty() && args.front() != ',') return std::nullopt;  // "shellfoo:" is not a shell
    request.command = std::string(service.substr(colon + 1));
    // An interactive shell defaults to a pty, a command to raw, as adbd decides.
    request.pty = request.command.empty();
    while (!args.empty()) {
        args.remove_prefix(1);
        const std::size_t comma = args.find(',');
        const std::string_view arg = args.substr(0, comma);
        if (arg == "v2")
            request.v2 = true;
        else if (arg == "raw")
            request.pty = false;
        else if (arg == "pty")
            request.pty = true;
        else if (arg.starts_with("TERM="))
            request.term = std::string(arg.substr(5));
        args = comma == std::string_view::npos ? std::string_view() : args.substr(comma);
    }
    return request;
}

std::optional<std::vector<std::string>> splitShellWords(std::string_view command) {
    std::vector<std::string> words;
    std::string current;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(std::move(current));
            current.clear();
            inWord = false;
        } else if (c == '\'') {
            const std::size_t end = command.find('\'', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            current.append(command.substr(i + 1, end - i - 1));
            i = end;
            inWord = true;
        } else if (c == '"') {
            std::size_t j = i + 1;
            for (; j < command.size() && command[j] != '"'; ++j) {
                if (command[j] == '\\' && j + 1 < command.size() &&
                    (command[j + 1] == '"' || command[j + 1] == '\\' || command[j + 1] == '$')) {
                    ++j;
                }
                current.push_back(command[j]);
            }
            if (j >= command.size()) return std::nullopt;
            i = j;
            inWord = true;
        } else if (c == '\\' && i + 1 < command.size()) {
            current.push_back(command[++i]);
            inWord = true;
        } else {
            current.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(current));
    return words;
}

std::vector<std::string_view> splitCommandList(std::string_view command) {
    std::vector<std::string_view> commands;
    std::size_t start = 0;
    char quote = 0;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
            else if (quote == '"' && c == '\\')
                ++i;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '\\') {
            ++i;
        } else if (c == ';') {
            commands.push_back(command.substr(start, i - start));
            start = i + 1;
        }
    }
    commands.push_back(command.substr(start));
    return commands;
}

}  // namespace orvan::sim
