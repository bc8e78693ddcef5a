// The engine's handle interface, driven through a stand-in algorithm family.
#include <gtest/gtest.h>

#include <string>

#include "engine/eng_memory.h"
#include "engine/eng_registry.h"
#include "tests/libvok/engine/test_family.h"
#include "tests/support/alloc_faults.h"
#include <vok/vok_engine.h>

namespace {

using test_family::behaviour;
using test_family::calls;

class EngineInterface : public test_family::StandInFamilyTest {};

TEST(EngineRegistry, HasFiveRowsAndOffersOnlyBuiltFamilies)
{
    EXPECT_EQ(5u, eng_algorithm_count());
    for (uint32_t id : {0u, 6u, 7u, 0xFFFFFFFFu})
        EXPECT_EQ(nullptr, eng_registry_find(id)) << "id " << id;
}

TEST_F(EngineInterface, CreatePassesArgumentsInTheAlgorithmsOrder)
{
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(4, SAMPLE_MULAW, 8000, 1, &handle));
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(4u, calls.id);
    EXPECT_EQ(8000u, calls.rate);
    EXPECT_EQ(SAMPLE_MULAW, calls.type);
    EXPECT_EQ(1u, calls.channels);
    EXPECT_EQ(&test_family::kRows[1], handle->entry);
    EXPECT_EQ(calls.state, handle->state);
    EXPECT_EQ(ENG_OK, eng_destroy(&handle));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(1, calls.destroys);
}

TEST_F(EngineInterface, EveryRegistryIdFindsItsRow)
{
    const uint32_t ids[] = {3, 4, 5, 1, 2};
    for (int row = 0; row < 5; ++row) {
        EngineHandle *handle = nullptr;
        ASSERT_EQ(ENG_OK, eng_create(ids[row], SAMPLE_PCM_S16, 44100, 2, &handle));
        EXPECT_EQ(&test_family::kRows[row], handle->entry);
        eng_destroy(&handle);
    }
}

TEST_F(EngineInterface, CreateRefusalsLeaveNothingBehind)
{
    EngineHandle *sentinel = reinterpret_cast<EngineHandle *>(&behaviour);
    EngineHandle *handle = sentinel;
    EXPECT_EQ(ENG_E_UNKNOWN_ALGORITHM, eng_create(0, SAMPLE_PCM_S16, 44100, 2, &handle));
    EXPECT_EQ(ENG_E_UNKNOWN_ALGORITHM, eng_create(6, SAMPLE_PCM_S16, 44100, 2, &handle));
    EXPECT_EQ(sentinel, handle);
    EXPECT_EQ(0, calls.creates);

    EXPECT_EQ(ENG_E_INVALID_ARG, eng_create(3, SAMPLE_PCM_S16, 44100, 2, nullptr));
    EXPECT_EQ(0, calls.creates);

    behaviour.create_result = 0x900e0004u;
    EXPECT_EQ(0x900e0004u, eng_create(3, SAMPLE_PCM_S16, 12345, 2, &handle));
    EXPECT_EQ(sentinel, handle) << "the caller's variable is written only on success";

    behaviour.create_result = ENG_OK;
    eng_mem_fail_allocation(1);
    EXPECT_EQ(ENG_E_NO_MEMORY, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    EXPECT_EQ(sentinel, handle);
}

TEST_F(EngineInterface, AddAudioChecksPointersAndPassesEverythingThrough)
{
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    const uint8_t bytes[4] = {1, 2, 3, 4};
    uint8_t done = 7;
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_add_audio(nullptr, bytes, 4, &done));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_add_audio(handle, nullptr, 4, &done));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_add_audio(handle, bytes, 4, nullptr));
    EXPECT_EQ(0, calls.adds);

    behaviour.add_done = 1;
    EXPECT_EQ(ENG_OK, eng_add_audio(handle, bytes, 0, &done));
    EXPECT_EQ(1, calls.adds);
    EXPECT_EQ(0u, calls.byte_count) << "a byte count of 0 is the algorithm's to judge";
    EXPECT_EQ(bytes, calls.samples);
    EXPECT_EQ(handle->state, calls.state);
    EXPECT_EQ(1, done);

    behaviour.add_result = 0x900e0009u;
    EXPECT_EQ(0x900e0009u, eng_add_audio(handle, bytes, 4, &done));
    eng_destroy(&handle);
}

TEST_F(EngineInterface, SerializeWritesTheDocumentWithAllLayoutOptions)
{
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    char *text = reinterpret_cast<char *>(&behaviour);
    ASSERT_EQ(ENG_OK, eng_serialize_xml(handle, &text));
    EXPECT_TRUE(calls.root_was_null);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<T A=\"1\">x&lt;y</T>\n"),
              text);
    EXPECT_EQ(ENG_OK, eng_free_text(&text));
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(ENG_OK, eng_free_text(&text)) << "a cleared variable is harmless";
    eng_destroy(&handle);
}

TEST_F(EngineInterface, SerializeFailuresLeaveTheTextNullAndFreeTheDocument)
{
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    char *text = nullptr;
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_serialize_xml(nullptr, &text));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_serialize_xml(handle, nullptr));

    // The algorithm's own failure wins, even with a half-built document.
    behaviour.serialize_result = 0x900e0001u;
    text = reinterpret_cast<char *>(&behaviour);
    EXPECT_EQ(0x900e0001u, eng_serialize_xml(handle, &text));
    EXPECT_EQ(nullptr, text);

    // Success without a document: the writer produces no text.
    behaviour.serialize_result = ENG_OK;
    behaviour.serialize_builds_document = false;
    EXPECT_EQ(ENG_E_NO_TEXT, eng_serialize_xml(handle, &text));
    EXPECT_EQ(nullptr, text);
    eng_destroy(&handle);
}

TEST_F(EngineInterface, SerializeUnderEveryAllocationFailure)
{
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    const uint32_t failures = vok_test::for_each_allocation_failure([&] {
        char *text = nullptr;
        const ResultCode result = eng_serialize_xml(handle, &text);
        if (vok_test::allocation_failed()) {
            EXPECT_NE(ENG_OK, result);
            EXPECT_EQ(nullptr, text);
        } else {
            EXPECT_EQ(ENG_OK, result);
        }
        eng_free_text(&text);
    });
    EXPECT_GE(failures, 3u);
    eng_destroy(&handle);
}

TEST_F(EngineInterface, DestroyReleasesEvenAHandleWithoutState)
{
    behaviour.create_leaves_state_null = true;
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(5, SAMPLE_PCM_U8, 8000, 1, &handle));
    EXPECT_EQ(nullptr, handle->state);
    EXPECT_EQ(ENG_OK, eng_destroy(&handle));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(0, calls.destroys) << "no state, nothing for the algorithm to destroy";
}

TEST_F(EngineInterface, DestroyAnswersTheAlgorithmsResultAndIsIdempotent)
{
    EngineHandle *handle = nullptr;
    ASSERT_EQ(ENG_OK, eng_create(1, SAMPLE_PCM_S16, 44100, 2, &handle));
    behaviour.destroy_result = 0x900f0004u;
    EXPECT_EQ(0x900f0004u, eng_destroy(&handle));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(ENG_OK, eng_destroy(&handle));
    EXPECT_EQ(1, calls.destroys);
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_destroy(nullptr));
    EXPECT_EQ(ENG_E_INVALID_ARG, eng_free_text(nullptr));
}

} // namespace
