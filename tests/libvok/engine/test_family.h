// A stand-in algorithm family that records how the engine interface calls
// it and answers what the test asks for, so that every path of the
// interface can be exercised without a real fingerprint algorithm.
#ifndef VOK_TESTS_ENGINE_TEST_FAMILY_H
#define VOK_TESTS_ENGINE_TEST_FAMILY_H

#include "engine/eng_registry.h"
#include "tests/support/alloc_faults.h"

namespace test_family {

struct Behaviour {
    ResultCode create_result = ENG_OK;
    bool create_leaves_state_null = false;
    ResultCode destroy_result = ENG_OK;
    ResultCode add_result = ENG_OK;
    uint8_t add_done = 1;
    ResultCode serialize_result = ENG_OK;
    bool serialize_builds_document = true;
};

struct Calls {
    int creates = 0, destroys = 0, adds = 0, serializes = 0;
    uint32_t id = 0, rate = 0, channels = 0;
    SampleType type = 0;
    void *state = nullptr;
    const uint8_t *samples = nullptr;
    uint32_t byte_count = 0;
    QueryElement **root_out = nullptr;
    bool root_was_null = false;
};

extern Behaviour behaviour;
extern Calls calls;

// Five rows with the registry's ids (3, 4, 5, 1, 2), all served by this family.
extern const AlgorithmEntry kRows[5];

// Installs the family in the registry with default behaviour and clears the record.
void install();

// A leak-checked test with the stand-in family in the registry; the
// built-in registry is back after the test.
class StandInFamilyTest : public vok_test::LeakCheckedTest {
protected:
    void SetUp() override
    {
        install();
        vok_test::LeakCheckedTest::SetUp();
    }
    void TearDown() override
    {
        eng_registry_override(nullptr);
        vok_test::LeakCheckedTest::TearDown();
    }
};

} // namespace test_family

#endif
