#include "foundation/Text.h"

#include <algorithm>
#include <array>

namespace orvan::text {

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        unsigned int min;
        unsigned int code;
        if ((c & 0xE0) == 0xC0)
            length = 2, min = 0x80, code = c & 0x1F;
        else if ((c & 0xF0) == 0xE0)
            length = 3, min = 0x800, code = c & 0x0F;
        else if ((c & 0xF8) == 0xF0)
            length = 4, min = 0x10000, code = c & 0x07;
        else
            return false;
        if (i + length > n) return false;
        for (size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

namespace {

// Length of a white-space character starting (or ending) at the given position, 0 if none.
constexpr std::array<std::string_view, 8> kUnicodeSpaces = {"\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80",
                                                            "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
                                                            "\xE2\x81\x9F", "\xE3\x80\x80"};

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

size_t leadingSpace(std::string_view s) {
    if (s.empty()) return 0;
    if (isAsciiSpace(s.front())) return 1;
    for (auto space : kUnicodeSpaces)
        if (s.starts_with(space)) return space.size();
    if (s.size() >= 3 && s.substr(0, 2) == "\xE2\x80" && static_cast<unsigned char>(s[2]) <= 0x8A)
        return 3;  // U+2000..U+200A
    return 0;
}

size_t trailingSpace(std::string_view s) {
    if (s.empty()) return 0;
    if (isAsciiSpace(s.back())) return 1;
    for (auto space : kUnicodeSpaces)
        if (s.ends_with(space)) return space.size();
    if (s.size() >= 3) {
        auto tail = s.substr(s.size() - 3);
        if (tail.substr(0, 2) == "\xE2\x80" && static_cast<unsigned char>(tail[2]) <= 0x8A) return 3;
    }
    return 0;
}

}  // namespace

std::string trimmed(std::string_view text) {
    while (size_t k = leadingSpace(text)) text.remove_prefix(k);
    while (size_t k = trailingSpace(text)) text.remove_suffix(k);
    return std::string(text);
}

std::string decodedTrimmed(std::string_view bytes) {
    return isValidUtf8(bytes) ? trimmed(bytes) : std::string();
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return result;
}

std::string uppercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    return result;
}

bool containsIgnoringCase(std::string_view haystack, std::string_view needle) {
    return lowercased(haystack).find(lowercased(needle)) != std::string::npos;
}

bool containsAnyPhrase(std::string_view text, std::span<const std::string_view> phrases) {
    std::string lower = lowercased(text);
    return std::any_of(phrases.begin(), phrases.end(),
                       [&](std::string_view phrase) { return lower.find(phrase) != std::string::npos; });
}

bool containsAnyPhrase(std::string_view text, std::initializer_list<std::string_view> phrases) {
    return containsAnyPhrase(text, std::span<const std::string_view>(phrases.begin(), phrases.size()));
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) result += separator;
        result += parts[i];
    }
    return result;
}

std::vector<std::string> splitFields(std::string_view text, std::string_view separators) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        start = text.find_first_not_of(separators, start);
        if (start == std::string_view::npos) break;
        size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        fields.emplace_back(text.substr(start, end - start));
        start = end;
    }
    return fields;
}

std::string trimmedOf(std::string_view text, std::string_view characters) {
    size_t first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(characters);
    return std::string(text.substr(first, last - first + 1));
}

std::string withoutTerminalControls(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0x1B && i + 1 < text.size() && text[i + 1] == '[') {
            // CSI: parameters and intermediates up to a final byte in @..~
            i += 2;
            while (i < text.size() && !(text[i] >= 0x40 && text[i] <= 0x7E)) ++i;
            i += i < text.size() ? 1 : 0;
        } else if (c == 0x1B && i + 1 < text.size() && text[i + 1] == ']') {
            // OSC: up to BEL or ESC backslash
            i += 2;
            while (i < text.size() && text[i] != '\a' && !(text[i] == 0x1B && i + 1 < text.size() && text[i + 1] == '\\'))
                ++i;
            i += i < text.size() && text[i] == '\a' ? 1 : (i < text.size() ? 2 : 0);
        } else if (c == 0x1B) {
            // Any other escape: intermediates (space to '/') up to one final byte, e.g. ESC ( B.
            ++i;
            while (i < text.size() && text[i] >= 0x20 && text[i] <= 0x2F) ++i;
            i += i < text.size() ? 1 : 0;
        } else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
            ++i;
        } else {
            plain.push_back(text[i++]);
        }
    }
    return plain;
}

}  // namespace orvan::text
