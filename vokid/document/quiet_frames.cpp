#include "vokid/document/quiet_frames.h"

#include <cstddef>

namespace vokid {

namespace {

constexpr std::array<uint32_t, 32> kSeed = {
    0x48cf0057, 0x781f152f, 0x10957ee4, 0xfd0384bd, 0x9531d5ec, 0x6c6a402d, 0x83f89404, 0x557dd81c,
    0x6ed2f778, 0x39d7d9be, 0x946e3926, 0xc2a74802, 0x87a27cde, 0xa3f98b6d, 0x3585928e, 0x613bc6d7,
    0xc88839f5, 0xae4be83b, 0x760a5489, 0x915d38f5, 0xcb5163a5, 0x0f269727, 0x9a55a0de, 0x0cde6a94,
    0x6a5601c1, 0x4e1464af, 0xdfd686e6, 0x03d7a999, 0xc4986592, 0xf8894b3f, 0xfd760d83, 0xc9f2d701,
};

} // namespace

QuietWordGenerator::QuietWordGenerator() : words(kSeed)
{
}

uint32_t QuietWordGenerator::next()
{
    // Indices wrap modulo 32; unsigned arithmetic makes index - 1 at 0
    // wrap to 31 under the mask.
    const auto at = [this](uint32_t step) -> uint32_t & { return words[(index + step) & 31u]; };
    const uint32_t word = at(4) ^ at(6) ^ at(2) ^ at(31) ^ at(1) ^ at(0);
    index = (index - 1u) & 31u;
    words[index] = word;
    return word;
}

std::vector<uint8_t> markQuietFrames(const std::vector<uint32_t> &words)
{
    std::vector<uint8_t> quiet(words.size(), 0);
    // The frame that only primes the analysis is dropped, quiet or not: if
    // it was quiet, the first stored quiet frame holds the generator's
    // second word. So until a first match, either of the first two words
    // may come.
    QuietWordGenerator generator;
    const uint32_t first = generator.next();
    const uint32_t second = generator.next();
    bool started = false;
    uint32_t expected = first;
    for (size_t i = 0; i < words.size(); ++i) {
        if (started) {
            if (words[i] != expected)
                continue;
            expected = generator.next();
        } else if (words[i] == first) {
            expected = second;
        } else if (words[i] == second) {
            expected = generator.next();
        } else {
            continue;
        }
        started = true;
        quiet[i] = 1;
    }
    return quiet;
}

} // namespace vokid
