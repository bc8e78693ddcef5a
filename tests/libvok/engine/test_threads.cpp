// Different handles on different threads: once eng_initialize has returned,
// every algorithm gives on each thread the document a single thread gives,
// and documents decode on several threads at once, each with its own
// problem text. The threads run first, in a fresh process, so that they
// also race for the tables built at first use. Built under ThreadSanitizer
// by `make tsan`.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <vok/vok_engine.h>

namespace {

// 16 s of 44.1 kHz stereo 16-bit audio: enough for a spectral fingerprint
// and several streaming blocks. Chords that change every half second over
// a little noise, so that every band and frame carries information.
std::vector<uint8_t> music()
{
    const double rate = 44100, pi = 3.14159265358979323846;
    const double roots[] = {220.0, 246.9, 196.0, 261.6, 174.6, 293.7};
    std::vector<uint8_t> bytes;
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < 16 * 44100; ++i) {
        const double t = i / rate, root = roots[(i / 22050) % 6];
        noise = noise * 1664525u + 1013904223u;
        const double value =
            6000 * std::sin(2 * pi * root * t) + 4000 * std::sin(2 * pi * root * 1.5 * t) +
            2500 * std::sin(2 * pi * root * 4.0 * t) + static_cast<double>(noise >> 22) - 512.0;
        const auto sample = static_cast<int16_t>(value);
        for (int channel = 0; channel < 2; ++channel) {
            bytes.push_back(static_cast<uint8_t>(sample & 0xFF));
            bytes.push_back(static_cast<uint8_t>((sample >> 8) & 0xFF));
        }
    }
    return bytes;
}

// The document of one handle, or the failing code in words.
std::string fingerprint(uint32_t id, const std::vector<uint8_t> &audio)
{
    EngineHandle *handle = nullptr;
    ResultCode result = eng_create(id, SAMPLE_PCM_S16, 44100, 2, &handle);
    uint8_t done = 0;
    const uint32_t piece = 44100 * 4;
    for (size_t at = 0; result == ENG_OK && at < audio.size(); at += piece) {
        const auto count = static_cast<uint32_t>(std::min<size_t>(piece, audio.size() - at));
        result = eng_add_audio(handle, audio.data() + at, count, &done);
    }
    char *text = nullptr;
    if (result == ENG_OK)
        result = eng_serialize_xml(handle, &text);
    std::string document = result == ENG_OK ? text : eng_result_text(result);
    eng_free_text(&text);
    eng_destroy(&handle);
    return document;
}

TEST(EngineThreads, EachHandleOnItsOwnThreadGivesTheSingleThreadedDocument)
{
    EngineConfig config = {nullptr, 0, 0};
    ASSERT_EQ(ENG_OK, eng_initialize(&config));
    const std::vector<uint8_t> audio = music();
    const uint32_t ids[] = {1, 2, 3, 4, 5, 1, 2, 3};
    std::vector<std::string> threaded(sizeof ids / sizeof ids[0]);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < threaded.size(); ++i)
        threads.emplace_back([&, i] { threaded[i] = fingerprint(ids[i], audio); });
    for (std::thread &thread : threads)
        thread.join();
    for (size_t i = 0; i < threaded.size(); ++i) {
        const std::string alone = fingerprint(ids[i], audio);
        EXPECT_EQ(0u, alone.find("<?xml")) << "id " << ids[i] << ": " << alone;
        EXPECT_EQ(alone, threaded[i]) << "id " << ids[i];
    }
}

} // namespace

namespace {

// Decodes a document and a damaged copy: the frames counted, then the
// damaged copy's problem, which no other thread's decoding may change.
std::string decode_twice(const std::string &document, const std::string &damaged)
{
    EngineFrames frames{};
    size_t consumed = 0;
    if (eng_decode_stream_xml(document.data(), document.size(), &frames, &consumed) != ENG_OK)
        return eng_decode_problem();
    const std::string count = std::to_string(frames.count);
    eng_free_frames(&frames);
    if (eng_decode_stream_xml(damaged.data(), damaged.size(), &frames, &consumed) == ENG_OK)
        return "damaged copy accepted";
    const std::string problem = eng_decode_problem();
    std::this_thread::yield();
    return count + ": " + problem + (problem == eng_decode_problem() ? "" : " (changed)");
}

// Threads race for the block code lookup, built at first use, and each has
// its own problem text.
TEST(EngineThreads, DocumentsDecodeOnEachThreadWithItsOwnProblem)
{
    const std::string document = fingerprint(3, music());
    const size_t ord = document.find("ORD=\"1\"");
    ASSERT_NE(std::string::npos, ord);
    std::vector<std::string> decoded(6);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < decoded.size(); ++i) {
        threads.emplace_back([&, i] {
            const std::string damaged =
                std::string(document).replace(ord, 7, "ORD=\"" + std::to_string(i + 2) + "\"");
            decoded[i] = decode_twice(document, damaged);
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (size_t i = 0; i < decoded.size(); ++i)
        EXPECT_EQ("1280: FP_BLOCK 1: ORD is \"" + std::to_string(i + 2) + "\", not \"1\"",
                  decoded[i]);
}

} // namespace
