#include "vokid/index/track_print.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "vokid/index/bytes.h"
#include "vokid/index/index_error.h"

namespace vokid {

namespace {

constexpr size_t kCountBytes = 4;
constexpr size_t kCrcBytes = 4;

size_t maskCount(size_t words)
{
    return words / kBlockWords * kKeptMasks;
}

size_t quietBytes(size_t words)
{
    return (words + 7) / 8;
}

// Without the checksum.
size_t formBytes(size_t words)
{
    return kCountBytes + 4 * words + 4 * maskCount(words) + quietBytes(words);
}

uint32_t readU32(std::string_view bytes, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= uint32_t{static_cast<uint8_t>(bytes[offset + i])} << (8 * i);
    return value;
}

// The form without its checksum, once the checksum (version 2) matches
// (or is known to match).
std::string_view checkedForm(std::string_view bytes, uint32_t id, uint32_t form, bool known)
{
    if (form < 2)
        return bytes;
    if (bytes.size() < kCountBytes + kCrcBytes)
        throw IndexError("its sequence is cut short");
    const std::string_view fields = bytes.substr(0, bytes.size() - kCrcBytes);
    if (!known && readU32(bytes, fields.size()) != recordCrc(id, fields))
        throw IndexError("its sequence fails its checksum");
    return fields;
}

// The packed form (version 4).
constexpr uint32_t kPackedForm = 4;
constexpr size_t kOffsetBytes = 4;
// The fewest bits a block takes: two raw values, a bit for each unchanged
// word and kept mask, the quiet flag.
constexpr size_t kLeastBlockBits = 32 + (kBlockWords - 1) + 32 + (kKeptMasks - 1) + 1;
constexpr size_t kLeastBlockBytes = (kLeastBlockBits + 7) / 8;

// Bits written lowest first into `out`.
class BitWriter {
public:
    explicit BitWriter(std::string &to) : out(to) {}
    // The low `bits` bits of `value` (at most 32).
    void put(uint64_t value, unsigned bits)
    {
        buffer |= value << held;
        held += bits;
        while (held >= 8) {
            out.push_back(static_cast<char>(buffer & 0xFFu));
            buffer >>= 8;
            held -= 8;
        }
    }
    // Zero bits to a whole byte.
    void finish()
    {
        if (held > 0)
            out.push_back(static_cast<char>(buffer));
        buffer = 0;
        held = 0;
    }

private:
    std::string &out;
    uint64_t buffer = 0;
    unsigned held = 0;
};

// `d`'s set bits as `k` positions of 5 bits, lowest first, after `ones`
// 1 bits and a 0 (the code of their number).
void putPositions(BitWriter &out, uint32_t d, unsigned ones)
{
    out.put((1u << ones) - 1, ones + 1);
    for (; d != 0; d &= d - 1)
        out.put(static_cast<unsigned>(__builtin_ctz(d)), 5);
}

void putWordChange(BitWriter &out, uint32_t d)
{
    const auto k = static_cast<unsigned>(__builtin_popcount(d));
    if (k == 0)
        out.put(0, 1);
    else if (k < 4)
        putPositions(out, d, k);
    else {
        out.put(0xF, 4);
        out.put(d, 32);
    }
}

void putMaskChange(BitWriter &out, uint32_t d)
{
    const auto k = static_cast<unsigned>(__builtin_popcount(d));
    if (k == 0)
        out.put(0, 1);
    else if (k == 2 || k == 4)
        putPositions(out, d, k / 2);
    else {
        out.put(0x7, 3);
        out.put(d, 32);
    }
}

void putBlock(std::string &to, const TrackPrint &print, size_t block)
{
    BitWriter out(to);
    const uint32_t *words = print.words.data() + block * kBlockWords;
    const uint32_t *masks = print.masks.data() + block * kKeptMasks;
    const uint8_t *quiet = print.quiet.data() + block * kBlockWords;
    out.put(words[0], 32);
    for (size_t i = 1; i < kBlockWords; ++i)
        putWordChange(out, words[i] ^ words[i - 1]);
    out.put(masks[0], 32);
    for (size_t k = 1; k < kKeptMasks; ++k)
        putMaskChange(out, masks[k] ^ masks[k - 1]);
    const bool anyQuiet = std::any_of(quiet, quiet + kBlockWords, [](uint8_t q) { return q != 0; });
    out.put(anyQuiet ? 1 : 0, 1);
    if (anyQuiet)
        for (size_t i = 0; i < kBlockWords; ++i)
            out.put(quiet[i] != 0 ? 1 : 0, 1);
    out.finish();
}

// Bits read lowest first from [at, end), never past `end`. The buffer
// holds `held` bits read; the bits above them are the bytes' next bits,
// or 0 past the end.
class BitReader {
public:
    BitReader(const char *from, const char *to)
        : at(reinterpret_cast<const uint8_t *>(from)), end(reinterpret_cast<const uint8_t *>(to))
    {
    }
    // At least 56 bits held, or all that are left.
    void refill()
    {
        if (end - at >= 8) {
            uint64_t next = 0;
            std::memcpy(&next, at, sizeof next);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            next = __builtin_bswap64(next);
#endif
            buffer |= next << held;
            at += (63 - held) >> 3;
            held |= 56;
        } else {
            while (held <= 56 && at < end) {
                buffer |= uint64_t{*at++} << held;
                held += 8;
            }
        }
    }
    uint64_t peek() const { return buffer; }
    bool has(unsigned bits) const { return bits <= held; }
    // At most 32 bits, of those held.
    uint32_t take(unsigned bits)
    {
        const auto value = static_cast<uint32_t>(buffer & ((uint64_t{1} << bits) - 1));
        buffer >>= bits;
        held -= bits;
        return value;
    }
    // Only zero bits left, fewer than 8 of them.
    bool atPadding() const { return at == end && held < 8; }
    bool paddingZero() const { return buffer == 0; }

private:
    const uint8_t *at;
    const uint8_t *end;
    uint64_t buffer = 0;
    unsigned held = 0;
};

[[noreturn]] void blockDamage(size_t block, const char *what)
{
    throw IndexError("its sequence's block " + std::to_string(block) + " " + what);
}

// `count` ascending positions of 5 bits, all held, as the bits they set.
uint32_t takePositions(BitReader &in, unsigned count, size_t block)
{
    uint32_t d = 0;
    int last = -1;
    for (unsigned j = 0; j < count; ++j) {
        const auto p = static_cast<int>(in.take(5));
        if (p <= last)
            blockDamage(block, "has bit positions out of order");
        last = p;
        d |= 1u << p;
    }
    return d;
}

// A block's run of `n` values (its words, or its kept masks): the first
// raw, then each the one before changed. A code of k 1 bits and a 0
// (k below `escape`) names k * `per` changed bits, and `escape` 1 bits a
// raw change, which must have no shorter code (`hasCode` of its bits
// set: `raw` otherwise).
template <class HasCode>
void decodeRun(BitReader &in, uint32_t *out, size_t n, unsigned escape, unsigned per, size_t b,
               HasCode hasCode, const char *raw)
{
    in.refill();
    if (!in.has(32))
        blockDamage(b, "is cut short");
    out[0] = in.take(32);
    const uint64_t stop = uint64_t{1} << escape;
    for (size_t i = 1; i < n; ++i) {
        in.refill();
        const auto ones = static_cast<unsigned>(__builtin_ctzll(~in.peek() | stop));
        uint32_t d = 0;
        if (ones < escape) {
            if (!in.has(ones + 1 + 5 * per * ones))
                blockDamage(b, "is cut short");
            in.take(ones + 1);
            if (ones > 0)
                d = takePositions(in, per * ones, b);
        } else {
            if (!in.has(escape + 32))
                blockDamage(b, "is cut short");
            in.take(escape);
            d = in.take(32);
            if (hasCode(__builtin_popcount(d)))
                blockDamage(b, raw);
        }
        out[i] = out[i - 1] ^ d;
    }
}

} // namespace

double indexFrameSeconds()
{
    return streamGrid(ENG_ALG_STREAM1).frameSeconds;
}

TrackPrint TrackPrint::of(const SubFingerprints &frames)
{
    if (frames.blockLength != streamGrid(ENG_ALG_STREAM1).blockLength)
        throw IndexError("six-second blocks cannot be indexed (only Stream1 and Stream4)");
    if (frames.words.empty())
        throw IndexError("the fingerprint has no blocks");
    if (frames.size() % kBlockWords != 0)
        throw std::invalid_argument("a track's print must hold whole blocks");
    TrackPrint print;
    print.words = frames.words;
    print.quiet = frames.quiet;
    for (size_t block = 0; block < frames.size(); block += kBlockWords)
        for (size_t k = 0; k < kKeptMasks; ++k)
            print.masks.push_back(frames.weak[block + k * ENG_MASK_STRIDE]);
    return print;
}

SubFingerprints TrackPrint::subFingerprints() const
{
    SubFingerprints out;
    out.words = words;
    out.quiet = quiet;
    out.weak.resize(words.size());
    for (size_t i = 0; i < words.size(); ++i)
        out.weak[i] = weak(i);
    out.frameSeconds = indexFrameSeconds();
    out.blockLength = streamGrid(ENG_ALG_STREAM1).blockLength;
    return out;
}

std::string encodeSequence(const TrackPrint &print, uint32_t id, uint32_t form)
{
    const size_t blocks = print.size() / kBlockWords;
    if (print.size() == 0 || print.size() % kBlockWords != 0 || print.size() > UINT32_MAX ||
        print.masks.size() != blocks * kKeptMasks || print.quiet.size() != print.size())
        throw std::invalid_argument("a track's print must hold whole blocks, their masks and quiet flags");
    ByteWriter out;
    out.u32(static_cast<uint32_t>(print.size()));
    if (form >= kPackedForm) {
        std::string &bytes = out.data();
        const size_t table = bytes.size();
        bytes.resize(table + kOffsetBytes * blocks);
        const size_t blocksStart = bytes.size();
        for (size_t b = 0; b < blocks; ++b) {
            const auto offset = static_cast<uint32_t>(bytes.size() - blocksStart);
            for (size_t i = 0; i < kOffsetBytes; ++i)
                bytes[table + kOffsetBytes * b + i] = static_cast<char>(offset >> (8 * i) & 0xFFu);
            putBlock(bytes, print, b);
        }
        if (bytes.size() - blocksStart > UINT32_MAX)
            throw std::length_error("a track's print too long to store");
    } else {
        out.data().reserve(formBytes(print.size()) + kCrcBytes);
        for (uint32_t word : print.words)
            out.u32(word);
        for (uint32_t mask : print.masks)
            out.u32(mask);
        std::string quiet(quietBytes(print.size()), '\0');
        for (size_t i = 0; i < print.size(); ++i)
            if (print.quiet[i])
                quiet[i / 8] = static_cast<char>(quiet[i / 8] | 1 << (i % 8));
        out.data() += quiet;
    }
    if (form >= 2)
        out.u32(recordCrc(id, out.data()));
    return std::move(out.data());
}

SequenceView::SequenceView(std::string_view stored, uint32_t id, uint32_t form, bool checksumKnown)
    : track(id), packed(form >= kPackedForm)
{
    try {
        bytes = checkedForm(stored, id, form, checksumKnown);
        if (packed)
            checkPacked();
        else
            checkPlain();
    } catch (const IndexError &error) {
        throw damaged("track " + std::to_string(id) + ": " + error.what());
    }
}

// The word count both forms begin with: whole blocks, not none.
size_t SequenceView::readCount() const
{
    if (bytes.size() < kCountBytes)
        throw IndexError("its sequence is cut short");
    const size_t words = readU32(bytes, 0);
    if (words == 0 || words % kBlockWords != 0)
        throw IndexError("its sequence holds " + std::to_string(words) +
                         " sub-fingerprints, not whole blocks");
    return words;
}

void SequenceView::checkPlain()
{
    count = readCount();
    if (bytes.size() != formBytes(count))
        throw IndexError("its sequence of " + std::to_string(count) + " sub-fingerprints has " +
                         std::to_string(bytes.size()) + " bytes instead of " +
                         std::to_string(formBytes(count)));
    masksOffset = kCountBytes + 4 * count;
    quietOffset = masksOffset + 4 * maskCount(count);
}

void SequenceView::checkPacked()
{
    count = readCount();
    const size_t blocks = count / kBlockWords;
    if (kCountBytes + blocks * (kOffsetBytes + kLeastBlockBytes) > bytes.size())
        throw IndexError("its sequence of " + std::to_string(count) +
                         " sub-fingerprints cannot fit in " + std::to_string(bytes.size()) + " bytes");
    blocksOffset = kCountBytes + kOffsetBytes * blocks;
    const size_t blockBytes = bytes.size() - blocksOffset;
    uint32_t last = 0;
    for (size_t b = 0; b < blocks; ++b) {
        const uint32_t offset = readU32(bytes, kCountBytes + kOffsetBytes * b);
        if (b == 0 ? offset != 0 : offset <= last)
            throw IndexError(b == 0 ? "its sequence's first block does not begin after its table"
                                    : "its sequence's block offsets do not ascend");
        if (offset >= blockBytes)
            throw IndexError("its sequence's block " + std::to_string(b) + " begins past its end");
        last = offset;
    }
}

uint32_t SequenceView::plainWord(size_t i) const
{
    return readU32(bytes, kCountBytes + 4 * i);
}

uint32_t SequenceView::plainMask(size_t k) const
{
    return readU32(bytes, masksOffset + 4 * k);
}

bool SequenceView::plainQuiet(size_t i) const
{
    return (static_cast<uint8_t>(bytes[quietOffset + i / 8]) >> (i % 8) & 1u) != 0;
}

void SequenceView::decodeBlock(size_t b, uint32_t *words, uint32_t *masks, uint8_t *quiet) const
{
    const size_t begin = blocksOffset + readU32(bytes, kCountBytes + kOffsetBytes * b);
    const bool last = b + 1 == count / kBlockWords;
    const size_t end =
        last ? bytes.size() : blocksOffset + readU32(bytes, kCountBytes + kOffsetBytes * (b + 1));
    BitReader in(bytes.data() + begin, bytes.data() + end);
    // Words: 1 to 3 ones name as many changed bits, 4 a raw change.
    decodeRun(in, words, kBlockWords, 4, 1, b, [](int bits) { return bits < 4; },
              "codes a word's change raw that has a shorter code");
    // Kept masks: 1 or 2 ones name 2 or 4 changed bits, 3 a raw change.
    decodeRun(in, masks, kKeptMasks, 3, 2, b,
              [](int bits) { return bits == 0 || bits == 2 || bits == 4; },
              "codes a mask's change raw that has a shorter code");
    in.refill();
    if (!in.has(1))
        blockDamage(b, "is cut short");
    if (in.take(1) != 0) {
        uint32_t any = 0;
        for (size_t i = 0; i < kBlockWords; i += 32) {
            in.refill();
            if (!in.has(32))
                blockDamage(b, "is cut short");
            const uint32_t bits = in.take(32);
            any |= bits;
            for (size_t j = 0; j < 32; ++j)
                quiet[i + j] = static_cast<uint8_t>(bits >> j & 1u);
        }
        if (any == 0)
            blockDamage(b, "marks quiet frames but has none");
    } else {
        std::fill(quiet, quiet + kBlockWords, uint8_t{0});
    }
    in.refill();
    if (!in.atPadding())
        blockDamage(b, last ? "ends before the sequence does" : "ends before the next begins");
    if (!in.paddingZero())
        blockDamage(b, "has padding bits set");
}

SubFingerprints SequenceView::slice(int64_t from, size_t length, int64_t &first) const
{
    const auto size = static_cast<int64_t>(count);
    const int64_t begin = std::clamp<int64_t>(from, 0, size);
    const int64_t end = std::clamp<int64_t>(from + static_cast<int64_t>(length), begin, size);
    first = begin;
    SubFingerprints out;
    out.frameSeconds = indexFrameSeconds();
    out.blockLength = streamGrid(ENG_ALG_STREAM1).blockLength;
    const auto n = static_cast<size_t>(end - begin);
    out.words.resize(n);
    out.weak.resize(n);
    out.quiet.resize(n);
    if (!packed) {
        for (size_t j = 0; j < n; ++j) {
            const size_t i = static_cast<size_t>(begin) + j;
            out.words[j] = plainWord(i);
            out.weak[j] = plainMask(i / kBlockWords * kKeptMasks + nearestKeptMask(i % kBlockWords));
            out.quiet[j] = plainQuiet(i) ? 1 : 0;
        }
        return out;
    }
    try {
        uint32_t words[kBlockWords];
        uint32_t masks[kKeptMasks];
        uint8_t quiet[kBlockWords];
        const auto lo = static_cast<size_t>(begin), hi = static_cast<size_t>(end);
        for (size_t b = lo / kBlockWords; b * kBlockWords < hi; ++b) {
            decodeBlock(b, words, masks, quiet);
            const size_t start = std::max(lo, b * kBlockWords);
            const size_t stop = std::min(hi, (b + 1) * kBlockWords);
            for (size_t i = start; i < stop; ++i) {
                const size_t within = i - b * kBlockWords;
                out.words[i - lo] = words[within];
                out.weak[i - lo] = masks[nearestKeptMask(within)];
                out.quiet[i - lo] = quiet[within];
            }
        }
    } catch (const IndexError &error) {
        throw damaged("track " + std::to_string(track) + ": " + error.what());
    }
    return out;
}

TrackPrint SequenceView::print() const
{
    TrackPrint out;
    out.words.resize(count);
    out.masks.resize(maskCount(count));
    out.quiet.resize(count);
    if (!packed) {
        for (size_t i = 0; i < count; ++i)
            out.words[i] = plainWord(i);
        for (size_t k = 0; k < out.masks.size(); ++k)
            out.masks[k] = plainMask(k);
        for (size_t i = 0; i < count; ++i)
            out.quiet[i] = plainQuiet(i) ? 1 : 0;
        return out;
    }
    try {
        for (size_t b = 0; b < count / kBlockWords; ++b)
            decodeBlock(b, out.words.data() + b * kBlockWords, out.masks.data() + b * kKeptMasks,
                        out.quiet.data() + b * kBlockWords);
    } catch (const IndexError &error) {
        throw damaged("track " + std::to_string(track) + ": " + error.what());
    }
    return out;
}

TrackPrint decodeSequence(std::string_view bytes, uint32_t id, uint32_t form)
{
    return SequenceView(bytes, id, form).print();
}

} // namespace vokid
