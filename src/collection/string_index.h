#pragma once
// Exact-value index from text keys to lists of ids, kept as a character trie
// whose levels are small binary search trees. Keys are listed in ascending
// byte order; ids come back in the order they were added.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <string>
#include <string_view>
#include <vector>

// An id: a record position or a reference to one of the caller's objects
// (pointer sized, so a reference fits).
using TStrId = std::intptr_t;

struct TLetterTree;

// One trie level: the search tree of the characters that can follow a prefix.
struct TWordsTree {
    TLetterTree* RootNode = nullptr;  // null while the level is empty
};

// One entry of a circular id ring.
struct TID {
    TStrId Value = 0;
    TID* NextID = nullptr;
};

// One character at one trie level. A key's ids hang on the node of the
// character 0 that ends its path; no other node carries ids.
struct TLetterTree {
    unsigned char Ch = 0;
    TLetterTree* Lower = nullptr;   // subtree of smaller characters
    TLetterTree* Higher = nullptr;  // subtree of larger characters
    TLetterTree* Parent = nullptr;  // node above in the same level (null for the level's root)
    TID* IDs = nullptr;             // first entry of the id ring, null when empty
    TWordsTree Next;                // the level of the characters that follow
};

// One entry of the selection ring.
struct TIDsList {
    TID* IDs = nullptr;
    TIDsList* NextList = nullptr;
};

// Hands out default-constructed objects from chunks that double in size up
// to 2 MB; everything is freed together with the pool. A small index stays
// small; the big chunks of a large one are aligned so the kernel can back them
// with huge pages (a large index is walked at random, and page table misses
// would otherwise dominate).
void* AllocatePoolChunk(std::size_t bytes);
void FreePoolChunk(void* chunk);

template <class T>
class TChunkPool {
    static_assert(std::is_trivially_destructible_v<T>);

public:
    T* New() {
        if (used_ == capacity_) {
            capacity_ = capacity_ == 0 ? kFirstChunk : std::min(capacity_ * 2, kLastChunk);
            T* chunk = static_cast<T*>(AllocatePoolChunk(capacity_ * sizeof(T)));
            chunks_.emplace_back(chunk);
            std::uninitialized_value_construct_n(chunk, capacity_);
            used_ = 0;
        }
        return chunks_.back().get() + used_++;
    }

private:
    struct TFree {
        void operator()(T* chunk) const { FreePoolChunk(chunk); }
    };
    static constexpr std::size_t kFirstChunk = 64;
    static constexpr std::size_t kLastChunk = (std::size_t{2} << 20) / sizeof(T);
    std::vector<std::unique_ptr<T, TFree>> chunks_;
    std::size_t capacity_ = 0;  // of the last chunk
    std::size_t used_ = 0;      // of the last chunk
};

class TCustomStrFinder {
public:
    TCustomStrFinder();
    ~TCustomStrFinder();
    TCustomStrFinder(const TCustomStrFinder&) = delete;
    TCustomStrFinder& operator=(const TCustomStrFinder&) = delete;

    // When on, "a".."z" are stored and compared as "A".."Z"; nothing else is
    // folded. Set it before the first key is added and leave it afterwards.
    bool IgnoreCase = true;

    // Appends id to the key's ring; the same id may be added more than once.
    void Add(std::string_view key, TStrId id);
    // Add, unless the key's ring already holds id: then false and no change.
    bool AddUnique(std::string_view key, TStrId id);
    // First id added to the key, or -1 when the key is absent or holds none.
    TStrId Lookup(std::string_view key) const;
    // Makes the key's ring the selection; answers the number of its ids.
    int Select(std::string_view key);
    int SelectedCount() const { return selectedCount_; }
    // Ids of the selection in the order they were added.
    std::vector<TStrId> SelectedIDs() const;
    // Takes every entry with this id out of the key's ring. Nodes stay.
    void Remove(std::string_view key, TStrId id);
    // Every key that holds an id, each followed by separator, in ascending
    // byte order: a key before its extensions, the empty key first.
    std::string AllKeys(std::string_view separator) const;
    // Top level, for callers that walk the trie themselves (null while empty).
    const TWordsTree* Root() const { return root_.RootNode ? &root_ : nullptr; }

    // Walks every key holding an id in AllKeys order, with the key as stored
    // (folded when IgnoreCase is on) and the node that carries its ring.
    template <class Visit>
    void ForEachKey(Visit&& visit) const;

    // Number of ids in a ring (0 for null).
    static int RingSize(const TID* ring);

private:
    TLetterTree* Find(std::string_view key) const;
    TLetterTree* FindOrInsert(std::string_view key);
    TLetterTree* InsertChar(TWordsTree& level, unsigned char c);
    TLetterTree* NewNode(unsigned char c);
    TID* NewId(TStrId value);
    void FreeId(TID* id);
    void ClearSelection();

    TWordsTree root_;
    int selectedCount_ = 0;
    TIDsList* selection_ = nullptr;  // ring of at most one entry (selectionEntry_)

    // Nodes and id entries live in pools owned by the index, so a million
    // keys cost no million separate allocations; freed ids are reused.
    TChunkPool<TLetterTree> nodes_;
    TChunkPool<TID> ids_;
    TID* freeIds_ = nullptr;
    TIDsList selectionEntry_;                     // the selection ring's only entry
    const TLetterTree* selectedNode_ = nullptr;  // node whose ring is selected
};

template <class Visit>
void TCustomStrFinder::ForEachKey(Visit&& visit) const {
    // Explicit stack instead of recursion: levels can be as deep as the
    // longest key.
    struct Frame {
        const TLetterTree* node;
        std::size_t prefixLength;
        int step;  // 0: go lower, 1: this node and its next level, 2: go higher
    };
    std::string key;
    std::vector<Frame> stack;
    if (root_.RootNode) stack.push_back({root_.RootNode, 0, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        const TLetterTree* n = f.node;
        if (f.step == 0) {
            f.step = 1;
            if (n->Lower) stack.push_back({n->Lower, f.prefixLength, 0});
        } else if (f.step == 1) {
            f.step = 2;
            key.resize(f.prefixLength);
            if (n->Ch != 0) key.push_back(static_cast<char>(n->Ch));
            const std::size_t len = key.size();
            if (n->IDs) visit(std::string_view(key), *n);
            if (n->Next.RootNode) stack.push_back({n->Next.RootNode, len, 0});
        } else {
            const std::size_t len = f.prefixLength;
            const TLetterTree* higher = n->Higher;
            stack.pop_back();
            if (higher) stack.push_back({higher, len, 0});
        }
    }
}
