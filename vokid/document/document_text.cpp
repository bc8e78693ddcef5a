#include "vokid/document/document_text.h"

#include <cstdint>
#include <memory>

namespace vokid {

namespace {

void appendUtf8(std::string &out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

bool isHigh(uint32_t unit)
{
    return unit >= 0xD800 && unit < 0xDC00;
}

bool isLow(uint32_t unit)
{
    return unit >= 0xDC00 && unit < 0xE000;
}

} // namespace

// The form, from the first bytes: a mark, or a first character whose
// other byte is zero (XML in UTF-8 holds no zero byte).
void DocumentText::decide(bool end)
{
    const auto at = [&](size_t i) { return static_cast<unsigned char>(held[i]); };
    if (held.size() < 3 && !end)
        return;
    form = Form::Utf8;
    if (held.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        held.erase(0, 3);
    } else if (held.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
        form = Form::Utf16Le;
        held.erase(0, 2);
    } else if (held.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
        form = Form::Utf16Be;
        held.erase(0, 2);
    } else if (held.size() >= 2 && at(0) != 0 && at(1) == 0) {
        form = Form::Utf16Le;
    } else if (held.size() >= 2 && at(0) == 0 && at(1) != 0) {
        form = Form::Utf16Be;
    }
}

std::string DocumentText::utf16(bool end)
{
    const bool little = form == Form::Utf16Le;
    const auto unit = [&](size_t i) {
        const auto first = static_cast<unsigned char>(held[i]);
        const auto second = static_cast<unsigned char>(held[i + 1]);
        return little ? uint32_t{first} | uint32_t{second} << 8 : uint32_t{first} << 8 | second;
    };
    std::string out;
    size_t at = 0;
    while (at + 2 <= held.size()) {
        const uint32_t code = unit(at);
        if (isHigh(code) && at + 4 > held.size() && !end)
            break; // its pair may come with the next piece
        if (isHigh(code) && at + 4 <= held.size() && isLow(unit(at + 2))) {
            appendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00));
            at += 4;
            continue;
        }
        appendUtf8(out, isHigh(code) || isLow(code) ? kReplacement : code);
        at += 2;
    }
    held.erase(0, at);
    if (end && !held.empty()) {
        appendUtf8(out, kReplacement); // half a code unit
        held.clear();
    }
    return out;
}

std::string DocumentText::take(std::string_view bytes, bool end)
{
    held.append(bytes);
    if (form == Form::Unknown)
        decide(end);
    if (form == Form::Unknown)
        return std::string();
    if (form == Form::Utf8) {
        std::string out;
        out.swap(held);
        return out;
    }
    return utf16(end);
}

std::string utf8Text(std::string_view bytes)
{
    return DocumentText().take(bytes, true);
}

std::function<std::string()> utf8Chunks(std::function<std::string()> read)
{
    auto text = std::make_shared<DocumentText>();
    auto ended = std::make_shared<bool>(false);
    return [read = std::move(read), text, ended] {
        while (!*ended) {
            const std::string bytes = read();
            *ended = bytes.empty();
            std::string out = text->take(bytes, *ended);
            if (!out.empty())
                return out;
        }
        return std::string();
    };
}

} // namespace vokid
