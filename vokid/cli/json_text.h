// JSON as vokid prints it for people to read: objects one member per line,
// arrays of plain values (sub-fingerprints, masks, values) on one line.
#ifndef VOKID_CLI_JSON_TEXT_H
#define VOKID_CLI_JSON_TEXT_H

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vokid {

// The value as indented text, ending with a line feed.
std::string readableJson(const nlohmann::ordered_json &value);
// The same, standing at `indent` columns in a larger text, without the line
// feed (a text written a piece at a time).
std::string readableJson(const nlohmann::ordered_json &value, size_t indent);

// The value on one line, without a line feed. Control characters are
// escaped (\u001b), and bytes that are not UTF-8 become U+FFFD.
std::string compactJson(const nlohmann::ordered_json &value);

// Text from outside (a path, a tag) as text output shows it, on a terminal
// and in a pipe alike: control characters (C0, DEL and C1) and bytes that
// are not UTF-8 as \xHH, so that none can move the cursor or change the
// terminal.
std::string shownText(std::string_view text);

// Seconds rounded to the millisecond, so that 3.3435374... reads 3.344.
double roundedSeconds(double seconds);

} // namespace vokid

#endif
