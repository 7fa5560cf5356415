#pragma once

#include <initializer_list>
#include <span>
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
std::string uppercased(std::string_view text);  // ASCII letters only
bool containsIgnoringCase(std::string_view haystack, std::string_view needle);
// Whether the text holds any of the phrases, ASCII case ignored: the one matcher of the tool
// output classifiers (phrases are lower case).
bool containsAnyPhrase(std::string_view text, std::span<const std::string_view> phrases);
bool containsAnyPhrase(std::string_view text, std::initializer_list<std::string_view> phrases);
// What adb and scrcpy print when the glasses' host cannot be reached at all.
inline constexpr std::string_view kHostUnreachablePhrases[] = {
    "no route to host",     "network is unreachable", "host is down", "host unreachable",
    "connection timed out", "operation timed out",    "timed out"};
// The text without terminal control sequences (colour and cursor escapes, OSC titles) and
// without the other C0 controls but tab, line feed and carriage return: what a program that
// writes to a terminal prints, as plain lines.
std::string withoutTerminalControls(std::string_view text);
std::vector<std::string> splitLines(std::string_view text);  // on \n, \r\n and \r
std::string joined(const std::vector<std::string>& parts, std::string_view separator);
// Splits at any of the separator characters, dropping empty pieces ("a\t\tb" gives a, b).
std::vector<std::string> splitFields(std::string_view text, std::string_view separators = " \t");
// Trims exactly the given characters at both ends (for example blanks and tabs only).
std::string trimmedOf(std::string_view text, std::string_view characters);

}  // namespace orvan::text
