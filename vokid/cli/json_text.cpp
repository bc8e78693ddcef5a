#include "vokid/cli/json_text.h"

#include <algorithm>
#include <cmath>

namespace vokid {

namespace {

void append(const nlohmann::ordered_json &value, std::string &out, size_t indent)
{
    const bool nested =
        std::any_of(value.begin(), value.end(),
                    [](const nlohmann::ordered_json &item) { return item.is_structured(); });
    if (!value.is_structured() || value.empty() || (value.is_array() && !nested)) {
        out += value.dump();
        return;
    }
    out += value.is_object() ? "{\n" : "[\n";
    size_t left = value.size();
    const std::string inner(indent + 2, ' ');
    if (value.is_object()) {
        for (const auto &member : value.items()) {
            out += inner + nlohmann::ordered_json(member.key()).dump() + ": ";
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

} // namespace

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
