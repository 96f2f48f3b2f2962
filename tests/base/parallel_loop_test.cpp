#include "base/parallel_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

// Each index exactly once, whatever the number of threads, the caller of
// Wait working too.
TEST(ParallelLoopTest, EveryIndexRunsOnce) {
    for (unsigned threads : {0u, 1u, 2u, 7u}) {
        std::vector<std::atomic<int>> runs(1000);
        TParallelLoop loop(runs.size(), threads, [&](std::size_t i) { ++runs[i]; });
        loop.Wait();
        for (std::size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i], 1) << i << " with " << threads;
    }
    TParallelLoop none(0, 3, [](std::size_t) { FAIL(); });
    none.Wait();
}

// A failing index ends the loop; Wait passes the error on.
TEST(ParallelLoopTest, FirstErrorReachesTheWaiterAndStopsTheRest) {
    std::atomic<int> done{0};
    // Each index takes a moment, so the others cannot finish every index
    // while the failing one's thread waits for a core on a busy machine.
    TParallelLoop loop(100000, 2, [&](std::size_t i) {
        if (i == 10) throw std::runtime_error("index 10");
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        ++done;
    });
    EXPECT_THROW(
        {
            try {
                loop.Wait();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "index 10");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_LT(done, 99999);
}

// A loop that is not waited for (the run was stopped) ends soon after its
// current indices instead of working through the rest.
TEST(ParallelLoopTest, LeftWithoutWaitingStopsEarly) {
    std::atomic<int> done{0};
    {
        TParallelLoop loop(100000, 2, [&](std::size_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++done;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(done, 1000);
}
