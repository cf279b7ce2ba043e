// Giving freed memory back to the system. The C allocator keeps what a
// program frees for its next requests: a closed 1080p movie document frees
// some seventy megabytes of frames and decoder state, and without these the
// process never got any smaller. glibc also makes a heap per thread (up to
// eight per core) and each keeps the top of what its threads freed, which
// trimming does not reach; a few shared heaps keep that small.
#pragma once

// Caps the allocator's heaps at a few; best called before threads start
// (heaps made until then stay). Repeated calls do nothing more.
void LimitAllocatorHeaps();
// Gives the free pages of every heap back to the system.
void ReleaseFreeMemory();
