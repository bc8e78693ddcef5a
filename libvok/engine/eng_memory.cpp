#include "engine/eng_memory.h"

#include <atomic>
#include <cstdlib>

namespace {

// Set by the first eng_mem_initialize and never cleared. Atomic so that
// handles may live on several threads at once; there is no other locking.
std::atomic<uint8_t> g_started{0};

std::atomic<int64_t> g_live_blocks{0};
std::atomic<uint32_t> g_fail_countdown{0};

// True when the armed failure falls on this allocation.
bool injected_failure()
{
    uint32_t left = g_fail_countdown.load(std::memory_order_relaxed);
    while (left != 0) {
        if (g_fail_countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
            return left == 1;
    }
    return false;
}

} // namespace

ResultCode eng_mem_initialize(uint32_t number, uint32_t converted)
{
    (void)number;
    (void)converted;
    uint8_t expected = 0;
    if (!g_started.compare_exchange_strong(expected, 1))
        return MEM_E_ALREADY_STARTED;
    return ENG_OK;
}

void *eng_malloc(size_t size)
{
    if (!g_started.load(std::memory_order_relaxed) || injected_failure())
        return nullptr;
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block)
        g_live_blocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void *eng_realloc(void *block, size_t size)
{
    if (!g_started.load(std::memory_order_relaxed) || injected_failure())
        return nullptr;
    void *grown = std::realloc(block, size == 0 ? 1 : size);
    if (grown && !block)
        g_live_blocks.fetch_add(1, std::memory_order_relaxed);
    return grown;
}

ResultCode eng_free(void *block)
{
    if (!g_started.load(std::memory_order_relaxed))
        return MEM_E_NOT_STARTED;
    if (block) {
        std::free(block);
        g_live_blocks.fetch_sub(1, std::memory_order_relaxed);
    }
    return ENG_OK;
}

void eng_mem_fail_allocation(uint32_t nth)
{
    g_fail_countdown.store(nth, std::memory_order_relaxed);
}

uint8_t eng_mem_failure_pending(void)
{
    return g_fail_countdown.load(std::memory_order_relaxed) != 0;
}

int64_t eng_mem_live_blocks(void)
{
    return g_live_blocks.load(std::memory_order_relaxed);
}
