/*
 * bigBuffer.h --
 *
 *	Memory for large working buffers (caches, blocks of rows).  First
 *	touching fresh memory page by page costs a fault per 4 KiB; on a
 *	virtual machine that is several microseconds each, more than the
 *	arithmetic of a 3 x 3 filter over the same bytes.  Buffers of 2 MiB
 *	and more are therefore aligned to and rounded up to whole huge pages
 *	and advised to use them.
 */
#ifndef VELK_BIGBUFFER_H
#define VELK_BIGBUFFER_H

#include <cstddef>

/* Results: the buffer (release with std::free), or nullptr. */
void *bigBufferAlloc(size_t bytes);

#endif
