#pragma once

#include <cstddef>

// The allocator's settings for a program that reads and writes texts of megabytes one after
// another (each item's page, deciphered, decoded, packed), on several threads, and the memory for
// what a table keeps of them.
namespace TMemory {

// Keeps freed blocks of up to 64 MB in the heap for the next such text instead of handing them
// back to the system at once: otherwise every page's buffers are fresh pages, each faulted in and
// zeroed again (a 1,000-item table took 30,000 to 110,000 page faults to load, varying from run to
// run, and up to twice the time). Call once, first thing in main. Does nothing where the C library
// has no such settings.
void SuitLargeTexts();

// Asks for large pages (see TMemoryBlock) for the part of the heap the allocator took from the
// system since the last call: a loading table's cells are many small texts, and the heap they are
// made in is fresh memory faulted in page by page otherwise. Cheap to call often (once a piece of
// a file read); does nothing where the heap cannot be found so.
void AdviseLargePagesForHeap();

} // namespace TMemory

// A block of memory taken from the system in one piece, for many things written once, one after
// another, and kept together (the packed pages of a loaded table). Where the system has large pages
// (2 MB), the block asks for them: the first write into fresh memory costs a page fault, and on a
// virtual machine a fault costs microseconds; with large pages one fault serves 2 MB instead of
// 4 KB. Without them it is ordinary memory.
class TMemoryBlock {
  public:
    // Throws std::bad_alloc when the system has no room for it.
    explicit TMemoryBlock(size_t bytes);
    ~TMemoryBlock();
    TMemoryBlock(const TMemoryBlock&) = delete;
    TMemoryBlock& operator=(const TMemoryBlock&) = delete;

    char* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    // Hands what lies beyond the first `bytes` back to the system (rounded up to a large page);
    // what lies before stays as it is.
    void ShrinkTo(size_t bytes);

  private:
    char* m_data = nullptr;
    size_t m_size = 0;
};
