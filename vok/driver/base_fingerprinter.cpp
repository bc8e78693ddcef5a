#include "driver/base_fingerprinter.h"

#include <sstream>
#include <utility>

#include "driver/read_size.h"
#include "driver/scope_guard.h"

namespace Zuvanti {

namespace {

// Engine codes appear in lower-case hexadecimal right after the colon.
std::string WithCode(const char *text, ResultCode code)
{
    std::ostringstream message;
    message << text << std::hex << code << ".";
    return message.str();
}

} // namespace

BaseFingerprinter::BaseFingerprinter()
{
    const EngineConfig config = {nullptr, 0, 0};
    eng_initialize(&config);
}

BaseFingerprinter::~BaseFingerprinter() = default;

void BaseFingerprinter::CloseAudio()
{
}

void BaseFingerprinter::Initialize(std::string input_path)
{
    path = std::move(input_path);
    ScopeGuard failed([this] {
        CloseAudio();
        state = NoInput;
    });
    try {
        GetAudioType(&format);
    } catch (FingerprinterException *inner) {
        throw new FingerprinterException("Get audio type error", inner);
    } catch (...) {
        throw new FingerprinterException("Get audio type error", nullptr);
    }
    failed.Dismiss();
    state = Ready;
}

void BaseFingerprinter::Abandon(EngineHandle **handle)
{
    CloseAudio();
    eng_destroy(handle);
    state = NoInput;
}

void BaseFingerprinter::SerializeFingerprint(EngineHandle **handle, char **text)
{
    const ResultCode result = eng_serialize_xml(*handle, text);
    if (result == ENG_OK)
        return;
    Abandon(handle);
    throw new FingerprinterException(WithCode("Error serializing fingerprint. Error code:", result),
                                     nullptr);
}

int BaseFingerprinter::GenerateFingerprint(AlgorithmFlags requested, int32_t blocks, char **text)
{
    if (!text)
        throw new FingerprinterException("Invalid fingerprint buffer pointer provided", nullptr);
    *text = nullptr;
    if (state == Extracting)
        return -1;
    if (state == NoInput)
        return -2;
    state = Extracting;
    flags = requested;

    const uint32_t algorithm_id = AlgorithmIdFor(flags, &blocks);
    format.block_bytes = ReadSizeFor(algorithm_id, blocks, format);

    // Every failure from here on releases the input and the handle.
    EngineHandle *handle = nullptr;
    ScopeGuard failed([this, &handle] { Abandon(&handle); });
    CreateHandle(algorithm_id, &handle);
    uint8_t done = 0;
    const bool at_end = AddAudio(handle, GrowsAfterDone(algorithm_id), blocks, &done);
    if (!done)
        throw new FingerprinterException("Not enough audio to generate a fingerprint.", nullptr);
    // Serialising once, after the last piece, gives the same text as
    // serialising after every piece and keeping the last, at a cost that
    // does not grow with the square of the input's length. A failure there
    // cleans up by itself.
    failed.Dismiss();
    SerializeFingerprint(&handle, text);
    eng_destroy(&handle);
    state = Ready;
    return at_end ? 1 : 0;
}

void BaseFingerprinter::CreateHandle(uint32_t algorithm_id, EngineHandle **handle)
{
    const ResultCode result =
        eng_create(algorithm_id, format.sample_type, format.sample_rate, format.channels, handle);
    if (result != ENG_OK)
        throw new FingerprinterException(
            WithCode("Unable to create fingerprint. Error code:", result), nullptr);
}

bool BaseFingerprinter::AddAudio(EngineHandle *handle, bool reads_on_when_done, int32_t blocks,
                                 uint8_t *done)
{
    // Reading on after a fingerprint that more audio cannot change would
    // only cost time: a spectral fingerprint needs the first fourteen
    // seconds of a file, not the whole of it.
    bool at_end = false;
    uint32_t count = 0;
    do {
        uint8_t *bytes = nullptr;
        count = 0;
        at_end = ReadPiece(&count, &bytes);
        if (count != 0) {
            const ResultCode result = eng_add_audio(handle, bytes, count, done);
            if (result != ENG_OK)
                throw new FingerprinterException(
                    WithCode("Add audio to fingerprint error. Error code:", result), nullptr);
        }
    } while (blocks >= 1 && count != 0 && (reads_on_when_done || !*done));
    return at_end;
}

bool BaseFingerprinter::ReadPiece(uint32_t *count, uint8_t **bytes)
{
    try {
        return GetAudioSample(&format, count, bytes);
    } catch (FingerprinterException *inner) {
        throw new FingerprinterException("Unable to get audio sample.", inner);
    } catch (...) {
        throw new FingerprinterException("Unable to get audio sample.", nullptr);
    }
}

} // namespace Zuvanti
