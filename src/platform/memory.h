#pragma once

// The allocator's settings for a program that reads and writes texts of megabytes one after
// another (each item's page, deciphered, decoded, packed), on several threads.
namespace TMemory {

// Keeps freed blocks of up to 64 MB in the heap for the next such text instead of handing them
// back to the system at once: otherwise every page's buffers are fresh pages, each faulted in and
// zeroed again (a 1,000-item table took 30,000 to 110,000 page faults to load, varying from run to
// run, and up to twice the time). Call once, first thing in main. Does nothing where the C library
// has no such settings.
void SuitLargeTexts();

} // namespace TMemory
