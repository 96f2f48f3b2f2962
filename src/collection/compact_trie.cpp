#include "collection/compact_trie.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "collection/string_index.h"

namespace {

constexpr std::size_t Align8(std::size_t bytes) { return (bytes + 7) & ~std::size_t{7}; }

// References carry a block's place in 8-byte units in 30 bits.
constexpr std::size_t kMaxArenaBytes = (std::size_t{1} << 30) * 8;

}  // namespace

std::size_t TKeyWalk::CommonPrefix(std::size_t at, const unsigned char* chars, std::size_t n) const {
    const std::size_t limit = std::min(size_ - at, n + 1);
    std::size_t j = 0;
    if (!fold_ && at < key_.size()) {
        // The key's own characters compare as they are.
        const std::size_t m = std::min({limit, n, key_.size() - at});
        const auto* k = reinterpret_cast<const unsigned char*>(key_.data()) + at;
        j = static_cast<std::size_t>(std::mismatch(k, k + m, chars).first - k);
        if (j < m) return j;
    }
    while (j < limit && (*this)[at + j] == (j < n ? chars[j] : 0)) ++j;
    return j;
}

TCompactTrie::~TCompactTrie() { std::free(base_); }

void TCompactTrie::Clear() {
    std::free(base_);
    base_ = nullptr;
    used_ = capacity_ = 0;
    root_ = 0;
    free_.fill(0);
}

template <class T>
T TCompactTrie::Load(std::size_t offset) const {
    T value;
    std::memcpy(&value, base_ + offset, sizeof value);
    return value;
}

template <class T>
void TCompactTrie::Store(std::size_t offset, T value) {
    std::memcpy(base_ + offset, &value, sizeof value);
}

TCompactTrie::TRef TCompactTrie::GetRef(TRefSlot slot) const { return slot == kRootSlot ? root_ : Load<TRef>(slot); }

void TCompactTrie::SetRef(TRefSlot slot, TRef ref) {
    if (slot == kRootSlot)
        root_ = ref;
    else
        Store(slot, ref);
}

TID* TCompactTrie::Last(TRingSlot slot) const { return Load<TID*>(slot); }

void TCompactTrie::SetLast(TRingSlot slot, TID* last) { Store(slot, last); }

std::size_t TCompactTrie::Allocate(std::size_t bytes) {
    const std::size_t units = bytes / 8;
    if (units < kFreeClasses && free_[units] != 0) {
        const std::size_t offset = static_cast<std::size_t>(free_[units] - 1) * 8;
        free_[units] = Load<std::uint32_t>(offset);
        return offset;
    }
    if (used_ + bytes > capacity_) {
        if (used_ + bytes > kMaxArenaBytes) throw std::bad_alloc();
        // Doubling through realloc: large arenas are remapped, not copied.
        std::size_t grown = std::max({capacity_ * 2, used_ + bytes, std::size_t{256}});
        grown = std::min(grown, kMaxArenaBytes);
        auto* moved = static_cast<unsigned char*>(std::realloc(base_, grown));
        if (!moved) throw std::bad_alloc();
        base_ = moved;
        capacity_ = grown;
    }
    const std::size_t offset = used_;
    used_ += bytes;
    return offset;
}

void TCompactTrie::Free(std::size_t offset, std::size_t bytes) {
    const std::size_t units = bytes / 8;
    if (units >= kFreeClasses) return;  // rare long tails are simply left behind
    Store<std::uint32_t>(offset, free_[units]);
    free_[units] = static_cast<std::uint32_t>(offset / 8 + 1);
}

std::size_t TCompactTrie::LevelBytes(std::size_t capacity) { return Align8(LevelRefsAt(capacity) + 4 * capacity); }

TCompactTrie::TRef TCompactTrie::NewLevel(std::size_t capacity) {
    const std::size_t at = Allocate(LevelBytes(capacity));
    Store<std::uint16_t>(at, 0);
    Store(at + 2, static_cast<std::uint16_t>(capacity));
    return MakeRef(at, kLevel);
}

int TCompactTrie::FindChar(std::size_t level, unsigned char c) const {
    const std::size_t count = Load<std::uint16_t>(level);
    const unsigned char* chars = base_ + level + 4;
    // Most levels hold a handful of characters: a plain loop beats a call.
    if (count <= 16) {
        for (std::size_t k = 0; k < count; ++k)
            if (chars[k] == c) return static_cast<int>(k);
        return -1;
    }
    const void* hit = std::memchr(chars, c, count);
    return hit ? static_cast<int>(static_cast<const unsigned char*>(hit) - chars) : -1;
}

std::size_t TCompactTrie::EntryRefAt(std::size_t level, std::size_t index) const {
    return level + LevelRefsAt(Load<std::uint16_t>(level + 2)) + 4 * index;
}

std::size_t TCompactTrie::AppendEntry(TRefSlot slot, unsigned char c, TRef follow) {
    std::size_t level = OffsetOf(GetRef(slot));
    const std::size_t count = Load<std::uint16_t>(level);
    std::size_t capacity = Load<std::uint16_t>(level + 2);
    if (count == capacity) {
        // At most 256 characters per level, and a full level of 256 has
        // every character: growing never goes past 256.
        const std::size_t grownCapacity = capacity * 2;
        const std::size_t grown = OffsetOf(NewLevel(grownCapacity));
        std::memcpy(base_ + grown + 4, base_ + level + 4, count);
        std::memcpy(base_ + grown + LevelRefsAt(grownCapacity), base_ + level + LevelRefsAt(capacity), 4 * count);
        Store(grown, static_cast<std::uint16_t>(count));
        Free(level, LevelBytes(capacity));
        SetRef(slot, MakeRef(grown, kLevel));
        level = grown;
        capacity = grownCapacity;
    }
    base_[level + 4 + count] = c;
    const std::size_t entry = level + LevelRefsAt(capacity) + 4 * count;
    Store(entry, follow);
    Store(level, static_cast<std::uint16_t>(count + 1));
    return entry;
}

TCompactTrie::TRef TCompactTrie::NewTail(const TKeyWalk& walk, std::size_t from, std::size_t to) {
    const std::size_t length = to - from;
    if (length > 0xFFFFFFF0u) throw std::bad_alloc();  // no key comes near 4 GB
    const std::size_t at = Allocate(Align8(kTailHeader + length));
    Store<std::uint32_t>(at, 0);
    Store(at + 4, static_cast<std::uint32_t>(length));
    Store<TID*>(at + 8, nullptr);
    unsigned char* chars = base_ + at + kTailHeader;
    for (std::size_t i = from; i < to; ++i) *chars++ = walk[i];
    return MakeRef(at, kTail);
}

TCompactTrie::TRef TCompactTrie::NewRecord(TID* last, TRef next) {
    const std::size_t at = Allocate(16);
    Store(at, last);
    Store(at + 8, next);
    Store<std::uint32_t>(at + 12, 0);
    return MakeRef(at, kRecord);
}

TCompactTrie::TRef TCompactTrie::NewLevelWith(unsigned char c, TRef follow) {
    const TRef level = NewLevel(2);
    const std::size_t at = OffsetOf(level);
    base_[at + 4] = c;
    Store(at + LevelRefsAt(2), follow);
    Store<std::uint16_t>(at, 1);
    return level;
}

TCompactTrie::TRefSlot TCompactTrie::UnzipOnce(TRefSlot slot) {
    // Everything is allocated before anything changes, so running out of
    // memory half-way leaves the trie as it was.
    const TRef tail = GetRef(slot);
    const std::size_t t = OffsetOf(tail);
    const std::uint32_t skip = Load<std::uint32_t>(t);
    const std::uint32_t length = Load<std::uint32_t>(t + 4);
    if (length == 0) {
        // Only the terminating 0 is left: its node becomes a record.
        const TRef level = NewLevelWith(0, NewRecord(Load<TID*>(t + 8), 0));
        SetRef(slot, level);
        Free(t, Align8(kTailHeader + skip));
        return kNoRefSlot;
    }
    const unsigned char c = base_[t + kTailHeader + skip];
    // A character-0 node inside a key keeps its (empty) ring place.
    const TRef follow = c == 0 ? NewRecord(nullptr, tail) : tail;
    const TRef level = NewLevelWith(c, follow);
    Store(t, skip + 1);
    Store(t + 4, length - 1);
    SetRef(slot, level);
    return c == 0 ? OffsetOf(follow) + 8 : OffsetOf(level) + LevelRefsAt(2);
}

TCompactTrie::TRingSlot TCompactTrie::Find(const TKeyWalk& walk) const {
    const std::size_t n = walk.size();
    TRef ref = root_;
    std::size_t i = 0;
    while (ref != 0) {
        const std::size_t at = OffsetOf(ref);
        if (KindOf(ref) == kTail) {
            const std::uint32_t skip = Load<std::uint32_t>(at);
            const std::uint32_t length = Load<std::uint32_t>(at + 4);
            const std::size_t rest = n - i;
            if (rest == length + std::size_t{1} &&
                walk.CommonPrefix(i, base_ + at + kTailHeader + skip, length) == rest)
                return at + 8;
            return kNoSlot;  // absent, or ending inside the tail where no ring is
        }
        const unsigned char c = walk[i];
        const int index = FindChar(at, c);
        if (index < 0) return kNoSlot;
        const TRef entry = Load<TRef>(EntryRefAt(at, static_cast<std::size_t>(index)));
        ++i;
        if (c != 0) {
            ref = entry;
            continue;
        }
        const std::size_t record = OffsetOf(entry);
        if (i == n) return record;
        ref = Load<TRef>(record + 8);
    }
    return kNoSlot;
}

TCompactTrie::TRingSlot TCompactTrie::Insert(const TKeyWalk& walk) {
    const std::size_t n = walk.size();
    if (root_ == 0) root_ = NewLevel(2);
    TRefSlot slot = kRootSlot;
    std::size_t i = 0;
    for (;;) {
        const TRef ref = GetRef(slot);
        const std::size_t at = OffsetOf(ref);
        if (KindOf(ref) == kTail) {
            const std::uint32_t skip = Load<std::uint32_t>(at);
            const std::uint32_t length = Load<std::uint32_t>(at + 4);
            const std::size_t rest = n - i;
            const std::size_t same = walk.CommonPrefix(i, base_ + at + kTailHeader + skip, length);
            if (same == rest && rest == length + std::size_t{1}) return at + 8;
            // Give the shared characters, and the tail's own next one, levels
            // of their own; the walk then goes on through them from here.
            const std::size_t steps = same == rest ? same : std::min<std::size_t>(same + 1, length + std::size_t{1});
            TRefSlot below = slot;
            for (std::size_t k = 0; k < steps; ++k) below = UnzipOnce(below);
            continue;
        }
        const unsigned char c = walk[i];
        const int index = FindChar(at, c);
        if (index < 0) {
            // A new character here: everything after it is new as well.
            TRef follow;
            TRingSlot ring;
            if (c != 0) {
                follow = NewTail(walk, i + 1, n - 1);
                ring = OffsetOf(follow) + 8;
            } else if (i + 1 == n) {
                follow = NewRecord(nullptr, 0);
                ring = OffsetOf(follow);
            } else {
                const TRef tail = NewTail(walk, i + 1, n - 1);
                follow = NewRecord(nullptr, tail);
                ring = OffsetOf(tail) + 8;
            }
            AppendEntry(slot, c, follow);
            return ring;
        }
        const std::size_t entry = EntryRefAt(at, static_cast<std::size_t>(index));
        ++i;
        if (c != 0) {
            slot = entry;
            continue;
        }
        const std::size_t record = OffsetOf(Load<TRef>(entry));
        if (i == n) return record;
        slot = record + 8;
        if (GetRef(slot) == 0) {
            const TRef tail = NewTail(walk, i, n - 1);
            SetRef(slot, tail);
            return OffsetOf(tail) + 8;
        }
    }
}

void TCompactTrie::ForEach(TVisit visit, void* context) const {
    if (root_ == 0) return;
    struct Frame {
        std::size_t level;
        std::size_t prefixLength;
        std::size_t orderAt;  // this level's entries, sorted, in order
        std::size_t count;
        std::size_t next = 0;
    };
    std::string key;
    std::vector<Frame> stack;
    std::vector<std::uint16_t> order;  // character << 8 | entry index

    auto pushLevel = [&](std::size_t level, std::size_t prefixLength) {
        const std::size_t count = Load<std::uint16_t>(level);
        const std::size_t orderAt = order.size();
        for (std::size_t k = 0; k < count; ++k)
            order.push_back(static_cast<std::uint16_t>(base_[level + 4 + k] << 8 | k));
        std::sort(order.begin() + static_cast<std::ptrdiff_t>(orderAt), order.end());
        stack.push_back({level, prefixLength, orderAt, count});
    };
    auto follow = [&](TRef ref) {
        if (ref == 0) return;
        const std::size_t at = OffsetOf(ref);
        if (KindOf(ref) == kLevel) {
            pushLevel(at, key.size());
            return;
        }
        // A tail: a chain of single characters, then its ring.
        const std::size_t keep = key.size();
        const std::uint32_t skip = Load<std::uint32_t>(at);
        const std::uint32_t length = Load<std::uint32_t>(at + 4);
        const unsigned char* chars = base_ + at + kTailHeader + skip;
        for (std::uint32_t k = 0; k < length; ++k)
            if (chars[k] != 0) key.push_back(static_cast<char>(chars[k]));
        if (TID* last = Load<TID*>(at + 8)) visit(context, key, last);
        key.resize(keep);
    };

    pushLevel(OffsetOf(root_), 0);
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.count) {
            order.resize(f.orderAt);
            stack.pop_back();
            continue;
        }
        const std::uint16_t entry = order[f.orderAt + f.next++];
        const unsigned char c = static_cast<unsigned char>(entry >> 8);
        const TRef ref = Load<TRef>(EntryRefAt(f.level, entry & 0xFFu));
        key.resize(f.prefixLength);
        if (c != 0) {
            key.push_back(static_cast<char>(c));
            follow(ref);  // may grow the stack: f is not used after this
            continue;
        }
        const std::size_t record = OffsetOf(ref);
        if (TID* last = Load<TID*>(record)) visit(context, key, last);
        follow(Load<TRef>(record + 8));
    }
}

void TCompactTrie::Expand(TWordsTree& root, TInsertChar insert, void* context) const {
    auto firstOf = [](TID* last) { return last ? last->NextID : nullptr; };
    std::vector<std::pair<TRef, TWordsTree*>> pending;
    if (root_ != 0) pending.emplace_back(root_, &root);
    while (!pending.empty()) {
        const auto [ref, into] = pending.back();
        pending.pop_back();
        const std::size_t at = OffsetOf(ref);
        if (KindOf(ref) == kTail) {
            TWordsTree* level = into;
            const std::uint32_t skip = Load<std::uint32_t>(at);
            const std::uint32_t length = Load<std::uint32_t>(at + 4);
            for (std::uint32_t k = 0; k < length; ++k)
                level = &insert(context, *level, base_[at + kTailHeader + skip + k])->Next;
            insert(context, *level, 0)->IDs = firstOf(Load<TID*>(at + 8));
            continue;
        }
        // Characters in the order they arrived give the level its shape.
        const std::size_t count = Load<std::uint16_t>(at);
        for (std::size_t k = 0; k < count; ++k) {
            const unsigned char c = base_[at + 4 + k];
            TLetterTree* node = insert(context, *into, c);
            const TRef entry = Load<TRef>(EntryRefAt(at, k));
            if (c != 0) {
                pending.emplace_back(entry, &node->Next);
                continue;
            }
            const std::size_t record = OffsetOf(entry);
            node->IDs = firstOf(Load<TID*>(record));
            if (const TRef next = Load<TRef>(record + 8)) pending.emplace_back(next, &node->Next);
        }
    }
}
