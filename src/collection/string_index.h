#pragma once
// Exact-value index from text keys to lists of ids: a character trie whose
// levels are small binary search trees, kept in a compact form until someone
// walks the nodes. Keys are listed in ascending byte order; ids come back in
// the order they were added.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "collection/compact_trie.h"

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
            reserved_ += capacity_ * sizeof(T);
            std::uninitialized_value_construct_n(chunk, capacity_);
            used_ = 0;
        }
        return chunks_.back().get() + used_++;
    }
    std::size_t ReservedBytes() const { return reserved_; }

private:
    struct TFree {
        void operator()(T* chunk) const { FreePoolChunk(chunk); }
    };
    static constexpr std::size_t kFirstChunk = 64;
    static constexpr std::size_t kLastChunk = (std::size_t{2} << 20) / sizeof(T);
    std::vector<std::unique_ptr<T, TFree>> chunks_;
    std::size_t capacity_ = 0;  // of the last chunk
    std::size_t used_ = 0;      // of the last chunk
    std::size_t reserved_ = 0;  // of all chunks
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

    // Top level of the node-per-character trie, for callers that walk it
    // themselves (null while empty). The index normally keeps its keys in a
    // compact form; the first call builds the nodes, and from then on the
    // index works on them directly, so nodes once handed out stay valid and
    // show later changes. That costs memory and speed: it is meant for
    // inspection, not for the program's own work.
    const TWordsTree* Root() const;

    // Walks every key holding an id in AllKeys order, with the key as stored
    // (folded when IgnoreCase is on) and a node whose IDs is the key's ring.
    // The node may be a stand-in that lives only for the call.
    template <class Visit>
    void ForEachKey(Visit&& visit) const {
        VisitKeys([](void* context, std::string_view key,
                     const TLetterTree& node) { (*static_cast<std::remove_reference_t<Visit>*>(context))(key, node); },
                  const_cast<void*>(static_cast<const void*>(&visit)));
    }

    // Number of ids in a ring (0 for null).
    static int RingSize(const TID* ring);

    // Bytes held by the key structure (not counting the id entries); for
    // measurements.
    std::size_t StructureBytes() const;

private:
    using TKeyVisit = void (*)(void* context, std::string_view key, const TLetterTree& node);
    void VisitKeys(TKeyVisit visit, void* context) const;

    // Switches to the node-per-character form.
    void ExpandNodes() const;
    TLetterTree* FindNode(std::string_view key) const;
    TLetterTree* FindOrInsertNode(std::string_view key);
    TLetterTree* InsertChar(TWordsTree& level, unsigned char c) const;

    // First entry of the key's ring, null when the key holds no id.
    TID* FirstOf(std::string_view key) const;
    TID* NewId(TStrId value);
    // Appends to the ring of a compact-form key.
    void AppendToSlot(TCompactTrie::TRingSlot slot, TStrId value);
    void FreeId(TID* id);
    // Takes the entries holding value out of the ring starting at first;
    // answers the first and last entries that stay (null when none).
    std::pair<TID*, TID*> RemoveFromRing(TID* first, TStrId value);
    // Keeps the selection on a ring whose first entry changed.
    void RingChanged(const TID* oldFirst, TID* newFirst);
    void ClearSelection();

    // The compact form, in use until Root() is first asked for.
    mutable TCompactTrie compact_;
    mutable bool expanded_ = false;
    // The node-per-character form, after that.
    mutable TWordsTree root_;
    mutable TChunkPool<TLetterTree> nodes_;

    int selectedCount_ = 0;
    // The selection ring: at most one entry, whose IDs is the first entry
    // of the selected key's ring.
    TIDsList selection_;

    // Id entries live in a pool owned by the index, so a million keys cost
    // no million separate allocations; freed ids are reused.
    TChunkPool<TID> ids_;
    TID* freeIds_ = nullptr;
};
