#include "tests/libvok/engine/test_family.h"

#include "engine/eng_memory.h"

namespace test_family {

Behaviour behaviour;
Calls calls;

namespace {

ResultCode create(uint32_t id, uint32_t rate, SampleType type, uint32_t channels, void **state)
{
    ++calls.creates;
    calls.id = id;
    calls.rate = rate;
    calls.type = type;
    calls.channels = channels;
    if (behaviour.create_result != ENG_OK)
        return behaviour.create_result;
    if (!behaviour.create_leaves_state_null) {
        *state = eng_malloc(32);
        if (!*state)
            return 0x90ee0001u;
    }
    calls.state = *state;
    return ENG_OK;
}

ResultCode destroy(void *state)
{
    ++calls.destroys;
    calls.state = state;
    eng_free(state);
    return behaviour.destroy_result;
}

ResultCode add_audio(void *state, const uint8_t *samples, uint32_t byte_count, uint8_t *done)
{
    ++calls.adds;
    calls.state = state;
    calls.samples = samples;
    calls.byte_count = byte_count;
    if (behaviour.add_result != ENG_OK)
        return behaviour.add_result;
    *done = behaviour.add_done;
    return ENG_OK;
}

ResultCode serialize(void *state, QueryElement **root)
{
    ++calls.serializes;
    calls.state = state;
    calls.root_out = root;
    calls.root_was_null = *root == nullptr;
    if (behaviour.serialize_builds_document) {
        *root = qe_create("T", "x<y");
        if (!*root)
            return 0x90ee0001u;
        const ResultCode result = qe_set_attribute(*root, "A", "1");
        if (result != ENG_OK)
            return result; // the engine frees the half-built document
    }
    return behaviour.serialize_result;
}

} // namespace

const AlgorithmEntry kRows[5] = {
    {3, create, destroy, add_audio, serialize}, {4, create, destroy, add_audio, serialize},
    {5, create, destroy, add_audio, serialize}, {1, create, destroy, add_audio, serialize},
    {2, create, destroy, add_audio, serialize},
};

void install()
{
    behaviour = Behaviour();
    calls = Calls();
    eng_registry_override(kRows);
}

} // namespace test_family
