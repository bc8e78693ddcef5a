#include "vokid/cli/json_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vokid {

namespace {

void append(const nlohmann::ordered_json &value, std::string &out, size_t indent)
{
    const bool nested =
        std::any_of(value.begin(), value.end(),
                    [](const nlohmann::ordered_json &item) { return item.is_structured(); });
    if (!value.is_structured() || value.empty() || (value.is_array() && !nested)) {
        out += compactJson(value);
        return;
    }
    out += value.is_object() ? "{\n" : "[\n";
    size_t left = value.size();
    const std::string inner(indent + 2, ' ');
    if (value.is_object()) {
        for (const auto &member : value.items()) {
            out += inner + compactJson(nlohmann::ordered_json(member.key())) + ": ";
            append(member.value(), out, indent + 2);
            out += --left ? ",\n" : "\n";
        }
    } else {
        for (const auto &item : value) {
            out += inner;
            append(item, out, indent + 2);
            out += --left ? ",\n" : "\n";
        }
    }
    out += std::string(indent, ' ') + (value.is_object() ? "}" : "]");
}

// The length of the UTF-8 sequence at text[at] (overlong forms, surrogates
// and code points above U+10FFFF refused), 0 when it is not one.
size_t utf8Length(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3
                        : lead < 0xF5                  ? 4
                                                       : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    const unsigned char second = length > 1 ? byte(at + 1) : 0x80;
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

void appendHex(std::string &out, unsigned char byte)
{
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02x", byte);
    out += code;
}

} // namespace

std::string compactJson(const nlohmann::ordered_json &value)
{
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string shownText(std::string_view text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8Length(text, at);
        const auto lead = static_cast<unsigned char>(text[at]);
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7F
                                         : length == 2 && lead == 0xC2 &&
                                               static_cast<unsigned char>(text[at + 1]) < 0xA0;
        if (length == 0 || control) {
            for (size_t i = 0; i < std::max<size_t>(length, 1); ++i)
                appendHex(out, static_cast<unsigned char>(text[at + i]));
            at += std::max<size_t>(length, 1);
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

std::string readableJson(const nlohmann::ordered_json &value)
{
    std::string out;
    append(value, out, 0);
    return out + "\n";
}

std::string readableJson(const nlohmann::ordered_json &value, size_t indent)
{
    std::string out;
    append(value, out, indent);
    return out;
}

double roundedSeconds(double seconds)
{
    return std::round(seconds * 1000.0) / 1000.0;
}

} // namespace vokid
