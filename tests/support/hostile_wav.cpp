#include "tests/support/hostile_wav.h"

#include <cstdint>
#include <cstdio>

#include <vok/eng_result.h>

namespace vok_test {

const char *const kHostileAlgorithms[4] = {"FileFixed", "FileFloat", "Stream1", "Stream4"};

namespace {

using Chain = std::vector<std::string>;
using Outcomes = std::array<Outcome, 4>;

Outcome refusal(Chain chain)
{
    return {Outcome::Refusal, std::move(chain)};
}

const Outcome kDocument = {Outcome::Document, {}};
const Outcome kEither = {Outcome::Either, {}};
const Outcome kNotWave =
    refusal({"Get audio type error", "Error parsing WAV file: File format invalid"});
const Outcome kUnopenable =
    refusal({"Get audio type error", "Error parsing WAV file: Could not open file"});
const Outcome kBits = refusal({"Get audio type error", "Unsupported bits per sample"});
const Outcome kEncoding = refusal({"Get audio type error", "Unknown encoding type"});
const Outcome kBroken =
    refusal({"Unable to get audio sample.", "Error getting audio sample: File format invalid"});
const Outcome kTooShort = refusal({"Not enough audio to generate a fingerprint."});

Outcome with_code(const char *message, ResultCode code)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%x", code);
    return refusal({std::string(message) + digits + "."});
}

Outcome create_refused(ResultCode code)
{
    return with_code("Unable to create fingerprint. Error code:", code);
}

Outcomes all(const Outcome &outcome)
{
    return {outcome, outcome, outcome, outcome};
}

// Where the algorithm does not matter: one run per case, the algorithms
// taking turns over a family of cases.
Outcomes one(const Outcome &outcome, size_t turn)
{
    Outcomes outcomes;
    outcomes[turn % 4] = outcome;
    return outcomes;
}

Outcomes one(const Outcomes &outcomes, size_t turn)
{
    return one(outcomes[turn % 4], turn);
}

// The sizes a lying or odd chunk declares.
const uint32_t kChunkSizes[] = {0, 3, 0x7FFFFFFFu, 0xFFFFFFFFu};

// 8000 Hz mono 8-bit PCM: every algorithm takes it.
WavWriter &base_fmt(WavWriter &writer)
{
    return writer.fmt(1, 1, 8000, 8);
}

// A little silence: far too short for any fingerprint. Read as chunk
// headers its bytes declare 0x80808080, which ends past any file here.
Bytes short_audio()
{
    return Bytes(64, 0x80);
}

// 3.5 s at 8000 Hz, 8-bit: enough for a streaming fingerprint, too short
// for a spectral one.
Bytes long_audio()
{
    Bytes bytes;
    for (int16_t sample : music(28000, 1, 8000))
        bytes.push_back(static_cast<uint8_t>((sample >> 8) + 128));
    return bytes;
}

const Outcomes kLongAudio = {kTooShort, kTooShort, kDocument, kDocument};

std::string hex(uint32_t value)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%x", value);
    return digits;
}

void add(std::vector<HostileCase> &cases, std::string name, const Bytes &bytes,
         const Outcomes &outcomes, std::string same = std::string())
{
    HostileCase c;
    c.name = std::move(name);
    c.bytes = bytes;
    c.outcomes = outcomes;
    c.same_document_as = std::move(same);
    cases.push_back(std::move(c));
}

void truncations(std::vector<HostileCase> &cases)
{
    WavWriter writer;
    const Bytes whole = base_fmt(writer).data(short_audio()).bytes();
    // RIFF header 12, fmt chunk 8 + 16, data header 8, then the samples.
    const size_t fmt_end = 36, data_start = 44;
    std::vector<size_t> offsets;
    for (size_t keep = 0; keep <= data_start; ++keep)
        offsets.push_back(keep);
    offsets.insert(offsets.end(), {data_start + 1, data_start + 17, whole.size() - 1});
    for (size_t keep : offsets) {
        const Outcome &outcome = keep < fmt_end ? kNotWave : keep == fmt_end ? kTooShort : kBroken;
        add(cases, "truncated_at_" + std::to_string(keep),
            Bytes(whole.begin(), whole.begin() + static_cast<long>(keep)), one(outcome, keep));
    }
}

// The RIFF, fmt and data chunks declaring `size`; the case's algorithm
// chosen by `turn`.
void declared_sizes(std::vector<HostileCase> &cases, uint32_t size, size_t turn)
{
    const std::string tag = "_" + hex(size);
    const bool honest = size < 16;

    // The RIFF size field is not used.
    Bytes riff = WavWriter().fmt(1, 1, 8000, 8).data(long_audio()).bytes();
    for (int i = 0; i < 4; ++i)
        riff[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    add(cases, "riff_size" + tag, riff, one(kLongAudio, turn));

    // Too short a body to hold the bits per sample; or a huge one whose
    // first 40 bytes (the real body and what follows) are taken and the
    // rest skipped past the end of the file.
    WavWriter fmt;
    fmt.header("fmt ", size).raw(fmt_body(1, 1, 8000, 8)).data(short_audio());
    add(cases, "fmt_size" + tag, fmt.bytes(), one(honest ? kNotWave : kTooShort, turn));

    // An empty data chunk ends the reading; an odd one is followed by
    // its pad byte and then silence read as a chunk header; a huge one
    // is cut short by the end of the file.
    WavWriter data;
    base_fmt(data).header("data", size).raw(short_audio());
    add(cases, "data_size" + tag, data.bytes(), all(honest ? kTooShort : kBroken));
}

// Another chunk declaring `size`, before fmt and between fmt and data.
void other_chunk_sizes(std::vector<HostileCase> &cases, uint32_t size, size_t turn)
{
    const std::string tag = "_" + hex(size);
    const bool honest = size < 16;
    const Bytes filler(honest ? size : 4, 'j');

    // Honest sizes are skipped, lying ones skip past the end of the file
    // before fmt was found.
    WavWriter before;
    before.header("LIST", size).raw(filler);
    if (honest && size % 2 == 1)
        before.raw({0});
    base_fmt(before).data(short_audio());
    add(cases, "chunk_before_fmt" + tag, before.bytes(), one(honest ? kTooShort : kNotWave, turn));

    // Between fmt and data, a lying one hides the data.
    WavWriter between;
    base_fmt(between).header("LIST", size).raw(filler);
    if (honest && size % 2 == 1)
        between.raw({0});
    between.data(short_audio());
    add(cases, "chunk_before_data" + tag, between.bytes(), one(kTooShort, turn));
}

void chunk_sizes(std::vector<HostileCase> &cases)
{
    size_t turn = 0;
    for (uint32_t size : kChunkSizes) {
        declared_sizes(cases, size, turn);
        other_chunk_sizes(cases, size, turn);
        ++turn;
    }
    // An odd chunk without its pad byte: what follows is read one byte off.
    WavWriter unpadded;
    unpadded.chunk("LIST", Bytes(3, 'j'), false);
    base_fmt(unpadded).data(short_audio());
    add(cases, "odd_chunk_unpadded", unpadded.bytes(), all(kEither));
    // A partial frame at the end of a 16-bit stereo data chunk: the spectral
    // algorithm takes whole frames only.
    WavWriter partial;
    partial.fmt(1, 2, 8000, 16).data(Bytes(67, 0));
    const Outcome partial_refused =
        with_code("Add audio to fingerprint error. Error code:", SFP_E_INVALID_ARG);
    add(cases, "data_partial_frame", partial.bytes(),
        {partial_refused, partial_refused, kEither, kEither});
}

void fmt_bodies(std::vector<HostileCase> &cases)
{
    for (uint32_t size = 0; size <= 64; ++size) {
        Bytes body = fmt_body(1, 1, 8000, 8);
        body.resize(size, 0);
        WavWriter writer;
        writer.chunk("fmt ", body).data(short_audio());
        add(cases, "fmt_body_" + std::to_string(size), writer.bytes(),
            one(size < 16 ? kNotWave : kTooShort, size));
    }
}

void formats(std::vector<HostileCase> &cases)
{
    size_t turn = 0;
    auto file = [](uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
        return WavWriter().fmt(tag, channels, rate, bits).data(short_audio()).bytes();
    };
    for (uint16_t tag : {0, 2, 3, 0xFFFE})
        add(cases, "tag_" + hex(tag), file(tag, 1, 8000, 16),
            one(tag == 3 ? kEncoding : kNotWave, turn++));
    // A-law and mu-law files are taken whatever their bits say.
    for (uint16_t tag : {6, 7})
        for (uint16_t bits : {0, 65535})
            add(cases, "tag_" + hex(tag) + "_bits_" + std::to_string(bits),
                file(tag, 1, 8000, bits), one(kTooShort, turn++));
    for (uint16_t bits : {0, 4, 12, 24, 32, 65535})
        add(cases, "bits_" + std::to_string(bits), file(1, 1, 8000, bits), one(kBits, turn++));
    for (uint16_t channels : {0, 3, 6, 65535})
        add(cases, "channels_" + std::to_string(channels), file(1, channels, 8000, 16),
            {create_refused(SFP_E_INVALID_ARG), create_refused(SFP_E_INVALID_ARG),
             create_refused(STRM_E_INVALID_ARG), create_refused(STRM_E_INVALID_ARG)});
    // FileFixed cannot resample a rate outside its table; FileFloat takes
    // any rate but 0 (at 1 Hz 64 samples last long enough for a document);
    // the streaming algorithm takes its eight rates only.
    for (uint32_t rate : {0u, 1u, 12000u, 4294967295u}) {
        const Outcome stream = create_refused(STRM_E_INVALID_ARG);
        const Outcome fixed = create_refused(rate == 0 ? SFP_E_INVALID_ARG : SFP_E_NO_MEMORY);
        const Outcome floating = rate == 0       ? create_refused(SFP_E_INVALID_ARG)
                                 : rate == 12000 ? kTooShort
                                                 : kEither;
        add(cases, "rate_" + std::to_string(rate), file(1, 1, rate, 8),
            {fixed, floating, stream, stream});
    }
}

void layouts(std::vector<HostileCase> &cases)
{
    WavWriter plain;
    add(cases, "plain", base_fmt(plain).data(long_audio()).bytes(), kLongAudio);

    WavWriter no_data;
    add(cases, "no_data_chunk", base_fmt(no_data).bytes(), one(kTooShort, 0));
    WavWriter no_data_other;
    base_fmt(no_data_other).chunk("LIST", Bytes(10, 'j'));
    add(cases, "no_data_chunk_other_chunk", no_data_other.bytes(), one(kTooShort, 1));

    // Data before fmt is never delivered.
    WavWriter before;
    before.data(long_audio());
    add(cases, "data_before_fmt", base_fmt(before).bytes(), one(kTooShort, 2));
    WavWriter around;
    around.data(short_audio());
    add(cases, "data_before_and_after_fmt", base_fmt(around).data(long_audio()).bytes(), kLongAudio,
        "plain");

    // An empty data chunk is an empty stretch of audio: reading stops there.
    WavWriter empty_first;
    base_fmt(empty_first).data({}).data(long_audio());
    add(cases, "empty_data_chunk_first", empty_first.bytes(), all(kTooShort));

    // The same audio in one-byte chunks (each with its pad byte).
    WavWriter tiny;
    base_fmt(tiny);
    for (uint8_t byte : long_audio())
        tiny.data({byte});
    add(cases, "tiny_data_chunks", tiny.bytes(), kLongAudio, "plain");
}

void not_files(std::vector<HostileCase> &cases)
{
    // Refused when the input is opened, before the algorithm matters.
    add(cases, "empty_file", {}, one(kNotWave, 0));
    const std::pair<const char *, HostileInput> others[] = {{"folder", HostileInput::Folder},
                                                            {"dev_null", HostileInput::DevNull},
                                                            {"missing", HostileInput::Missing}};
    size_t turn = 1;
    for (const auto &other : others) {
        add(cases, other.first, {},
            one(other.second == HostileInput::DevNull ? kNotWave : kUnopenable, turn++));
        cases.back().input = other.second;
    }
}

} // namespace

std::vector<HostileCase> hostile_wav_cases()
{
    std::vector<HostileCase> cases;
    truncations(cases);
    chunk_sizes(cases);
    fmt_bodies(cases);
    formats(cases);
    layouts(cases);
    not_files(cases);
    return cases;
}

} // namespace vok_test
