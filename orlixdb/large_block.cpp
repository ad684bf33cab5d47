#include "large_block.h"

#include <stdint.h>

#if defined(__linux__)
#include <sys/mman.h>

/* Only whole 2 MiB pieces inside the block can be large pages; the advice covers those alone. */
void AdviseLargeBlock(void* block, size_t size)
{
    const uintptr_t kLargePage = (uintptr_t)2 << 20;
    uintptr_t start = ((uintptr_t)block + kLargePage - 1) & ~(kLargePage - 1);
    uintptr_t end = ((uintptr_t)block + size) & ~(kLargePage - 1);
    if (block != nullptr && end > start) madvise((void*)start, end - start, MADV_HUGEPAGE);
}
#else
void AdviseLargeBlock(void*, size_t) {}
#endif
