#pragma once

#include <string>

namespace orvan {

// A new random UUID (version 4) in upper-case canonical form, from the system's random source:
// one per QR code, so a guessed or replayed id cannot reach another session.
std::string makeSessionId();

}  // namespace orvan
