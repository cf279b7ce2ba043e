#include "platform/base/LargeBlocks.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "platform/base/Sanitizers.h"

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

constexpr bool kSanitised = TRX_ADDRESS_SANITIZER != 0;

// The block's size rounded up to whole huge pages (0 on overflow).
size_t MappedSize(size_t inBytes) {
  if (inBytes > SIZE_MAX - kHugePage) return 0;
  return (inBytes + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

bool IsMappedLargeBlock(size_t inBytes) { return !kSanitised && inBytes >= kLargeBlockBytes; }

void* NewLargeBlock(size_t inBytes) {
  if (!IsMappedLargeBlock(inBytes)) return std::calloc(1, inBytes ? inBytes : 1);
  const size_t size = MappedSize(inBytes);
  if (size == 0 || size > SIZE_MAX - kHugePage) return nullptr;
  // Mapped one huge page longer so that the block can start on a huge-page
  // boundary; the slack either side goes back at once.
  void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
  const uintptr_t end = start + size + kHugePage;
  if (aligned > start) munmap(raw, aligned - start);
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  // Only a hint: where the kernel has no huge page to spare, 4 KB pages serve.
  (void)madvise(block, size, MADV_HUGEPAGE);
#endif
  return block;
}

void DisposeLargeBlock(void* inBlock, size_t inBytes) {
  if (!inBlock) return;
  if (!IsMappedLargeBlock(inBytes)) {
    std::free(inBlock);
    return;
  }
  munmap(inBlock, MappedSize(inBytes));
}
