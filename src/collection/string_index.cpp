#include "collection/string_index.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

inline unsigned char MapChar(unsigned char c, bool ignoreCase) {
    return ignoreCase && c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Distance from the middle of the byte range: characters near 128 rise
// towards the root of a level.
inline int Distance(unsigned char c) { return c >= 128 ? c - 128 : 128 - c; }

// Searches one level for c: the matching node, or null with last set to the
// last node visited.
inline TLetterTree* SearchLevel(const TWordsTree& level, unsigned char c, TLetterTree*& last) {
    TLetterTree* node = level.RootNode;
    last = nullptr;
    while (node) {
        last = node;
        if (c < node->Ch)
            node = node->Lower;
        else if (c > node->Ch)
            node = node->Higher;
        else
            return node;
    }
    return nullptr;
}

// The walked characters of a key: its own characters (the empty key counts as
// the single character 0), then the terminating 0.
template <class Step>
inline bool WalkKey(std::string_view key, bool ignoreCase, Step&& step) {
    if (key.empty()) {
        if (!step(static_cast<unsigned char>(0))) return false;
    } else {
        for (char ch : key)
            if (!step(MapChar(static_cast<unsigned char>(ch), ignoreCase))) return false;
    }
    return step(static_cast<unsigned char>(0));
}

}  // namespace

void* AllocatePoolChunk(std::size_t bytes) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    void* chunk = nullptr;
    if (bytes < kHugePage) {
        chunk = std::malloc(bytes);
    } else {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        chunk = std::aligned_alloc(kHugePage, bytes);
#ifdef MADV_HUGEPAGE
        if (chunk) ::madvise(chunk, bytes, MADV_HUGEPAGE);  // a hint; refusal is harmless
#endif
    }
    if (!chunk) throw std::bad_alloc();
    return chunk;
}

void FreePoolChunk(void* chunk) { std::free(chunk); }

TCustomStrFinder::TCustomStrFinder() = default;

TCustomStrFinder::~TCustomStrFinder() { ClearSelection(); }

TLetterTree* TCustomStrFinder::NewNode(unsigned char c) {
    TLetterTree* node = nodes_.New();
    node->Ch = c;
    return node;
}

TID* TCustomStrFinder::NewId(TStrId value) {
    TID* id = freeIds_;
    if (id)
        freeIds_ = id->NextID;
    else
        id = ids_.New();
    id->Value = value;
    id->NextID = id;
    return id;
}

void TCustomStrFinder::FreeId(TID* id) {
    id->NextID = freeIds_;
    freeIds_ = id;
}

void TCustomStrFinder::ClearSelection() {
    selection_ = nullptr;
    selectionEntry_ = TIDsList{};
    selectedNode_ = nullptr;
    selectedCount_ = 0;
}

TLetterTree* TCustomStrFinder::InsertChar(TWordsTree& level, unsigned char c) {
    TLetterTree* p = nullptr;
    if (TLetterTree* found = SearchLevel(level, c, p)) return found;
    TLetterTree* n = NewNode(c);
    if (!p) {
        level.RootNode = n;
        return n;
    }
    if (Distance(p->Ch) <= Distance(c)) {
        // The new character is no nearer the middle: it goes below.
        (c < p->Ch ? p->Lower : p->Higher) = n;
        n->Parent = p;
        return n;
    }
    // The new character is nearer the middle: it takes P's place and P goes
    // below it on the side that keeps the order.
    if (c > p->Ch)
        n->Lower = p;
    else
        n->Higher = p;
    TLetterTree* up = p->Parent;
    n->Parent = up;
    if (!up)
        level.RootNode = n;
    else if (up->Lower == p)
        up->Lower = n;
    else
        up->Higher = n;
    p->Parent = n;
    return n;
}

TLetterTree* TCustomStrFinder::Find(std::string_view key) const {
    const TWordsTree* level = &root_;
    TLetterTree* node = nullptr;
    bool found = WalkKey(key, IgnoreCase, [&](unsigned char c) {
        if (!level) return false;
        TLetterTree* last = nullptr;
        node = SearchLevel(*level, c, last);
        if (!node) return false;
        level = &node->Next;
        return true;
    });
    return found ? node : nullptr;
}

TLetterTree* TCustomStrFinder::FindOrInsert(std::string_view key) {
    TWordsTree* level = &root_;
    TLetterTree* node = nullptr;
    WalkKey(key, IgnoreCase, [&](unsigned char c) {
        node = InsertChar(*level, c);
        level = &node->Next;
        return true;
    });
    return node;
}

int TCustomStrFinder::RingSize(const TID* ring) {
    if (!ring) return 0;
    int n = 0;
    const TID* id = ring;
    do {
        ++n;
        id = id->NextID;
    } while (id != ring);
    return n;
}

void TCustomStrFinder::Add(std::string_view key, TStrId value) {
    TLetterTree* node = FindOrInsert(key);
    TID* head = node->IDs;
    if (!head) {
        node->IDs = NewId(value);
    } else {
        // Appending in constant time to a ring that is entered at its first
        // entry: put the new entry right after the first, swap the two values
        // and enter the ring at the new entry. The old first entry, now holding
        // the new value, is then the last one.
        TID* n = NewId(head->Value);
        n->NextID = head->NextID;
        head->NextID = n;
        head->Value = value;
        node->IDs = n;
    }
    if (selectedNode_ == node) selectionEntry_.IDs = node->IDs;
}

bool TCustomStrFinder::AddUnique(std::string_view key, TStrId value) {
    if (const TLetterTree* node = Find(key); node && node->IDs) {
        const TID* id = node->IDs;
        do {
            if (id->Value == value) return false;
            id = id->NextID;
        } while (id != node->IDs);
    }
    Add(key, value);
    return true;
}

TStrId TCustomStrFinder::Lookup(std::string_view key) const {
    const TLetterTree* node = Find(key);
    return node && node->IDs ? node->IDs->Value : TStrId{-1};
}

int TCustomStrFinder::Select(std::string_view key) {
    ClearSelection();
    const TLetterTree* node = Find(key);
    if (node && node->IDs) {
        selectionEntry_.IDs = node->IDs;
        selectionEntry_.NextList = &selectionEntry_;
        selection_ = &selectionEntry_;
        selectedNode_ = node;
        selectedCount_ = RingSize(node->IDs);
    }
    return selectedCount_;
}

std::vector<TStrId> TCustomStrFinder::SelectedIDs() const {
    std::vector<TStrId> result;
    if (!selection_ || !selectedNode_ || !selectedNode_->IDs) return result;
    // The selected ring is read as it is now; ids removed since the selection
    // are simply absent rather than read from freed entries.
    result.reserve(static_cast<std::size_t>(selectedCount_));
    const TID* first = selectedNode_->IDs;
    const TID* id = first;
    do {
        result.push_back(id->Value);
        id = id->NextID;
    } while (id != first && static_cast<int>(result.size()) < selectedCount_);
    return result;
}

void TCustomStrFinder::Remove(std::string_view key, TStrId value) {
    TLetterTree* node = Find(key);
    if (!node || !node->IDs) return;
    // Rebuild the ring from the entries that stay, in their order.
    TID* first = node->IDs;
    TID* keptFirst = nullptr;
    TID* keptLast = nullptr;
    TID* id = first;
    do {
        TID* next = id->NextID;
        if (id->Value == value) {
            FreeId(id);
        } else {
            if (keptLast)
                keptLast->NextID = id;
            else
                keptFirst = id;
            keptLast = id;
        }
        id = next;
    } while (id != first);
    if (keptLast) keptLast->NextID = keptFirst;
    node->IDs = keptFirst;
    if (selectedNode_ == node) {
        // The selection never reaches past the ring it points at.
        selectionEntry_.IDs = keptFirst;
        selectedCount_ = std::min(selectedCount_, RingSize(keptFirst));
        if (!keptFirst) ClearSelection();
    }
}

std::string TCustomStrFinder::AllKeys(std::string_view separator) const {
    std::string result;
    ForEachKey([&](std::string_view key, const TLetterTree&) {
        result.append(key);
        result.append(separator);
    });
    return result;
}
