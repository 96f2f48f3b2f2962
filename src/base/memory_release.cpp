#include "base/memory_release.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif

void ReturnLargeBuffersToSystem() {
#ifdef __GLIBC__
    // A fixed bound: the allocator's own grows with the largest buffer freed
    // so far, and its bound for trimming the pools to twice that. Lower
    // bounds cost time: decoded cover pictures of a few MB come and go by
    // the thousand.
    ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
#endif
}

void ReleaseFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}
