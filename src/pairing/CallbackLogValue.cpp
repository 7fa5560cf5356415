#include "pairing/CallbackLogValue.h"

#include "foundation/Text.h"

namespace orvan {

std::string callbackLogValue(std::optional<std::string_view> value) {
    if (!value) return "-";
    std::string cleaned(*value);
    // Bytes that are not UTF-8 (a parser's error text quotes them) would spoil the log file.
    bool utf8 = text::isValidUtf8(cleaned);
    for (char& c : cleaned) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = ' ';
        if (byte >= 0x80 && !utf8) c = '?';
    }
    cleaned = text::trimmed(cleaned);
    if (cleaned.empty()) return "-";
    // Cut after 300 characters: count UTF-8 lead bytes, never split a sequence.
    size_t characters = 0;
    for (size_t i = 0; i < cleaned.size(); ++i) {
        if ((static_cast<unsigned char>(cleaned[i]) & 0xC0) == 0x80) continue;
        if (++characters > 300) return cleaned.substr(0, i);
    }
    return cleaned;
}

}  // namespace orvan
