// Compresses the MSCompressed section interval by interval on worker threads.
#include "chmwriter/chm_lzx_section.h"

#include <algorithm>
#include <stdexcept>

TLzxSectionCompressor::TLzxSectionCompressor(unsigned windowBits, unsigned intervalFrames, unsigned threads)
    : windowBits_(windowBits), intervalSize_(static_cast<std::size_t>(intervalFrames) * kLzxFrameSize) {
    if (intervalFrames == 0) throw std::invalid_argument("reset interval of no frames");
    threads = std::max(1u, threads);
    // Enough queued work to keep every worker busy without holding the
    // whole section in memory.
    maxPending_ = 2 * static_cast<std::size_t>(threads);
    current_.reserve(intervalSize_);
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Worker(); });
}

TLzxSectionCompressor::~TLzxSectionCompressor() { Stop(); }

void TLzxSectionCompressor::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    jobReady_.notify_all();
    for (auto& t : workers_)
        if (t.joinable()) t.join();
    workers_.clear();
}

void TLzxSectionCompressor::Worker() {
    for (;;) {
        TJob job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            jobReady_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            TLzxInterval interval = CompressLzxInterval(job.Input, windowBits_);
            std::lock_guard<std::mutex> lock(mutex_);
            finished_.emplace(job.Index, std::make_pair(std::move(interval), job.Input.size()));
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
        resultReady_.notify_all();
    }
}

void TLzxSectionCompressor::Add(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), intervalSize_ - current_.size());
        current_.insert(current_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        length_ += take;
        if (current_.size() == intervalSize_) Submit();
    }
}

void TLzxSectionCompressor::Submit() {
    TJob job{submitted_++, std::move(current_)};
    current_ = TBytes();
    current_.reserve(intervalSize_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    jobReady_.notify_one();
    Collect(false);
}

void TLzxSectionCompressor::Collect(bool waitForAll) {
    for (;;) {
        std::pair<TLzxInterval, std::size_t> next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            const bool mustWait = waitForAll ? joined_ < submitted_ : submitted_ - joined_ >= maxPending_;
            resultReady_.wait(lock, [&] { return failure_ || finished_.count(joined_) > 0 || !mustWait; });
            if (failure_) std::rethrow_exception(failure_);
            auto it = finished_.find(joined_);
            if (it == finished_.end()) return;
            next = std::move(it->second);
            finished_.erase(it);
        }
        ++joined_;
        const std::size_t frames = (next.second + kLzxFrameSize - 1) / kLzxFrameSize;
        if (next.first.FrameOffsets.size() != frames || (frames > 0 && next.first.FrameOffsets[0] != 0))
            throw std::logic_error("LZX interval with " + std::to_string(next.first.FrameOffsets.size()) +
                                   " frame offsets for " + std::to_string(frames) + " frames");
        const std::uint64_t base = result_.CompressedLength;
        for (std::uint64_t offset : next.first.FrameOffsets) result_.FrameOffsets.push_back(base + offset);
        if (OnOutput)
            OnOutput(next.first.Bytes);
        else
            result_.Content.insert(result_.Content.end(), next.first.Bytes.begin(), next.first.Bytes.end());
        result_.CompressedLength += next.first.Bytes.size();
        done_ += next.second;
        if (OnProgress) OnProgress(done_);
    }
}

TLzxSectionResult TLzxSectionCompressor::Finish() {
    // Readers decode whole frames, the last one too, so it is filled up with
    // zeros; the section length stays the true one.
    if (const std::size_t partial = current_.size() % kLzxFrameSize; partial != 0)
        current_.resize(current_.size() + kLzxFrameSize - partial, 0);
    if (!current_.empty()) Submit();
    Collect(true);
    Stop();
    result_.UncompressedLength = length_;
    return std::move(result_);
}
