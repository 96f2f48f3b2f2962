#pragma once
// The working form of the string index's trie. A level is one block holding
// its characters, in the order they first arrived, next to references to what
// follows each of them; the last characters of a key that no other key shares
// sit together in one tail block instead of one level per character. Blocks
// live in one arena and refer to each other by 32-bit references, so a large
// index costs a few bytes per character instead of a node of pointers.
//
// The index expands this form into its node-per-character levels when a
// caller asks to walk those (see TCustomStrFinder::Root); every level then
// gets the shape that adding the keys one by one would have given it, which
// depends only on the order in which its characters first arrived.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TID;
struct TLetterTree;
struct TWordsTree;

// The characters walked for a key: the key's own (an empty key counts as the
// single character 0), with "a".."z" mapped to capitals when folding, then
// the terminating 0.
class TKeyWalk {
public:
    TKeyWalk(std::string_view key, bool ignoreCase)
        : key_(key), fold_(ignoreCase), size_(key.empty() ? 2 : key.size() + 1) {}

    std::size_t size() const { return size_; }
    unsigned char operator[](std::size_t i) const {
        return i < key_.size() ? Map(static_cast<unsigned char>(key_[i])) : 0;
    }
    // Number of leading characters, from position at, equal to those of
    // chars (length n) followed by one 0.
    std::size_t CommonPrefix(std::size_t at, const unsigned char* chars, std::size_t n) const;

private:
    unsigned char Map(unsigned char c) const {
        return fold_ && c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
    }
    std::string_view key_;
    bool fold_;
    std::size_t size_;
};

class TCompactTrie {
public:
    // Where a key's ring is kept: the place of its last entry. Valid until
    // the next insertion, which may move the ring to another block.
    using TRingSlot = std::size_t;
    static constexpr TRingSlot kNoSlot = ~std::size_t{0};

    TCompactTrie() = default;
    ~TCompactTrie();
    TCompactTrie(const TCompactTrie&) = delete;
    TCompactTrie& operator=(const TCompactTrie&) = delete;

    // Frees everything.
    void Clear();

    // The ring slot of the key's node, or kNoSlot when the key has no node
    // or its node holds no ring place (a key ending inside a tail).
    TRingSlot Find(const TKeyWalk& walk) const;
    // The ring slot of the key's node, creating the path as needed.
    TRingSlot Insert(const TKeyWalk& walk);

    TID* Last(TRingSlot slot) const;
    void SetLast(TRingSlot slot, TID* last);

    // Calls visit(context, key, last) for every key whose ring is not empty,
    // in ascending byte order of the walked characters, keys as stored
    // (folded, character-0 nodes contributing nothing).
    using TVisit = void (*)(void* context, std::string_view key, TID* last);
    void ForEach(TVisit visit, void* context) const;

    // Rebuilds the node-per-character levels below root; insert adds one
    // character to a level (answering its node, old or new).
    using TInsertChar = TLetterTree* (*)(void* context, TWordsTree& level, unsigned char c);
    void Expand(TWordsTree& root, TInsertChar insert, void* context) const;

    // Bytes reserved by the arena.
    std::size_t ReservedBytes() const { return capacity_; }

private:
    using TRef = std::uint32_t;  // block unit << 2 | kind; 0: nothing
    enum TKind : std::uint32_t { kLevel = 1, kTail = 2, kRecord = 3 };
    static TKind KindOf(TRef ref) { return static_cast<TKind>(ref & 3u); }
    static std::size_t OffsetOf(TRef ref) { return static_cast<std::size_t>(ref >> 2) * 8; }
    static TRef MakeRef(std::size_t offset, TKind kind) { return static_cast<TRef>((offset / 8) << 2) | kind; }

    // A reference is kept either in the arena or in root_.
    using TRefSlot = std::size_t;
    static constexpr TRefSlot kRootSlot = ~std::size_t{0};
    static constexpr TRefSlot kNoRefSlot = kRootSlot - 1;
    TRef GetRef(TRefSlot slot) const;
    void SetRef(TRefSlot slot, TRef ref);

    template <class T>
    T Load(std::size_t offset) const;
    template <class T>
    void Store(std::size_t offset, T value);

    std::size_t Allocate(std::size_t bytes);
    void Free(std::size_t offset, std::size_t bytes);

    // Levels: count and capacity (16 bits each), the characters, then the
    // references, 4-aligned.
    static std::size_t LevelBytes(std::size_t capacity);
    static std::size_t LevelRefsAt(std::size_t capacity) { return (4 + capacity + 3) & ~std::size_t{3}; }
    TRef NewLevel(std::size_t capacity);
    // A level of capacity 2 holding one entry.
    TRef NewLevelWith(unsigned char c, TRef follow);
    int FindChar(std::size_t level, unsigned char c) const;
    // Appends an entry to the level that slot refers to, growing it (and
    // updating slot) when full; answers the arena place of the entry's reference.
    std::size_t AppendEntry(TRefSlot slot, unsigned char c, TRef follow);
    std::size_t EntryRefAt(std::size_t level, std::size_t index) const;

    // Tails: skipped and remaining character counts, the ring's last entry,
    // then the characters; the skipped ones went into levels.
    static constexpr std::size_t kTailHeader = 16;
    TRef NewTail(const TKeyWalk& walk, std::size_t from, std::size_t to);
    // Records: the ring of a character-0 node, then its next level or tail.
    TRef NewRecord(TID* last, TRef next);
    // Turns the tail in slot into a level holding its first character;
    // answers the slot of what follows that character (kNoRefSlot when the
    // tail held only its terminating 0).
    TRefSlot UnzipOnce(TRefSlot slot);

    unsigned char* base_ = nullptr;
    std::size_t used_ = 0;
    std::size_t capacity_ = 0;
    TRef root_ = 0;
    // Freed blocks by size in 8-byte units, linked through their first word.
    static constexpr std::size_t kFreeClasses = 168;
    std::array<std::uint32_t, kFreeClasses> free_{};
};
