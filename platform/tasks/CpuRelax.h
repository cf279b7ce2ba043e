// A pause for the loops that look for work for a few microseconds before
// they sleep: it lets the other hardware thread of the core run and saves
// power while the loop spins.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}
