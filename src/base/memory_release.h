#pragma once
// How the program's freed memory goes back to the system.

// Buffers of 16 MB and more are taken straight from the system and given
// back when freed, and the allocator's pools are trimmed as freed memory
// gathers at their end. Left alone, the allocator raises both bounds with
// every large buffer freed and then keeps what is freed: at 200 000 tracks
// a tenth of the peak. Called first thing in main.
void ReturnLargeBuffersToSystem();

// The allocator keeps freed blocks for reuse, each thread's in a pool of its
// own. After a stage that made and freed much on many threads (the scan, the
// pages) the next stage's threads reuse little of it, yet it still counts
// as the process's memory; called between such stages.
void ReleaseFreedMemory();
