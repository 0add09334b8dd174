/*
 * bigBuffer.cpp --
 *
 *	Huge-page aligned allocation of large working buffers.
 */
#include "core/bigBuffer.h"

#include <sys/mman.h>

#include <cstdlib>

void *bigBufferAlloc(size_t bytes)
{
    const size_t huge = (size_t)2 << 20;
    if (bytes < huge)
        return std::malloc(bytes ? bytes : 1);
    if (bytes > (size_t)-1 - huge)
        return nullptr;
    size_t whole = (bytes + huge - 1) / huge * huge;
    void *mem = nullptr;
    if (posix_memalign(&mem, huge, whole) != 0)
        return nullptr;
    madvise(mem, whole, MADV_HUGEPAGE);
    return mem;
}
