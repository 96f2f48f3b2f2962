#include "base/parallel_loop.h"

#include <algorithm>

TParallelLoop::TParallelLoop(std::size_t count, unsigned threads, std::function<void(std::size_t)> work)
    : count_(count), work_(std::move(work)) {
    const std::size_t wanted = std::min<std::size_t>(threads, count);
    for (std::size_t i = 0; i < wanted; ++i) threads_.emplace_back([this] { Run(); });
}

TParallelLoop::~TParallelLoop() {
    next_ = count_;
    Join();
}

void TParallelLoop::Run() {
    try {
        for (std::size_t i; (i = next_++) < count_;) work_(i);
    } catch (...) {
        std::lock_guard<std::mutex> lock(failure_);
        if (!error_) error_ = std::current_exception();
        next_ = count_;
    }
}

void TParallelLoop::Join() {
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
}

void TParallelLoop::Wait() {
    // The caller has nothing else to do: it takes indices too.
    Run();
    Join();
    if (error_) std::rethrow_exception(error_);
}
