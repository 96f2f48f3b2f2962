#pragma once
// The stream values every format reader delivers, in one unit each; the
// audio record turns them into its own numbers.
#include <cmath>
#include <cstdint>

struct TStreamProps {
    std::int64_t Duration = 0;    // playing time in milliseconds, 0 when unknown
    std::int32_t BitRate = 0;     // bit/s, 0 when unknown
    std::int32_t SampleRate = 0;  // Hz, 0 when unknown
    std::int32_t Channels = 0;    // 0 when unknown
    // The playing time before any rounding, -1 when only Duration is known;
    // records round it once, to whole seconds.
    double ExactSeconds = -1;

    void ClearStream() { *this = TStreamProps(); }
    inline void SetPlayingTime(double seconds);
    double Seconds() const { return ExactSeconds >= 0 ? ExactSeconds : double(Duration) / 1000; }
};

// A non-negative count from a computed value: nearest whole number, halves
// to the even neighbour; NaN and negative values give 0, and huge ones are
// capped far beyond any real file.
inline std::int64_t RoundCount(double value) {
    constexpr double kMax = 1e15;
    if (!(value > 0)) return 0;
    if (value >= kMax) return static_cast<std::int64_t>(kMax);
    return static_cast<std::int64_t>(std::nearbyint(value));  // the default mode rounds halves to even
}

inline std::int64_t MillisecondsOf(double seconds) { return RoundCount(seconds * 1000); }

inline void TStreamProps::SetPlayingTime(double seconds) {
    ExactSeconds = seconds > 0 && seconds < 1e12 ? seconds : 0;
    Duration = MillisecondsOf(seconds);
}
