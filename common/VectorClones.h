// VANTRY_VECTOR_CLONES before a function with pixel or convolution loops also compiles it for
// AVX2, picked at load time where the CPU has it (not under the sanitizers, whose runtimes do not
// take function clones).
#pragma once

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
#define VANTRY_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VANTRY_VECTOR_CLONES
#endif
