#pragma once
// Runs work(0) .. work(count - 1) on threads of its own, each index once,
// while the caller goes on with something else.
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TParallelLoop {
public:
    // Starts the threads at once; with none, Wait does all the work.
    TParallelLoop(std::size_t count, unsigned threads, std::function<void(std::size_t)> work);
    // A loop not waited for is stopped: the threads finish the index they
    // are at and end. Nothing is rethrown here.
    ~TParallelLoop();
    TParallelLoop(const TParallelLoop&) = delete;
    TParallelLoop& operator=(const TParallelLoop&) = delete;

    // Works on the remaining indices alongside the threads until every one
    // is done; the first exception a work call raised passes on (the
    // remaining indices are then skipped).
    void Wait();

private:
    void Run();
    void Join();

    const std::size_t count_;
    std::function<void(std::size_t)> work_;
    std::atomic<std::size_t> next_{0};
    std::mutex failure_;
    std::exception_ptr error_;
    std::vector<std::thread> threads_;
};
