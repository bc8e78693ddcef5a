// Little-endian records: written field by field, and read back with every
// length checked against what is there, so that a damaged record gives an
// IndexError instead of a read past its end.
#ifndef VOKID_INDEX_BYTES_H
#define VOKID_INDEX_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "vokid/index/index_error.h"

namespace vokid {

class ByteWriter {
public:
    void u8(uint8_t value) { bytes.push_back(static_cast<char>(value)); }
    void u16(uint16_t value) { unsigned_(value, 2); }
    void u32(uint32_t value) { unsigned_(value, 4); }
    void u64(uint64_t value) { unsigned_(value, 8); }
    void f64(double value)
    {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        u64(bits);
    }
    // A length (32 bits) and the bytes.
    void text(std::string_view value)
    {
        u32(static_cast<uint32_t>(value.size()));
        bytes.append(value.data(), value.size());
    }
    std::string &data() { return bytes; }

private:
    void unsigned_(uint64_t value, int count)
    {
        for (int i = 0; i < count; ++i)
            bytes.push_back(static_cast<char>(value >> (8 * i) & 0xFFu));
    }
    std::string bytes;
};

class ByteReader {
public:
    ByteReader(std::string_view from, const char *what) : data(from), name(what) {}

    uint8_t u8() { return static_cast<uint8_t>(unsigned_(1)); }
    uint16_t u16() { return static_cast<uint16_t>(unsigned_(2)); }
    uint32_t u32() { return static_cast<uint32_t>(unsigned_(4)); }
    uint64_t u64() { return unsigned_(8); }
    double f64()
    {
        const uint64_t bits = u64();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::string text()
    {
        const uint32_t length = u32();
        return std::string(take(length));
    }
    std::string_view take(size_t count)
    {
        if (count > data.size() - at)
            throw IndexError(std::string(name) + " is cut short");
        const std::string_view part = data.substr(at, count);
        at += count;
        return part;
    }
    size_t left() const { return data.size() - at; }
    // The record must end here.
    void end() const
    {
        if (at != data.size())
            throw IndexError(std::string(name) + " has " + std::to_string(data.size() - at) +
                             " bytes too many");
    }

private:
    uint64_t unsigned_(size_t count)
    {
        const std::string_view part = take(count);
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i)
            value |= uint64_t{static_cast<uint8_t>(part[i])} << (8 * i);
        return value;
    }
    std::string_view data;
    const char *name;
    size_t at = 0;
};

} // namespace vokid

#endif
