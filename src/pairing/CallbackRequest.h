#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "pairing/WirelessAdbCallback.h"

namespace orvan {

// The HTTP side of the callback endpoint without sockets: when a request is complete, and what
// the answer to the bytes read is. One request per connection, no keep-alive, no chunking.
namespace callback_request {

inline constexpr std::string_view kHeaderTerminator = "\r\n\r\n";
inline constexpr size_t kChunkSize = 8192;
// Reading stops once more than this many bytes are held.
inline constexpr size_t kRequestCap = 65535;

// Bytes a complete request holds: the end of the header block plus its Content-Length. Nothing
// while the header block is incomplete. A missing or non-numeric length counts as 0; the value is
// parsed without exceptions and clamped to 0..kRequestCap + 1, so no header can overflow the sum.
std::optional<size_t> expectedRequestLength(std::string_view request);

// Whether reading can stop: more than the cap held, or everything the header announced.
bool isComplete(std::string_view request);

// One log line's worth of body: up to 512 bytes of text with CR and LF escaped, else the first
// 64 bytes in hex; "-" for none or empty.
std::string bodyPreview(std::optional<std::string_view> body);

// What to do with the bytes of one connection.
struct Outcome {
    int status = 400;                             // 200, 400 or 404
    std::optional<WirelessAdbCallback> callback;  // set when status is 200: the decoded request
    std::string logLine;                          // the rejection line for 400 and 404
};

// Interprets what was read: empty (the read failure text given), not the callback path (404),
// a body that does not decode (400), or a callback to hand on.
Outcome interpret(std::string_view request, std::string_view callbackPath, std::string_view readFailure);

// The exact reply bytes: status line, three headers, body.
std::string responseBytes(int status, std::string_view body);

}  // namespace callback_request
}  // namespace orvan
