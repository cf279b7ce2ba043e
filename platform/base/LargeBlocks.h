// Zero-filled memory for large pixel planes, mapped straight from the kernel
// on a huge-page boundary and marked for huge pages. The first write to a
// fresh 4 KB page costs several microseconds on a virtual machine, and a
// 1280x720 ARGB frame spans 900 of them; in 2 MB pages the same frame takes
// two faults. Frame buffers and the tracker's planes are made again for every
// analysis, so their pages are always fresh. Requests below one huge page, and
// every request in an address-sanitised build (whose checks need the ordinary
// allocator), come from calloc.
#pragma once

#include <cstddef>

// Requests from this size on are mapped on their own.
constexpr size_t kLargeBlockBytes = size_t{2} << 20;

// At least inBytes zero-filled bytes (a mapped block starts on a 2 MB
// boundary, an allocated one on the allocator's usual one), or nullptr.
void* NewLargeBlock(size_t inBytes);
// Frees what NewLargeBlock answered, given the same inBytes; nullptr is ignored.
void DisposeLargeBlock(void* inBlock, size_t inBytes);
// Whether a request of inBytes is mapped rather than allocated.
bool IsMappedLargeBlock(size_t inBytes);
