// Finds the LZ77 matches of one reset interval for the LZX encoder.
#include "chmwriter/lzx_matcher.h"

#include "chmwriter/lzx_compressor.h"
#include "chmwriter/lzx_format.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// Rough bit prices, only used to rank candidates before the real trees exist.
constexpr int kLiteralBits = 6;
constexpr int kRepeatCost[3] = {5, 7, 7};
constexpr int kMatchCost = 9;
constexpr int kLongLengthCost = 6;

// Text from a tiny alphabet fills the chains with short matches; once a frame
// has walked this many chain steps per byte, the walks get short. HTML stays
// well below it.
constexpr std::size_t kStepsPerByte = 6;
constexpr std::size_t kStepSlack = 1024;
constexpr unsigned kThrottledChain = 8;

struct TCandidate {
    std::uint32_t Length = 0;
    std::uint32_t Distance = 0;
    int Repeat = -1;  // index of R0..R2 or -1
    int Gain = 0;
};

int MatchGain(std::uint32_t length, std::uint32_t distance, int repeat) {
    int cost =
        repeat >= 0 ? kRepeatCost[repeat] : kMatchCost + static_cast<int>(LzxFooterBits(LzxPositionSlot(distance + 2)));
    if (length >= kLzxMinMatch + kLzxNumPrimaryLengths) cost += kLongLengthCost;
    return static_cast<int>(length) * kLiteralBits - cost;
}

std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

class TMatcher {
public:
    TMatcher(std::span<const std::uint8_t> input, unsigned windowBits, const TLzxMatcherParams& params)
        : In(input.data()),
          Size(input.size()),
          MaxDistance(LzxMaxDistance(windowBits)),
          Params(params),
          Head(Scratch.Head),
          Prev(Scratch.Prev) {
        HashBits = 10;
        while (HashBits < 16 && (std::size_t{1} << HashBits) < Size) ++HashBits;
        Head.assign(std::size_t{1} << HashBits, kNone);
        // Only entries below the insertion point are ever read, so stale ones are harmless.
        if (Prev.size() < Size) Prev.resize(Size);
    }

    void Run(TLzxParse& out) {
        out.Tokens.clear();
        out.FrameTokenEnd.clear();
        out.FrameEndRepeats.clear();
        for (std::size_t frameStart = 0; frameStart < Size; frameStart += kLzxFrameSize) {
            const std::size_t frameEnd = std::min(Size, frameStart + kLzxFrameSize);
            ParseFrame(frameStart, frameEnd, out.Tokens);
            out.FrameTokenEnd.push_back(out.Tokens.size());
            out.FrameEndRepeats.push_back(Rep);
        }
    }

private:
    void ParseFrame(std::size_t p, std::size_t end, std::vector<TLzxToken>& tokens) {
        FrameStart = p;
        Steps = 0;
        while (p < end) {
            TCandidate cur = Find(p, end, Params.MaxChain);
            if (cur.Gain <= 0) {
                tokens.push_back({0, In[p]});
                ++p;
                continue;
            }
            while (cur.Length < Params.LazyLength && p + 1 < end) {
                const unsigned chain = cur.Length >= Params.GoodLength ? Params.MaxChain / 4 + 1 : Params.MaxChain;
                const TCandidate next = Find(p + 1, end, chain);
                if (next.Gain > cur.Gain) {
                    tokens.push_back({0, In[p]});
                    ++p;
                    cur = next;
                    continue;
                }
                // Two literals and a better match later often beat the match at hand.
                if (p + 2 >= end || cur.Length < 3) break;
                const TCandidate later = Find(p + 2, end, chain);
                if (later.Gain <= cur.Gain) break;
                tokens.push_back({0, In[p]});
                tokens.push_back({0, In[p + 1]});
                p += 2;
                cur = later;
            }
            tokens.push_back({cur.Length, Emit(cur)});
            p += cur.Length;
        }
    }

    // Updates R0..R2 the way the decoder will and returns the formatted offset.
    std::uint32_t Emit(const TCandidate& c) {
        switch (c.Repeat) {
            case 0: return 0;
            case 1: std::swap(Rep[0], Rep[1]); return 1;
            case 2: std::swap(Rep[0], Rep[2]); return 2;
            default:
                Rep[2] = Rep[1];
                Rep[1] = Rep[0];
                Rep[0] = c.Distance;
                return c.Distance + 2;
        }
    }

    std::uint32_t Hash(std::size_t q) const {
        const std::uint32_t v = In[q] | (std::uint32_t{In[q + 1]} << 8) | (std::uint32_t{In[q + 2]} << 16);
        return (v * 0x9E3779B1u) >> (32 - HashBits);
    }

    void InsertUpTo(std::size_t end) {
        const std::size_t last = Size >= 3 ? std::min(end, Size - 2) : 0;
        for (; Inserted < last; ++Inserted) {
            const std::uint32_t h = Hash(Inserted);
            Prev[Inserted] = Head[h];
            Head[h] = static_cast<std::uint32_t>(Inserted);
        }
        Inserted = std::max(Inserted, end);
    }

    std::uint32_t MatchLength(std::size_t p, std::size_t q, std::uint32_t limit) const {
        std::uint32_t len = 0;
        while (len + 8 <= limit) {
            const std::uint64_t x = Load64(In + p + len) ^ Load64(In + q + len);
            if (x != 0) return len + static_cast<std::uint32_t>(__builtin_ctzll(x)) / 8;
            len += 8;
        }
        while (len < limit && In[p + len] == In[q + len]) ++len;
        return len;
    }

    TCandidate Find(std::size_t p, std::size_t frameEnd, unsigned chain) {
        InsertUpTo(p);
        TCandidate best;
        const auto limit = static_cast<std::uint32_t>(std::min<std::size_t>(frameEnd - p, kLzxMaxMatch));
        if (limit < kLzxMinMatch) return best;
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t r = Rep[static_cast<std::size_t>(i)];
            if (r > p || In[p] != In[p - r] || In[p + 1] != In[p + 1 - r]) continue;
            const std::uint32_t len = MatchLength(p, p - r, limit);
            const int gain = MatchGain(len, r, i);
            if (gain > best.Gain) best = {len, r, i, gain};
        }
        if (best.Length >= Params.NiceLength || best.Length == limit || limit < 3 || p + 3 > Size) return best;

        const std::size_t minPos = p > MaxDistance ? p - MaxDistance : 0;
        std::uint32_t cand = Head[Hash(p)];
        if (Steps > kStepsPerByte * (p - FrameStart + kStepSlack)) chain = std::min(chain, kThrottledChain);
        while (cand != kNone && cand >= minPos && chain-- > 0) {
            ++Steps;
            const std::size_t bl = std::max<std::uint32_t>(best.Length, 2);
            if (In[cand + bl] == In[p + bl] && In[cand] == In[p] && In[cand + 1] == In[p + 1]) {
                const auto distance = static_cast<std::uint32_t>(p - cand);
                const std::uint32_t len = MatchLength(p, cand, limit);
                if (len > best.Length && len >= 3 && distance != Rep[0] && distance != Rep[1] && distance != Rep[2]) {
                    const int gain = MatchGain(len, distance, -1);
                    if (gain > best.Gain) {
                        best = {len, distance, -1, gain};
                        if (len >= Params.NiceLength || len == limit) break;
                    }
                }
            }
            cand = Prev[cand];
        }
        return best;
    }

    const std::uint8_t* In;
    std::size_t Size;
    std::uint32_t MaxDistance;
    TLzxMatcherParams Params;
    unsigned HashBits;
    // Kept per thread: allocating and faulting in the tables for every
    // interval cost more than filling them.
    struct TScratch {
        std::vector<std::uint32_t> Head;
        std::vector<std::uint32_t> Prev;
    };
    static thread_local TScratch Scratch;
    std::vector<std::uint32_t>& Head;
    std::vector<std::uint32_t>& Prev;
    std::size_t Inserted = 0;
    std::size_t FrameStart = 0;
    std::size_t Steps = 0;
    std::array<std::uint32_t, 3> Rep{1, 1, 1};
};

thread_local TMatcher::TScratch TMatcher::Scratch;

}  // namespace

void ParseLzx(std::span<const std::uint8_t> input, unsigned windowBits, TLzxParse& out,
              const TLzxMatcherParams& params) {
    TMatcher(input, windowBits, params).Run(out);
}

TLzxParse ParseLzx(std::span<const std::uint8_t> input, unsigned windowBits, const TLzxMatcherParams& params) {
    TLzxParse out;
    ParseLzx(input, windowBits, out, params);
    return out;
}
