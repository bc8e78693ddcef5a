/*
 * The engine's memory layer. All engine code allocates and frees through
 * these three routines, which work only once the layer has been started
 * (by eng_initialize). Before that, allocation yields null and release
 * fails, so every operation that needs memory reports its module's
 * out-of-memory code.
 */
#ifndef VOK_ENGINE_ENG_MEMORY_H
#define VOK_ENGINE_ENG_MEMORY_H

#include <vok/eng_types.h>

ENG_BEGIN_DECLS

/* Starts the layer. The two numbers are accepted for the start-up record's
 * sake and have no effect. A second call answers MEM_E_ALREADY_STARTED and
 * leaves the layer started. */
ResultCode eng_mem_initialize(uint32_t number, uint32_t converted);

/* Null while the layer is not started or when the allocation fails. A size
 * of 0 still yields a distinct block, so null always means failure. */
void *eng_malloc(size_t size);

/* Null while the layer is not started (the old block is left alone) or when
 * the reallocation fails (the old block is then still valid). */
void *eng_realloc(void *block, size_t size);

/* MEM_E_NOT_STARTED while the layer is not started (nothing is freed);
 * otherwise frees the block (null is accepted) and answers 0. */
ResultCode eng_free(void *block);

/* --- Hooks for tests ----------------------------------------------------
 * Allocation failure is a real path. A test arms the layer to fail the
 * nth allocation (eng_malloc or eng_realloc) from now on, once; 0 disarms.
 * The count of live blocks lets a test prove that a failing operation
 * released everything it had allocated. */
void eng_mem_fail_allocation(uint32_t nth);
/* 1 while an armed failure has not happened yet. */
uint8_t eng_mem_failure_pending(void);
/* Blocks allocated through the layer and not yet freed. */
int64_t eng_mem_live_blocks(void);

ENG_END_DECLS

#endif /* VOK_ENGINE_ENG_MEMORY_H */
