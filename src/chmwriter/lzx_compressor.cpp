// Encodes one reset interval as LZX blocks from the matcher's parse.
#include "chmwriter/lzx_compressor.h"

#include "chmwriter/lzx_bit_writer.h"
#include "chmwriter/lzx_format.h"
#include "chmwriter/lzx_huffman.h"
#include "chmwriter/lzx_matcher.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <stdexcept>

namespace {

// Caps a block well below the 24-bit size field.
constexpr std::size_t kMaxBlockFrames = 256;

struct TStats {
    std::array<std::uint32_t, kLzxMaxMainSize> Main{};
    std::array<std::uint32_t, kLzxNumSecondaryLengths> Length{};
    std::array<std::uint32_t, kLzxAlignedSize> Aligned{};
    std::uint64_t FooterBits = 0;         // position footers sent verbatim
    std::uint64_t AlignedFooterBits = 0;  // what is left of them when the low 3 bits use the aligned tree
    std::size_t Bytes = 0;

    void Add(const TStats& o) {
        for (std::size_t i = 0; i < Main.size(); ++i) Main[i] += o.Main[i];
        for (std::size_t i = 0; i < Length.size(); ++i) Length[i] += o.Length[i];
        for (std::size_t i = 0; i < Aligned.size(); ++i) Aligned[i] += o.Aligned[i];
        FooterBits += o.FooterBits;
        AlignedFooterBits += o.AlignedFooterBits;
        Bytes += o.Bytes;
    }
};

struct TTreeState {
    std::array<std::uint8_t, kLzxMaxMainSize> Main{};
    std::array<std::uint8_t, kLzxNumSecondaryLengths> Length{};
};

struct TBlock {
    TLzxBlockType Type = TLzxBlockType::Verbatim;
    std::size_t FirstFrame = 0;
    std::size_t EndFrame = 0;
    std::uint64_t CostBits = 0;
    TStats Stats;
    TTreeState Trees;  // the trees this block sends (unchanged for an uncompressed block)
    std::array<std::uint8_t, kLzxAlignedSize> AlignedLengths{};
};

struct TPretreeItem {
    std::uint8_t Symbol;
    std::uint8_t Extra;
};

constexpr unsigned PretreeExtraBits(unsigned symbol) {
    return symbol == 17 ? 4 : symbol == 18 ? 5 : symbol == 19 ? 1 : 0;
}

unsigned DeltaCode(std::uint8_t prev, std::uint8_t cur) { return (prev + 17u - cur) % 17u; }

// The pretree symbols that turn prev into cur. A run of code 19 is only used
// where the old lengths agree as well, so it decodes the same whichever
// element a decoder takes the delta from.
void PlanTree(std::span<const std::uint8_t> prev, std::span<const std::uint8_t> cur, std::vector<TPretreeItem>& items) {
    items.clear();
    const std::size_t n = cur.size();
    std::size_t i = 0;
    while (i < n) {
        if (cur[i] == 0) {
            std::size_t run = 1;
            while (i + run < n && cur[i + run] == 0) ++run;
            if (run >= 4) {
                while (run >= 20) {
                    const std::size_t k = std::min<std::size_t>(run, 51);
                    items.push_back({18, static_cast<std::uint8_t>(k - 20)});
                    i += k;
                    run -= k;
                }
                if (run >= 4) {
                    items.push_back({17, static_cast<std::uint8_t>(run - 4)});
                    i += run;
                    run = 0;
                }
            }
            for (; run > 0; --run, ++i) items.push_back({static_cast<std::uint8_t>(DeltaCode(prev[i], 0)), 0});
            continue;
        }
        std::size_t run = 1;
        while (i + run < n && run < 5 && cur[i + run] == cur[i] && prev[i + run] == prev[i]) ++run;
        if (run >= 4) {
            items.push_back({19, static_cast<std::uint8_t>(run - 4)});
            items.push_back({static_cast<std::uint8_t>(DeltaCode(prev[i], cur[i])), 0});
            i += run;
        } else {
            items.push_back({static_cast<std::uint8_t>(DeltaCode(prev[i], cur[i])), 0});
            ++i;
        }
    }
}

struct TPretree {
    std::vector<TPretreeItem> Items;
    std::array<std::uint8_t, kLzxPretreeSize> Lengths{};
    std::uint64_t Bits = 0;
};

TPretree MakePretree(std::span<const std::uint8_t> prev, std::span<const std::uint8_t> cur) {
    TPretree t;
    PlanTree(prev, cur, t.Items);
    std::array<std::uint32_t, kLzxPretreeSize> freqs{};
    for (const auto& it : t.Items) ++freqs[it.Symbol];
    BuildLzxCodeLengths(freqs, kLzxMaxPretreeLength, t.Lengths);
    t.Bits = kLzxPretreeSize * 4;
    for (const auto& it : t.Items) t.Bits += t.Lengths[it.Symbol] + PretreeExtraBits(it.Symbol);
    return t;
}

void WritePretree(TLzxBitWriter& w, const TPretree& t) {
    std::array<std::uint16_t, kLzxPretreeSize> codes{};
    BuildLzxCodes(t.Lengths, codes);
    for (auto l : t.Lengths) w.Put(l, 4);
    for (const auto& it : t.Items) {
        w.Put(codes[it.Symbol], t.Lengths[it.Symbol]);
        if (const unsigned extra = PretreeExtraBits(it.Symbol)) w.Put(it.Extra, extra);
    }
}

class TIntervalEncoder {
public:
    TIntervalEncoder(std::span<const std::uint8_t> input, unsigned windowBits)
        : Input(input), MainSize(kLzxNumChars + 8 * LzxPositionSlots(windowBits)), Parse(ReusedParse) {
        ParseLzx(input, windowBits, Parse);
    }

    TLzxInterval Run() {
        CollectFrameStats();
        PlanBlocks();
        TLzxInterval out;
        Writer.Reserve(Input.size() / 4 + 64);
        Writer.Put(0, 1);  // no E8 call translation
        TTreeState sent;
        for (const TBlock& b : Blocks) WriteBlock(b, sent, out.FrameOffsets);
        out.Bytes = Writer.Take();
        return out;
    }

private:
    std::size_t FrameCount() const { return Parse.FrameTokenEnd.size(); }
    std::size_t FrameTokenBegin(std::size_t f) const { return f == 0 ? 0 : Parse.FrameTokenEnd[f - 1]; }

    void CollectFrameStats() {
        FrameStats.resize(FrameCount());
        for (std::size_t f = 0; f < FrameCount(); ++f) {
            TStats& s = FrameStats[f];
            for (std::size_t t = FrameTokenBegin(f); t < Parse.FrameTokenEnd[f]; ++t) {
                const TLzxToken& tok = Parse.Tokens[t];
                if (tok.Length == 0) {
                    ++s.Main[tok.Value];
                    ++s.Bytes;
                    continue;
                }
                s.Bytes += tok.Length;
                const unsigned slot = LzxPositionSlot(tok.Value);
                const unsigned header = std::min(tok.Length - kLzxMinMatch, kLzxNumPrimaryLengths);
                ++s.Main[kLzxNumChars + slot * 8 + header];
                if (header == kLzxNumPrimaryLengths) ++s.Length[tok.Length - kLzxMinMatch - kLzxNumPrimaryLengths];
                const unsigned extra = LzxFooterBits(slot);
                s.FooterBits += extra;
                if (extra >= 3) {
                    s.AlignedFooterBits += extra - 3;
                    ++s.Aligned[(tok.Value - LzxSlotBase(slot)) & 7];
                } else {
                    s.AlignedFooterBits += extra;
                }
            }
        }
    }

    // Picks the cheapest block type for stats, given the trees the decoder holds.
    TBlock Evaluate(const TStats& stats, const TTreeState& prev) const {
        TBlock b;
        b.Stats = stats;
        const std::uint64_t uncompressedBits = 3 + 24 + 16 + 96 + 8 * ((stats.Bytes + 1) & ~std::size_t{1});

        std::span<std::uint8_t> main(b.Trees.Main.data(), MainSize);
        BuildLzxCodeLengths(std::span(stats.Main.data(), MainSize), kLzxMaxCodeLength, main);
        BuildLzxCodeLengths(stats.Length, kLzxMaxCodeLength, b.Trees.Length);
        BuildLzxCodeLengths(stats.Aligned, kLzxMaxAlignedLength, b.AlignedLengths);

        std::uint64_t bits = 3 + 24;
        bits += MakePretree(std::span(prev.Main.data(), kLzxNumChars), main.first(kLzxNumChars)).Bits;
        bits +=
            MakePretree(std::span(prev.Main.data() + kLzxNumChars, MainSize - kLzxNumChars), main.subspan(kLzxNumChars))
                .Bits;
        bits += MakePretree(prev.Length, b.Trees.Length).Bits;
        for (std::size_t i = 0; i < MainSize; ++i) bits += std::uint64_t{stats.Main[i]} * main[i];
        for (std::size_t i = 0; i < kLzxNumSecondaryLengths; ++i)
            bits += std::uint64_t{stats.Length[i]} * b.Trees.Length[i];

        std::uint64_t alignedBits = bits + 3 * kLzxAlignedSize + stats.AlignedFooterBits;
        for (std::size_t i = 0; i < kLzxAlignedSize; ++i)
            alignedBits += std::uint64_t{stats.Aligned[i]} * b.AlignedLengths[i];
        const std::uint64_t verbatimBits = bits + stats.FooterBits;

        b.Type = TLzxBlockType::Verbatim;
        b.CostBits = verbatimBits;
        if (alignedBits < b.CostBits) {
            b.Type = TLzxBlockType::Aligned;
            b.CostBits = alignedBits;
        }
        if (uncompressedBits <= b.CostBits) {
            b.Type = TLzxBlockType::Uncompressed;
            b.CostBits = uncompressedBits;
            b.Trees = prev;
        }
        return b;
    }

    // Frame-granular greedy: a frame joins the open block when one block
    // costs no more than two.
    void PlanBlocks() {
        TTreeState before;  // trees the decoder holds when the open block starts
        TBlock open = Evaluate(FrameStats[0], before);
        open.FirstFrame = 0;
        open.EndFrame = 1;
        for (std::size_t f = 1; f < FrameCount(); ++f) {
            TBlock alone = Evaluate(FrameStats[f], open.Trees);
            if (open.EndFrame - open.FirstFrame < kMaxBlockFrames) {
                TStats merged = open.Stats;
                merged.Add(FrameStats[f]);
                TBlock joined = Evaluate(merged, before);
                if (joined.CostBits <= open.CostBits + alone.CostBits) {
                    joined.FirstFrame = open.FirstFrame;
                    joined.EndFrame = f + 1;
                    open = joined;
                    continue;
                }
            }
            before = open.Trees;
            Blocks.push_back(open);
            open = alone;
            open.FirstFrame = f;
            open.EndFrame = f + 1;
        }
        Blocks.push_back(open);
    }

    void WriteBlock(const TBlock& b, TTreeState& sent, std::vector<std::uint64_t>& offsets) {
        const std::size_t first = b.FirstFrame * kLzxFrameSize;
        const std::size_t end = std::min(Input.size(), b.EndFrame * kLzxFrameSize);
        const std::size_t size = end - first;
        assert(Writer.Aligned() || b.FirstFrame == 0);
        offsets.push_back(b.FirstFrame == 0 ? 0 : Writer.ByteSize());
        Writer.Put(static_cast<unsigned>(b.Type), 3);
        Writer.Put(static_cast<std::uint32_t>(size), 24);

        if (b.Type == TLzxBlockType::Uncompressed) {
            // 1 to 16 bits of padding: a header that ends on a word boundary
            // is still followed by a whole zero word.
            if (Writer.Aligned())
                Writer.Put(0, 16);
            else
                Writer.Align();
            for (auto r : Parse.FrameEndRepeats[b.EndFrame - 1]) Writer.PutLe32(r);
            for (std::size_t f = b.FirstFrame; f < b.EndFrame; ++f) {
                if (f != b.FirstFrame) offsets.push_back(Writer.ByteSize());
                const std::size_t from = f * kLzxFrameSize;
                Writer.PutBytes(Input.subspan(from, std::min(Input.size(), from + kLzxFrameSize) - from));
            }
            if (size & 1) Writer.PutByte(0);
            return;
        }

        const bool aligned = b.Type == TLzxBlockType::Aligned;
        if (aligned)
            for (auto l : b.AlignedLengths) Writer.Put(l, 3);
        std::span<const std::uint8_t> main(b.Trees.Main.data(), MainSize);
        WritePretree(Writer, MakePretree(std::span(sent.Main.data(), kLzxNumChars), main.first(kLzxNumChars)));
        WritePretree(Writer, MakePretree(std::span(sent.Main.data() + kLzxNumChars, MainSize - kLzxNumChars),
                                         main.subspan(kLzxNumChars)));
        WritePretree(Writer, MakePretree(sent.Length, b.Trees.Length));
        sent = b.Trees;

        std::array<std::uint16_t, kLzxMaxMainSize> mainCodes{};
        std::array<std::uint16_t, kLzxNumSecondaryLengths> lengthCodes{};
        std::array<std::uint16_t, kLzxAlignedSize> alignedCodes{};
        BuildLzxCodes(main, std::span(mainCodes.data(), MainSize));
        BuildLzxCodes(b.Trees.Length, lengthCodes);
        BuildLzxCodes(b.AlignedLengths, alignedCodes);
        const auto& mainLengths = b.Trees.Main;
        const auto& lengthLengths = b.Trees.Length;

        for (std::size_t f = b.FirstFrame; f < b.EndFrame; ++f) {
            if (f != b.FirstFrame) offsets.push_back(Writer.ByteSize());
            for (std::size_t t = FrameTokenBegin(f); t < Parse.FrameTokenEnd[f]; ++t) {
                const TLzxToken& tok = Parse.Tokens[t];
                if (tok.Length == 0) {
                    Writer.Put(mainCodes[tok.Value], mainLengths[tok.Value]);
                    continue;
                }
                const unsigned slot = LzxPositionSlot(tok.Value);
                const unsigned header = std::min(tok.Length - kLzxMinMatch, kLzxNumPrimaryLengths);
                const unsigned symbol = kLzxNumChars + slot * 8 + header;
                Writer.Put(mainCodes[symbol], mainLengths[symbol]);
                if (header == kLzxNumPrimaryLengths) {
                    const unsigned ls = tok.Length - kLzxMinMatch - kLzxNumPrimaryLengths;
                    Writer.Put(lengthCodes[ls], lengthLengths[ls]);
                }
                const unsigned extra = LzxFooterBits(slot);
                if (extra == 0) continue;
                const std::uint32_t footer = tok.Value - LzxSlotBase(slot);
                if (aligned && extra >= 3) {
                    Writer.Put(footer >> 3, extra - 3);
                    Writer.Put(alignedCodes[footer & 7], b.AlignedLengths[footer & 7]);
                } else {
                    Writer.Put(footer, extra);
                }
            }
            // Every frame ends on a word boundary of the stream.
            Writer.Align();
        }
    }

    std::span<const std::uint8_t> Input;
    std::size_t MainSize;
    static thread_local TLzxParse ReusedParse;
    TLzxParse& Parse;
    std::vector<TStats> FrameStats;
    std::vector<TBlock> Blocks;
    TLzxBitWriter Writer;
};

thread_local TLzxParse TIntervalEncoder::ReusedParse;

}  // namespace

TLzxInterval CompressLzxInterval(std::span<const std::uint8_t> input, unsigned windowBits) {
    if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits)
        throw std::invalid_argument("LZX window bits must be 15 to 21");
    if (input.empty()) return {};
    // CHM readers decode whole frames, the last one included, and cut the
    // result to the section length; so a short last frame is sent padded.
    if (const std::size_t tail = input.size() % kLzxFrameSize) {
        std::vector<std::uint8_t> padded(input.begin(), input.end());
        padded.resize(input.size() + kLzxFrameSize - tail, 0);
        return TIntervalEncoder(padded, windowBits).Run();
    }
    return TIntervalEncoder(input, windowBits).Run();
}
