#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace orvan::sim {

// Little-endian helpers for the wire formats (x86 and ARM hosts are little-endian, but the
// formats are defined byte by byte, so say so explicitly).
inline std::uint32_t readU32(std::string_view bytes, std::size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

inline std::uint64_t readU64(std::string_view bytes, std::size_t offset) {
    return std::uint64_t{readU32(bytes, offset)} | std::uint64_t{readU32(bytes, offset + 4)} << 32;
}

inline void appendU32(std::string& out, std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
                           static_cast<char>((value >> 16) & 0xff), static_cast<char>((value >> 24) & 0xff)};
    out.append(bytes, 4);
}

inline void appendU64(std::string& out, std::uint64_t value) {
    appendU32(out, static_cast<std::uint32_t>(value & 0xffffffffu));
    appendU32(out, static_cast<std::uint32_t>(value >> 32));
}

inline std::string fourCc(std::uint32_t id) {
    std::string text;
    appendU32(text, id);
    return text;
}

inline constexpr std::uint32_t makeId(const char (&text)[5]) {
    return std::uint32_t{static_cast<unsigned char>(text[0])} |
           std::uint32_t{static_cast<unsigned char>(text[1])} << 8 |
           std::uint32_t{static_cast<unsigned char>(text[2])} << 16 |
           std::uint32_t{static_cast<unsigned char>(text[3])} << 24;
}

}  // namespace orvan::sim
