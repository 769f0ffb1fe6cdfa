#include "platform/memory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc
#include <new>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#endif

void TMemory::SuitLargeTexts() {
#if defined(__GLIBC__)
    // Both are set: fixing one turns off glibc's own adjustment of the other, and either alone is
    // worse than neither.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // The heap grows 32 MB at a time, so that the memory AdviseLargePagesForHeap finds new is
    // mostly not yet written when it asks for large pages for it.
    mallopt(M_TOP_PAD, 32 << 20);
#endif
    AdviseLargePagesForHeap();
}

void TMemory::AdviseLargePagesForHeap() {
#if defined(__linux__) && defined(__GLIBC__)
    // glibc's main heap is the data segment, which grows at the program break.
    static std::mutex mutex;
    static uintptr_t advisedTo = 0;
    const std::lock_guard lock(mutex);
    const uintptr_t end = reinterpret_cast<uintptr_t>(::sbrk(0));
    if (end == uintptr_t(-1))
        return;
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    if (advisedTo == 0) {
        advisedTo = end; // the heap so far: small, and written already
        return;
    }
    if (end <= advisedTo)
        return;
    const uintptr_t from = advisedTo / page * page;
    ::madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);
    advisedTo = end;
#endif
}

namespace {

constexpr size_t LargePage = size_t(2) << 20;

size_t roundUp(size_t bytes, size_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

} // namespace

#if defined(__linux__)

TMemoryBlock::TMemoryBlock(size_t bytes) : m_size(roundUp(bytes, LargePage)) {
    void* p = ::mmap(nullptr, m_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    // Only advice: where large pages are off or used up, the block has ordinary ones.
    ::madvise(p, m_size, MADV_HUGEPAGE);
    m_data = static_cast<char*>(p);
}

TMemoryBlock::~TMemoryBlock() {
    if (m_data)
        ::munmap(m_data, m_size);
}

void TMemoryBlock::ShrinkTo(size_t bytes) {
    // An unused block stays whole until it goes (a mapping is never emptied).
    const size_t keep = roundUp(bytes, LargePage);
    if (keep == 0 || keep >= m_size)
        return;
    if (::munmap(m_data + keep, m_size - keep) == 0)
        m_size = keep;
}

#else

TMemoryBlock::TMemoryBlock(size_t bytes) : m_size(bytes) {
    m_data = static_cast<char*>(std::malloc(bytes ? bytes : 1));
    if (!m_data)
        throw std::bad_alloc();
}

TMemoryBlock::~TMemoryBlock() {
    std::free(m_data);
}

void TMemoryBlock::ShrinkTo(size_t) {}

#endif
