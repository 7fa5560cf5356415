#include "pairing/SessionId.h"

#include <sys/random.h>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace orvan {

std::string makeSessionId() {
    std::array<uint8_t, 16> bytes{};
    size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n > 0) filled += static_cast<size_t>(n);
        // Only an interrupted call can come back short; the kernel's pool never runs dry.
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static const char* digits = "0123456789ABCDEF";
    std::string id;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
        id += digits[bytes[i] >> 4];
        id += digits[bytes[i] & 15];
    }
    return id;
}

}  // namespace orvan
