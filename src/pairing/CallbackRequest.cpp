#include "pairing/CallbackRequest.h"

#include <algorithm>
#include <cstdint>

#include "foundation/Text.h"
#include "pairing/CallbackLogValue.h"

namespace orvan::callback_request {
namespace {

std::string lowercasedAscii(std::string_view text) {
    return text::lowercased(text);
}

// Content-Length as the glasses' stack wrote it: trimmed of blanks and tabs, an optional sign,
// decimal digits only. Anything else is 0. Saturates instead of overflowing.
int64_t contentLength(std::string_view header) {
    while (!header.empty()) {
        size_t end = header.find("\r\n");
        std::string_view line = header.substr(0, end);
        if (lowercasedAscii(line.substr(0, 15)) == "content-length:") {
            std::string value = text::trimmedOf(line.substr(line.find(':') + 1), " \t");
            bool negative = !value.empty() && value[0] == '-';
            size_t at = !value.empty() && (value[0] == '-' || value[0] == '+') ? 1 : 0;
            if (at == value.size()) return 0;
            int64_t number = 0;
            for (; at < value.size(); ++at) {
                if (value[at] < '0' || value[at] > '9') return 0;
                number = std::min<int64_t>(number * 10 + (value[at] - '0'), int64_t{1} << 40);
            }
            return negative ? -number : number;
        }
        if (end == std::string_view::npos) break;
        header.remove_prefix(end + 2);
    }
    return 0;
}

std::string requestLine(std::string_view request, size_t terminator) {
    if (terminator == std::string_view::npos) return "-";
    std::string_view header = request.substr(0, terminator);
    if (!text::isValidUtf8(header)) return "-";
    return callbackLogValue(header.substr(0, header.find("\r\n")));
}

std::string hexPreview(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < std::min<size_t>(bytes.size(), 64); ++i) {
        if (i) hex += ' ';
        hex += digits[static_cast<unsigned char>(bytes[i]) >> 4];
        hex += digits[static_cast<unsigned char>(bytes[i]) & 15];
    }
    return hex;
}

}  // namespace

std::optional<size_t> expectedRequestLength(std::string_view request) {
    size_t terminator = request.find(kHeaderTerminator);
    if (terminator == std::string_view::npos) return std::nullopt;
    std::string_view header = request.substr(0, terminator);
    // Header text that is not UTF-8 counts as empty, so it announces no body.
    int64_t length = text::isValidUtf8(header) ? contentLength(header) : 0;
    length = std::clamp<int64_t>(length, 0, static_cast<int64_t>(kRequestCap) + 1);
    return terminator + kHeaderTerminator.size() + static_cast<size_t>(length);
}

bool isComplete(std::string_view request) {
    if (request.size() > kRequestCap) return true;
    auto expected = expectedRequestLength(request);
    return expected && request.size() >= *expected;
}

std::string bodyPreview(std::optional<std::string_view> body) {
    if (!body || body->empty()) return "-";
    std::string_view head = body->substr(0, 512);
    if (!text::isValidUtf8(head)) return hexPreview(*body);
    std::string preview;
    for (char c : head) {
        if (c == '\r') {
            preview += "\\r";
        } else if (c == '\n') {
            preview += "\\n";
        } else {
            preview += c;
        }
    }
    return preview;
}

Outcome interpret(std::string_view request, std::string_view callbackPath, std::string_view readFailure) {
    if (request.empty()) {
        return {400, std::nullopt,
                "无线 ADB 回调 400: 读取请求失败: " + std::string(readFailure) + "; requestLine=-; bodyPreview=-"};
    }
    size_t terminator = request.find(kHeaderTerminator);
    std::optional<std::string_view> body;
    if (terminator != std::string_view::npos) body = request.substr(terminator + kHeaderTerminator.size());
    std::string prefix = "POST " + std::string(callbackPath) + " ";
    bool matches = terminator != std::string_view::npos && text::isValidUtf8(request.substr(0, terminator)) &&
                   request.substr(0, terminator).substr(0, prefix.size()) == prefix;
    if (!matches) {
        return {404, std::nullopt,
                "无线 ADB 回调 404: 路径或方法不匹配; requestLine=" + requestLine(request, terminator) +
                    "; bodyPreview=" + bodyPreview(body)};
    }
    auto decoded = WirelessAdbCallback::decode(*body);
    if (auto* error = std::get_if<std::string>(&decoded)) {
        return {400, std::nullopt,
                "无线 ADB 回调 400: JSON decode 失败: " + callbackLogValue(*error) +
                    "; requestLine=" + requestLine(request, terminator) + "; bodyPreview=" + bodyPreview(body)};
    }
    return {200, std::get<WirelessAdbCallback>(std::move(decoded)), {}};
}

std::string responseBytes(int status, std::string_view body) {
    const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + std::string(body);
}

}  // namespace orvan::callback_request
