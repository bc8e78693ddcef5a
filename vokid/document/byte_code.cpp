#include "vokid/document/byte_code.h"

#include <stdexcept>

namespace vokid {

namespace {

// The code as fingerprints use it. It is not canonical, so it cannot be
// rebuilt from its lengths: this listing is the definition.
constexpr std::array<ByteCodeEntry, 256> kCodes = {{
    /* 00 */ {0x1, 1},     {0x8, 4},     {0x1a, 5},    {0xa, 7},
    /* 04 */ {0x0, 4},     {0xcc, 8},    {0x2, 7},     {0x4a, 10},
    /* 08 */ {0x6, 5},     {0x2c, 8},    {0x2a, 9},    {0x3f2, 11},
    /* 0c */ {0x62, 7},    {0x6f2, 11},  {0x3fc, 10},  {0x30c, 12},
    /* 10 */ {0xe, 5},     {0xec, 8},    {0x16a, 9},   {0x74a, 11},
    /* 14 */ {0xaa, 9},    {0xdbc, 12},  {0x2fc, 11},  {0xc, 13},
    /* 18 */ {0x32, 7},    {0x34a, 11},  {0x512, 11},  {0x1e72, 13},
    /* 1c */ {0x172, 10},  {0x1c0c, 13}, {0x40c, 12},  {0x190c, 14},
    /* 20 */ {0x16, 5},    {0x5c, 8},    {0x6a, 9},    {0x54a, 11},
    /* 24 */ {0x1ea, 9},   {0x5fc, 12},  {0x712, 11},  {0x60c, 13},
    /* 28 */ {0x12a, 9},   {0x8fc, 12},  {0xbc, 12},   {0x18bc, 14},
    /* 2c */ {0x412, 11},  {0xf0c, 14},  {0x35ca, 14}, {0x31bc, 15},
    /* 30 */ {0x42, 7},    {0x24a, 11},  {0x292, 11},  {0x1612, 13},
    /* 34 */ {0x1fc, 11},  {0x8bc, 14},  {0x3bc, 13},  {0x1e12, 15},
    /* 38 */ {0x92, 10},   {0x50c, 13},  {0x2dca, 14}, {0x6dfc, 15},
    /* 3c */ {0x20c, 12},  {0x3cfc, 15}, {0x100c, 14}, {0xbbca, 16},
    /* 40 */ {0x1e, 5},    {0x6c, 8},    {0x8c, 8},    {0x6ca, 11},
    /* 44 */ {0x4c, 8},    {0x6fc, 12},  {0x112, 11},  {0x1e0c, 13},
    /* 48 */ {0xea, 9},    {0xefc, 12},  {0x6bc, 12},  {0x10fc, 14},
    /* 4c */ {0x372, 11},  {0x13bc, 14}, {0x23ca, 14}, {0x1bbc, 15},
    /* 50 */ {0x1aa, 9},   {0x4fc, 12},  {0x5bc, 12},  {0x2cfc, 14},
    /* 54 */ {0x2bc, 12},  {0x1792, 15}, {0x150c, 14}, {0xcdca, 16},
    /* 58 */ {0x692, 11},  {0x29bc, 14}, {0x2b0c, 14}, {0x6d0c, 15},
    /* 5c */ {0x2bca, 14}, {0x700c, 15}, {0x5bbc, 15}, {0xc4ca, 16},
    /* 60 */ {0x52, 7},    {0x64a, 11},  {0x472, 11},  {0x1dca, 13},
    /* 64 */ {0x7f2, 11},  {0x1abc, 14}, {0x1bc, 13},  {0x49f2, 15},
    /* 68 */ {0x312, 11},  {0x1cbc, 14}, {0x1d0c, 14}, {0x2d0c, 15},
    /* 6c */ {0x1dfc, 13}, {0x3d0c, 15}, {0x2612, 15}, {0x54ca, 16},
    /* 70 */ {0x192, 10},  {0xa0c, 13},  {0x1bca, 14}, {0x794a, 15},
    /* 74 */ {0x33ca, 14}, {0x7bca, 16}, {0x73bc, 15}, {0x44ca, 16},
    /* 78 */ {0x10c, 12},  {0x2dfc, 15}, {0x7cbc, 15}, {0xd4ca, 16},
    /* 7c */ {0x160c, 14}, {0xc14a, 16}, {0x300c, 15}, {0xc94a, 16},
    /* 80 */ {0x4, 4},     {0x7c, 8},    {0x1c, 8},    {0x7ca, 11},
    /* 84 */ {0x3c, 8},    {0x672, 12},  {0x2f2, 11},  {0xebc, 13},
    /* 88 */ {0x9c, 8},    {0x772, 12},  {0xfbc, 12},  {0xe12, 14},
    /* 8c */ {0x2ca, 11},  {0x2e12, 14}, {0x180c, 13}, {0xe72, 15},
    /* 90 */ {0xdc, 8},    {0x1f2, 12},  {0x12, 12},   {0x3792, 14},
    /* 94 */ {0x812, 12},  {0x214a, 15}, {0x28bc, 14}, {0x760c, 15},
    /* 98 */ {0x1ca, 11},  {0x2792, 14}, {0x11bc, 14}, {0x33bc, 15},
    /* 9c */ {0x170c, 13}, {0x4c0c, 15}, {0x7cfc, 15}, {0xb4ca, 16},
    /* a0 */ {0xac, 8},    {0xcca, 12},  {0xf72, 12},  {0x70c, 13},
    /* a4 */ {0xf92, 12},  {0xe0c, 13},  {0x1a0c, 13}, {0x612, 14},
    /* a8 */ {0x7bc, 12},  {0x14a, 15},  {0x5e12, 15}, {0x4dca, 16},
    /* ac */ {0x3abc, 14}, {0xdca, 16},  {0xfbca, 16}, {0x5792, 16},
    /* b0 */ {0x5f2, 11},  {0x1cfc, 14}, {0x38bc, 14}, {0x3cbc, 15},
    /* b4 */ {0x19bc, 13}, {0x55ca, 15}, {0x3e12, 14}, {0x2bbc, 14},
    /* b8 */ {0x1ebc, 13}, {0x43ca, 15}, {0x53ca, 15}, {0x14ca, 15},
    /* bc */ {0x6612, 15}, {0x9bc, 14},  {0x4ca, 15},  {0x614a, 15},
    /* c0 */ {0x22, 7},    {0xca, 11},   {0x272, 11},  {0xabc, 13},
    /* c4 */ {0x392, 11},  {0x30fc, 14}, {0x114a, 13}, {0x2e72, 15},
    /* c8 */ {0x72, 11},   {0xdfc, 14},  {0x2f0c, 14}, {0xc0c, 15},
    /* cc */ {0xfc, 13},   {0x7d0c, 15}, {0x4e72, 15}, {0x85ca, 16},
    /* d0 */ {0x212, 11},  {0xbbc, 14},  {0x1b0c, 14}, {0x3bca, 16},
    /* d4 */ {0x29f2, 14}, {0x25ca, 14}, {0x792, 14},  {0x3bbc, 14},
    /* d8 */ {0x19f2, 13}, {0x2c0c, 14}, {0x4bca, 15}, {0x394a, 15},
    /* dc */ {0x390c, 14}, {0x24ca, 15}, {0x15ca, 15}, {0x94a, 15},
    /* e0 */ {0xf2, 10},   {0x1f0c, 13}, {0x80c, 13},  {0x9f2, 15},
    /* e4 */ {0x90c, 13},  {0x360c, 15}, {0x6e72, 15}, {0x5ca, 16},
    /* e8 */ {0xcbc, 13},  {0xbca, 15},  {0x3ca, 15},  {0x294a, 15},
    /* ec */ {0xb0c, 14},  {0x694a, 15}, {0x64ca, 15}, {0x594a, 15},
    /* f0 */ {0x4bc, 12},  {0x3b0c, 14}, {0x350c, 14}, {0x74ca, 15},
    /* f4 */ {0x4cfc, 15}, {0xd792, 16}, {0x34ca, 16}, {0x494a, 16},
    /* f8 */ {0xd0c, 14},  {0x8dca, 16}, {0x45ca, 15}, {0x194a, 15},
    /* fc */ {0x13ca, 15}, {0x414a, 16}, {0x71bc, 15}, {0xcfc, 15},
}};

// A complete prefix code: the codes' shares 2^-length of all bit strings
// add up to exactly one (here in units of 2^-16).
constexpr uint32_t kraftSum()
{
    uint32_t sum = 0;
    for (const ByteCodeEntry &entry : kCodes)
        sum += 1u << (kLongestCode - entry.length);
    return sum;
}
static_assert(kraftSum() == 1u << kLongestCode, "the byte code must be complete");

using Lookup = std::array<CodeMatch, 1u << kLongestCode>;

// Each code of length L owns the 2^(16 - L) values of 16 bits that begin
// with it. Completeness (above) means that all 65536 values are owned; a
// value owned twice would mean two codes where one is a prefix of the
// other, which the checks below rule out.
Lookup buildLookup()
{
    Lookup lookup{};
    std::array<bool, 1u << kLongestCode> owned{};
    for (unsigned byte = 0; byte < kCodes.size(); ++byte) {
        const ByteCodeEntry entry = kCodes[byte];
        for (uint32_t rest = 0; rest < 1u << (kLongestCode - entry.length); ++rest) {
            const uint32_t bits = entry.code | rest << entry.length;
            if (owned[bits])
                throw std::logic_error("the byte code is not a prefix code");
            owned[bits] = true;
            lookup[bits] = CodeMatch{static_cast<uint8_t>(byte), entry.length};
        }
    }
    return lookup;
}

} // namespace

const std::array<ByteCodeEntry, 256> &byteCode()
{
    return kCodes;
}

const Lookup &byteCodeLookup()
{
    static const Lookup lookup = buildLookup();
    return lookup;
}

} // namespace vokid
