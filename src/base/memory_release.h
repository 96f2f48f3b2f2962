#pragma once
// How the program's freed memory goes back to the system.

// Buffers of 16 MB and more are taken straight from the system and given
// back when freed, and a pool gives back what gathers freed at its end
// past 16 MB. Left alone, the allocator raises both bounds with every large
// buffer freed and then keeps what is freed. Called first thing in main.
void ReturnLargeBuffersToSystem();

// The allocator keeps freed blocks for reuse, each thread's in a pool of its
// own. After a stage that made and freed much on many threads (the scan, the
// pages) the next stage's threads reuse little of it, yet it still counts
// as the process's memory; called between such stages.
void ReleaseFreedMemory();
