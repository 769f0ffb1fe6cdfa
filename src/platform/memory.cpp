#include "platform/memory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void TMemory::SuitLargeTexts() {
#if defined(__GLIBC__)
    // Both are set: fixing one turns off glibc's own adjustment of the other, and either alone is
    // worse than neither.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}
