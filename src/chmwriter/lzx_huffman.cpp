// Builds the length-limited canonical Huffman codes LZX blocks carry.
#include "chmwriter/lzx_huffman.h"

#include <algorithm>
#include <cassert>
#include <vector>

namespace {

struct TNode {
    std::uint64_t Weight;
    int Parent;
};

// Plain Huffman depths by the two-queue method over leaves sorted by weight.
void HuffmanDepths(const std::vector<std::uint32_t>& sortedWeights, std::vector<unsigned>& depths) {
    const std::size_t n = sortedWeights.size();
    std::vector<TNode> nodes;
    nodes.reserve(2 * n);
    for (auto w : sortedWeights) nodes.push_back({w, -1});
    std::size_t leaf = 0;
    std::size_t inner = n;
    auto takeSmallest = [&]() -> std::size_t {
        if (leaf < n && (inner >= nodes.size() || nodes[leaf].Weight <= nodes[inner].Weight)) return leaf++;
        return inner++;
    };
    for (std::size_t k = 1; k < n; ++k) {
        const std::size_t a = takeSmallest();
        const std::size_t b = takeSmallest();
        nodes.push_back({nodes[a].Weight + nodes[b].Weight, -1});
        nodes[a].Parent = nodes[b].Parent = static_cast<int>(nodes.size() - 1);
    }
    std::vector<unsigned> nodeDepth(nodes.size(), 0);
    for (std::size_t i = nodes.size() - 1; i-- > 0;)
        nodeDepth[i] = nodeDepth[static_cast<std::size_t>(nodes[i].Parent)] + 1;
    depths.assign(nodeDepth.begin(), nodeDepth.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

void BuildLzxCodeLengths(std::span<const std::uint32_t> freqs, unsigned maxLength, std::span<std::uint8_t> lengths) {
    assert(freqs.size() == lengths.size() && freqs.size() >= 2);
    std::fill(lengths.begin(), lengths.end(), std::uint8_t{0});

    std::vector<unsigned> symbols;
    symbols.reserve(freqs.size());
    for (unsigned i = 0; i < freqs.size(); ++i)
        if (freqs[i] != 0) symbols.push_back(i);
    for (unsigned i = 0; symbols.size() < 2; ++i)
        if (freqs[i] == 0) symbols.push_back(i);

    auto weight = [&](unsigned s) { return freqs[s]; };
    std::stable_sort(symbols.begin(), symbols.end(), [&](unsigned a, unsigned b) { return weight(a) < weight(b); });
    std::vector<std::uint32_t> sorted(symbols.size());
    for (std::size_t i = 0; i < symbols.size(); ++i) sorted[i] = weight(symbols[i]);
    std::vector<unsigned> depth;
    HuffmanDepths(sorted, depth);

    // Too deep: clamp, then restore Kraft equality. Lengthening the rarest
    // symbols first costs the least; filling any slack shortens the commonest.
    const unsigned maxDepth = *std::max_element(depth.begin(), depth.end());
    if (maxDepth > maxLength) {
        const std::uint64_t target = std::uint64_t{1} << maxLength;
        std::uint64_t sum = 0;
        for (auto& d : depth) {
            d = std::min(d, maxLength);
            sum += std::uint64_t{1} << (maxLength - d);
        }
        for (std::size_t i = 0; sum > target; i = (i + 1) % depth.size()) {
            if (depth[i] < maxLength) {
                ++depth[i];
                sum -= std::uint64_t{1} << (maxLength - depth[i]);
            }
        }
        while (sum < target) {
            for (std::size_t i = depth.size(); i-- > 0 && sum < target;) {
                const std::uint64_t gain = std::uint64_t{1} << (maxLength - depth[i]);
                if (depth[i] > 1 && sum + gain <= target) {
                    --depth[i];
                    sum += gain;
                }
            }
        }
    }
    for (std::size_t i = 0; i < symbols.size(); ++i) lengths[symbols[i]] = static_cast<std::uint8_t>(depth[i]);
}

void BuildLzxCodes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes) {
    assert(lengths.size() == codes.size());
    unsigned count[17] = {};
    for (auto l : lengths) ++count[l];
    count[0] = 0;
    std::uint32_t next[17] = {};
    std::uint32_t code = 0;
    for (unsigned bits = 1; bits <= 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (std::size_t i = 0; i < lengths.size(); ++i)
        codes[i] = lengths[i] ? static_cast<std::uint16_t>(next[lengths[i]]++) : 0;
}
