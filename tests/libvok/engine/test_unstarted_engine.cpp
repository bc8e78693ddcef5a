// What the engine does before its memory layer has been started. This runs
// in a program of its own: once started, the layer stays started.
#include <gtest/gtest.h>

#include "engine/eng_memory.h"
#include "tests/libvok/engine/test_family.h"
#include <vok/vok_engine.h>

TEST(UnstartedEngine, RefusesMemoryUntilStartedThenStaysStarted)
{
    test_family::install();
    int local = 0;

    EXPECT_EQ(nullptr, eng_malloc(16));
    EXPECT_EQ(nullptr, eng_realloc(nullptr, 16));
    EXPECT_EQ(MEM_E_NOT_STARTED, eng_free(nullptr));
    EXPECT_EQ(MEM_E_NOT_STARTED, eng_free(&local)); // not freed: it is not a heap block

    EngineHandle *handle = nullptr;
    EXPECT_EQ(ENG_E_NO_MEMORY, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    EXPECT_EQ(nullptr, handle);
    EXPECT_EQ(0, test_family::calls.creates);

    EXPECT_EQ(ENG_E_NO_CONFIG, eng_initialize(nullptr));
    EXPECT_EQ(nullptr, eng_malloc(16)) << "a refused start-up starts nothing";

    const EngineConfig config = {nullptr, 0, 0};
    EXPECT_EQ(ENG_OK, eng_initialize(&config));
    EXPECT_EQ(ENG_OK, eng_initialize(&config)) << "a second start-up is not an error";
    EXPECT_EQ(MEM_E_ALREADY_STARTED, eng_mem_initialize(0, 0));

    void *block = eng_malloc(16);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(ENG_OK, eng_free(block));
    EXPECT_EQ(ENG_OK, eng_free(nullptr));

    EXPECT_EQ(ENG_OK, eng_create(3, SAMPLE_PCM_S16, 44100, 2, &handle));
    EXPECT_EQ(ENG_OK, eng_destroy(&handle));
    eng_registry_override(nullptr);
}

TEST(UnstartedEngine, StartUpRecordWithTextNumber)
{
    // The numbers have no effect; a record that claims a text but gives none
    // must not be read through.
    const EngineConfig with_text = {"123", 7, 1};
    const EngineConfig claims_text = {nullptr, 7, 1};
    EXPECT_EQ(ENG_OK, eng_initialize(&with_text));
    EXPECT_EQ(ENG_OK, eng_initialize(&claims_text));
}
