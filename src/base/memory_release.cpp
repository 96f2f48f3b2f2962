#include "base/memory_release.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif

void ReturnLargeBuffersToSystem() {
#ifdef __GLIBC__
    // Fixed bounds: the allocator's own grow with the largest buffer freed
    // so far, the trimming bound to twice that. Lower bounds cost time
    // (at 200 000 tracks 1 MB and 128 KB made the build a quarter slower):
    // buffers of a few MB come and go by the thousand.
    ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
}

void ReleaseFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}
