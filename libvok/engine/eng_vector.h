/*
 * Hot loops of the engine are also built for AVX2 on x86-64 with GCC, and
 * the best version is picked when the program starts; elsewhere they are
 * plain loops. Not under ThreadSanitizer, whose runtime is not up yet when
 * the choice is made.
 */
#ifndef VOK_ENGINE_ENG_VECTOR_H
#define VOK_ENGINE_ENG_VECTOR_H

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define ENG_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ENG_VECTOR_CLONES
#endif

#endif /* VOK_ENGINE_ENG_VECTOR_H */
