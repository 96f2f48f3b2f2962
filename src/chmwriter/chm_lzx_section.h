#pragma once
// The MSCompressed section: its bytes are cut into reset intervals, each
// compressed on a worker thread, and the results joined in order, so the
// stream is the same for any number of threads.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "chmwriter/chm_bytes.h"
#include "chmwriter/lzx_compressor.h"

struct TLzxSectionResult {
    TBytes Content;                           // the joined LZX stream, unless handed to OnOutput
    std::vector<std::uint64_t> FrameOffsets;  // start of every frame in the stream
    std::uint64_t UncompressedLength = 0;
    std::uint64_t CompressedLength = 0;
};

class TLzxSectionCompressor {
public:
    // intervalFrames: frames per reset interval; threads: at least 1.
    TLzxSectionCompressor(unsigned windowBits, unsigned intervalFrames, unsigned threads);
    ~TLzxSectionCompressor();
    TLzxSectionCompressor(const TLzxSectionCompressor&) = delete;
    TLzxSectionCompressor& operator=(const TLzxSectionCompressor&) = delete;

    // Called on the calling thread with the uncompressed bytes finished so far.
    std::function<void(std::uint64_t bytesDone)> OnProgress;
    // When set, the stream goes here interval by interval, in order, on the
    // calling thread, instead of being kept in the result.
    std::function<void(std::span<const std::uint8_t> bytes)> OnOutput;

    // Appends section bytes; may wait while the workers are busy. A worker's
    // exception comes back out of Add or Finish.
    void Add(std::span<const std::uint8_t> bytes);
    std::uint64_t Length() const { return length_; }
    TLzxSectionResult Finish();

private:
    struct TJob {
        std::size_t Index;
        TBytes Input;
    };
    void Submit();
    void Collect(bool waitForAll);
    void Worker();
    void Stop();

    unsigned windowBits_;
    std::size_t intervalSize_;
    std::size_t maxPending_;
    TBytes current_;
    std::uint64_t length_ = 0;
    std::uint64_t done_ = 0;
    std::size_t submitted_ = 0;
    std::size_t joined_ = 0;
    TLzxSectionResult result_;

    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable resultReady_;
    std::deque<TJob> jobs_;
    std::map<std::size_t, std::pair<TLzxInterval, std::size_t>> finished_;  // index -> result, input size
    std::exception_ptr failure_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
