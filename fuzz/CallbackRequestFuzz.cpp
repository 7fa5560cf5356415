// libFuzzer target: arbitrary bytes through the callback endpoint's request reader and decoder,
// read the way the server reads a socket (chunks, stop when complete or past the cap).
#include <cstddef>
#include <cstdint>
#include <string>

#include "pairing/CallbackRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace request = orvan::callback_request;
    // The first byte picks the chunk size, so splits at every offset are explored.
    size_t chunk = size > 0 ? (data[0] % 64) + 1 : 1;
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string held;
    for (size_t at = 0; at < input.size() && !request::isComplete(held); at += chunk) {
        held.append(input, at, chunk);
    }
    if (held.size() > request::kRequestCap + 64) __builtin_trap();  // reading must stop at the cap
    auto outcome = request::interpret(held, "/orvan/wireless-adb/callback", "empty");
    if (outcome.status != 200 && outcome.status != 400 && outcome.status != 404) __builtin_trap();
    if (outcome.logLine.find('\n') != std::string::npos) __builtin_trap();  // one log line, always
    if (outcome.status == 200 && !outcome.callback) __builtin_trap();
    return 0;
}
