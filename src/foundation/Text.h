#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvan::text {

bool isValidUtf8(std::string_view bytes);
// Trims white space and newlines at both ends (ASCII white space and the Unicode spaces a
// device or tool may print: NBSP, ideographic space, ...).
std::string trimmed(std::string_view text);
// The bytes as text: trimmed when valid UTF-8, empty otherwise.
std::string decodedTrimmed(std::string_view bytes);
std::string lowercased(std::string_view text);  // ASCII letters only
bool containsIgnoringCase(std::string_view haystack, std::string_view needle);
std::vector<std::string> splitLines(std::string_view text);  // on \n, \r\n and \r
std::string joined(const std::vector<std::string>& parts, std::string_view separator);

}  // namespace orvan::text
