// The fingerprinting driver over a scripted input and the stand-in
// algorithm family: every message, state and path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/base_fingerprinter.h"
#include "engine/eng_memory.h"
#include "tests/libvok/engine/test_family.h"
#include "tests/support/alloc_faults.h"

namespace {

using namespace Zuvanti;
using test_family::behaviour;
using test_family::calls;

// One step of the scripted input: a piece of audio, the end, or a failure.
struct Step {
    uint32_t bytes = 0;
    bool end = false;
    bool throws = false;       // throws a FingerprinterException ...
    bool throws_other = false; // ... or something else
};

class ScriptedInput : public BaseFingerprinter {
public:
    std::vector<Step> steps;
    size_t next = 0;
    std::vector<uint32_t> requests; // block_bytes of each read
    int closes = 0;
    bool type_throws = false, type_throws_other = false;
    std::function<void()> during_read;
    std::vector<uint8_t> audio = std::vector<uint8_t>(1 << 16, 0x55);

    // The driver's own record of its input, which only its subclasses see.
    int32_t State() const { return state; }
    const std::string &Path() const { return path; }

protected:
    void GetAudioType(AudioFormat *out) override
    {
        if (type_throws)
            throw new FingerprinterException("no such input", nullptr);
        if (type_throws_other)
            throw 42;
        out->sample_type = SAMPLE_PCM_S16;
        out->sample_rate = 44100;
        out->channels = 2;
    }
    bool GetAudioSample(AudioFormat *in, uint32_t *count, uint8_t **bytes) override
    {
        requests.push_back(in->block_bytes);
        if (during_read)
            during_read();
        const Step step = next < steps.size() ? steps[next++] : Step{0, true};
        if (step.throws)
            throw new FingerprinterException("read failed", nullptr);
        if (step.throws_other)
            throw std::string("odd");
        *count = step.bytes;
        *bytes = audio.data();
        return step.end;
    }
    void CloseAudio() override { ++closes; }
};

std::string chain(const FingerprinterException *e)
{
    std::string text;
    for (; e; e = e->Inner())
        text += "[" + e->Message() + "]";
    return text;
}

// Runs GenerateFingerprint and answers the chain of what it threw, or the
// status and the text it returned.
std::string generate(ScriptedInput &input, AlgorithmFlags flags, int32_t blocks)
{
    char *text = nullptr;
    try {
        const int status = input.GenerateFingerprint(flags, blocks, &text);
        std::string result = std::to_string(status) + ":" + (text ? text : "(null)");
        eng_free_text(&text);
        return result;
    } catch (FingerprinterException *e) {
        EXPECT_EQ(nullptr, text);
        const std::string result = chain(e);
        delete e;
        return result;
    }
}

const std::string kText = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<T A=\"1\">x&lt;y</T>\n";

class Driver : public test_family::StandInFamilyTest {};

TEST_F(Driver, WithoutInputOrWithANullTextPointer)
{
    ScriptedInput input;
    char *text = const_cast<char *>("held");
    EXPECT_EQ(-2, input.GenerateFingerprint(Stream1, 2, &text));
    EXPECT_EQ(nullptr, text);
    try {
        input.GenerateFingerprint(Stream1, 2, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (FingerprinterException *e) {
        EXPECT_EQ("[Invalid fingerprint buffer pointer provided]", chain(e));
        delete e;
    }
    EXPECT_EQ(0, calls.creates);
}

TEST_F(Driver, InitializeWrapsTheInputsFailure)
{
    for (bool other : {false, true}) {
        ScriptedInput input;
        input.type_throws = !other;
        input.type_throws_other = other;
        try {
            input.Initialize("x.wav");
            ADD_FAILURE() << "no exception";
        } catch (FingerprinterException *e) {
            EXPECT_EQ(other ? "[Get audio type error]" : "[Get audio type error][no such input]",
                      chain(e));
            delete e;
        }
        EXPECT_EQ(1, input.closes);
        EXPECT_EQ(BaseFingerprinter::NoInput, input.State());
        EXPECT_EQ("x.wav", input.Path());
    }
}

TEST_F(Driver, OneCallReadsToTheEndAddsEveryPieceAndSerialisesOnce)
{
    ScriptedInput input;
    input.Initialize("x.wav");
    EXPECT_EQ(BaseFingerprinter::Ready, input.State());
    input.steps = {{1000}, {1000}, {500}, {0, true}};
    EXPECT_EQ("1:" + kText, generate(input, Stream1, 2));
    EXPECT_EQ(3, calls.adds);
    EXPECT_EQ(500u, calls.byte_count);
    EXPECT_EQ(1, calls.serializes);
    EXPECT_EQ(1, calls.destroys);
    EXPECT_EQ(3u, calls.id);
    EXPECT_EQ(44100u, calls.rate);
    EXPECT_EQ(SAMPLE_PCM_S16, calls.type);
    EXPECT_EQ(2u, calls.channels);
    EXPECT_EQ(std::vector<uint32_t>(4, 1234800u), input.requests);
    EXPECT_EQ(0, input.closes) << "a success leaves the input open";
    EXPECT_EQ(BaseFingerprinter::Ready, input.State());
}

TEST_F(Driver, TheFlagWordPicksTheAlgorithm)
{
    struct Row {
        AlgorithmFlags flags;
        uint32_t id, bytes;
    };
    for (const Row &row : {Row{FileFixed, 1, 2646000}, Row{FileFloat, 2, 2646000},
                           Row{Stream4 | Continuous, 4, 1234800},
                           Row{FileFixed | Stream1, 1, 2646000}, Row{0, 1, 2646000}}) {
        ScriptedInput input;
        input.Initialize("x.wav");
        input.steps = {{100}, {0, true}};
        // A complete spectral fingerprint reads no further: audio remains.
        const std::string status = row.id <= 2 ? "0:" : "1:";
        EXPECT_EQ(status + kText, generate(input, row.flags, 2)) << row.flags;
        EXPECT_EQ(row.id, calls.id) << row.flags;
        EXPECT_EQ(row.bytes, input.requests[0]) << row.flags;
    }
}

TEST_F(Driver, OnlyAGrowingFingerprintReadsOnOnceDone)
{
    for (AlgorithmFlags flags : {FileFixed, FileFloat, Stream1, Stream4}) {
        ScriptedInput input;
        input.Initialize("x.wav");
        input.steps = {{100}, {200}, {300}, {0, true}};
        calls = test_family::Calls();
        const bool spectral = flags == FileFixed || flags == FileFloat;
        EXPECT_EQ((spectral ? "0:" : "1:") + kText, generate(input, flags, 1)) << flags;
        EXPECT_EQ(spectral ? 1 : 3, calls.adds) << flags;
        EXPECT_EQ(spectral ? 1u : 4u, input.requests.size()) << flags;
    }
}

TEST_F(Driver, FewerThanOneBlockMakesOneReadPerCallAndGoesOnFromThere)
{
    ScriptedInput input;
    input.Initialize("x.wav");
    input.steps = {{100}, {200}, {0, true}};
    EXPECT_EQ("0:" + kText, generate(input, Stream1, 0));
    EXPECT_EQ(100u, calls.byte_count);
    EXPECT_EQ("0:" + kText, generate(input, Stream1, -7));
    EXPECT_EQ(200u, calls.byte_count);
    EXPECT_EQ("[Not enough audio to generate a fingerprint.]", generate(input, Stream1, 0));
    EXPECT_EQ(std::vector<uint32_t>(3, 0u), input.requests);
    char *text = nullptr;
    EXPECT_EQ(-2, input.GenerateFingerprint(Stream1, 0, &text)) << "the failure left no input";
}

TEST_F(Driver, AnEmptyStretchEndsTheCallWithAudioRemaining)
{
    ScriptedInput input;
    input.Initialize("x.wav");
    input.steps = {{100}, {0}, {300}, {0, true}};
    EXPECT_EQ("0:" + kText, generate(input, Stream4, 1));
    EXPECT_EQ("1:" + kText, generate(input, Stream4, 1));
    EXPECT_EQ(300u, calls.byte_count);
    EXPECT_EQ(2, calls.creates);
}

TEST_F(Driver, EveryFailureIsReportedClosesTheInputAndDropsTheHandle)
{
    struct Row {
        const char *what;
        std::vector<Step> steps;
        std::function<void()> arrange;
        std::string thrown;
        int closes;
    };
    const std::vector<Row> rows = {
        {"create refused",
         {{100}},
         [] { behaviour.create_result = 0x900e0004u; },
         "[Unable to create fingerprint. Error code:900e0004.]",
         1},
        {"read failed",
         {{100}, {0, false, true}},
         [] {},
         "[Unable to get audio sample.][read failed]",
         1},
        {"read failed oddly", {{0, false, false, true}}, [] {}, "[Unable to get audio sample.]", 1},
        {"add refused",
         {{100}},
         [] { behaviour.add_result = 0x900e0009u; },
         "[Add audio to fingerprint error. Error code:900e0009.]",
         1},
        {"not enough audio",
         {{100}, {0, true}},
         [] { behaviour.add_done = 0; },
         "[Not enough audio to generate a fingerprint.]",
         1},
        {"nothing at all", {{0, true}}, [] {}, "[Not enough audio to generate a fingerprint.]", 1},
        {"serialise refused",
         {{100}, {0, true}},
         [] { behaviour.serialize_result = 0x90020001u; },
         "[Error serializing fingerprint. Error code:90020001.]",
         1},
    };
    for (const Row &row : rows) {
        test_family::install();
        ScriptedInput input;
        input.Initialize("x.wav");
        input.steps = row.steps;
        row.arrange();
        EXPECT_EQ(row.thrown, generate(input, Stream1, 2)) << row.what;
        EXPECT_EQ(row.closes, input.closes) << row.what;
        EXPECT_EQ(BaseFingerprinter::NoInput, input.State()) << row.what;
        char *text = nullptr;
        EXPECT_EQ(-2, input.GenerateFingerprint(Stream1, 2, &text)) << row.what;
    }
}

TEST_F(Driver, AnUnknownAlgorithmIdShowsTheCodeInLowerCaseHexadecimal)
{
    AlgorithmEntry rows[5];
    for (int i = 0; i < 5; ++i) {
        rows[i] = test_family::kRows[i];
        rows[i].id += 100; // no row offers ids 1 to 5 any more
    }
    eng_registry_override(rows);
    ScriptedInput input;
    input.Initialize("x.wav");
    EXPECT_EQ("[Unable to create fingerprint. Error code:90080606.]", generate(input, Stream4, 2));
}

TEST_F(Driver, AnExtractionInProgressRefusesASecondOne)
{
    ScriptedInput input;
    input.Initialize("x.wav");
    input.steps = {{100}, {0, true}};
    int inner_status = 0;
    char *inner_text = const_cast<char *>("held");
    input.during_read = [&] {
        inner_status = input.GenerateFingerprint(Stream1, 2, &inner_text);
        input.during_read = nullptr;
    };
    EXPECT_EQ("1:" + kText, generate(input, Stream1, 2));
    EXPECT_EQ(-1, inner_status);
    EXPECT_EQ(nullptr, inner_text);
}

TEST_F(Driver, EveryAllocationFailureIsReportedWithoutLeaks)
{
    std::vector<std::string> outcomes;
    vok_test::for_each_allocation_failure([&] {
        ScriptedInput input;
        input.Initialize("x.wav");
        input.steps = {{100}, {100}, {0, true}};
        outcomes.push_back(generate(input, Stream1, 2));
    });
    ASSERT_GE(outcomes.size(), 3u);
    EXPECT_EQ("[Unable to create fingerprint. Error code:90080001.]", outcomes[0]);
    EXPECT_EQ("[Unable to create fingerprint. Error code:90ee0001.]", outcomes[1]);
    for (size_t i = 2; i + 1 < outcomes.size(); ++i)
        EXPECT_EQ(0u, outcomes[i].find("[Error serializing fingerprint. Error code:90"))
            << outcomes[i];
    EXPECT_EQ("1:" + kText, outcomes.back());
}

} // namespace
