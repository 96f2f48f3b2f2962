#include "collection/string_index.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

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

TCustomStrFinder::~TCustomStrFinder() = default;

// ---------------------------------------------------------------------------
// Id rings and the selection

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

std::pair<TID*, TID*> TCustomStrFinder::RemoveFromRing(TID* first, TStrId value) {
    // Rebuild the ring from the entries that stay, in their order.
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
    return {keptFirst, keptLast};
}

void TCustomStrFinder::RingChanged(const TID* oldFirst, TID* newFirst) {
    if (!selection_.IDs || selection_.IDs != oldFirst) return;
    // The selection never reaches past the ring it points at.
    if (!newFirst) {
        ClearSelection();
        return;
    }
    selection_.IDs = newFirst;
    selectedCount_ = std::min(selectedCount_, RingSize(newFirst));
}

void TCustomStrFinder::ClearSelection() {
    selection_ = TIDsList{};
    selectedCount_ = 0;
}

// ---------------------------------------------------------------------------
// The node-per-character form

TLetterTree* TCustomStrFinder::InsertChar(TWordsTree& level, unsigned char c) const {
    TLetterTree* p = nullptr;
    if (TLetterTree* found = SearchLevel(level, c, p)) return found;
    TLetterTree* n = nodes_.New();
    n->Ch = c;
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

TLetterTree* TCustomStrFinder::FindNode(std::string_view key) const {
    const TKeyWalk walk(key, IgnoreCase);
    const TWordsTree* level = &root_;
    TLetterTree* node = nullptr;
    for (std::size_t i = 0; i < walk.size(); ++i) {
        TLetterTree* last = nullptr;
        node = SearchLevel(*level, walk[i], last);
        if (!node) return nullptr;
        level = &node->Next;
    }
    return node;
}

TLetterTree* TCustomStrFinder::FindOrInsertNode(std::string_view key) {
    const TKeyWalk walk(key, IgnoreCase);
    TWordsTree* level = &root_;
    TLetterTree* node = nullptr;
    for (std::size_t i = 0; i < walk.size(); ++i) {
        node = InsertChar(*level, walk[i]);
        level = &node->Next;
    }
    return node;
}

void TCustomStrFinder::ExpandNodes() const {
    if (expanded_) return;
    try {
        compact_.Expand(
            root_,
            [](void* self, TWordsTree& level, unsigned char c) {
                return static_cast<const TCustomStrFinder*>(self)->InsertChar(level, c);
            },
            const_cast<TCustomStrFinder*>(this));
    } catch (...) {
        // Stay compact; the nodes built so far are dropped with the pool.
        root_ = TWordsTree{};
        throw;
    }
    expanded_ = true;
    compact_.Clear();
}

const TWordsTree* TCustomStrFinder::Root() const {
    ExpandNodes();
    return root_.RootNode ? &root_ : nullptr;
}

std::size_t TCustomStrFinder::StructureBytes() const { return compact_.ReservedBytes() + nodes_.ReservedBytes(); }

// ---------------------------------------------------------------------------
// Operations

TID* TCustomStrFinder::FirstOf(std::string_view key) const {
    if (expanded_) {
        const TLetterTree* node = FindNode(key);
        return node ? node->IDs : nullptr;
    }
    const TCompactTrie::TRingSlot slot = compact_.Find(TKeyWalk(key, IgnoreCase));
    if (slot == TCompactTrie::kNoSlot) return nullptr;
    TID* last = compact_.Last(slot);
    return last ? last->NextID : nullptr;
}

void TCustomStrFinder::AppendToSlot(TCompactTrie::TRingSlot slot, TStrId value) {
    // The compact form keeps a ring by its last entry: appending leaves the
    // first entry where it is.
    TID* last = compact_.Last(slot);
    TID* n = NewId(value);
    if (last) {
        n->NextID = last->NextID;
        last->NextID = n;
    }
    compact_.SetLast(slot, n);
}

void TCustomStrFinder::Add(std::string_view key, TStrId value) {
    if (!expanded_) {
        AppendToSlot(compact_.Insert(TKeyWalk(key, IgnoreCase)), value);
        return;
    }
    TLetterTree* node = FindOrInsertNode(key);
    TID* head = node->IDs;
    if (!head) {
        node->IDs = NewId(value);
        return;
    }
    // Appending in constant time to a ring that is entered at its first
    // entry: put the new entry right after the first, swap the two values
    // and enter the ring at the new entry. The old first entry, now holding
    // the new value, is then the last one.
    TID* n = NewId(head->Value);
    n->NextID = head->NextID;
    head->NextID = n;
    head->Value = value;
    node->IDs = n;
    if (selection_.IDs == head) selection_.IDs = n;
}

bool TCustomStrFinder::AddUnique(std::string_view key, TStrId value) {
    auto holds = [value](const TID* first) {
        if (const TID* id = first) {
            do {
                if (id->Value == value) return true;
                id = id->NextID;
            } while (id != first);
        }
        return false;
    };
    if (expanded_) {
        if (holds(FirstOf(key))) return false;
        Add(key, value);
        return true;
    }
    // One walk: a key that is absent gets its id anyway.
    const TCompactTrie::TRingSlot slot = compact_.Insert(TKeyWalk(key, IgnoreCase));
    const TID* last = compact_.Last(slot);
    // An entry adds its keywords one after another, so the last id is the
    // likely one; the whole ring of a common keyword is long.
    if (last && (last->Value == value || holds(last->NextID))) return false;
    AppendToSlot(slot, value);
    return true;
}

TStrId TCustomStrFinder::Lookup(std::string_view key) const {
    const TID* first = FirstOf(key);
    return first ? first->Value : TStrId{-1};
}

int TCustomStrFinder::Select(std::string_view key) {
    ClearSelection();
    if (TID* first = FirstOf(key)) {
        selection_.IDs = first;
        selection_.NextList = &selection_;
        selectedCount_ = RingSize(first);
    }
    return selectedCount_;
}

std::vector<TStrId> TCustomStrFinder::SelectedIDs() const {
    std::vector<TStrId> result;
    const TID* first = selection_.IDs;
    if (!first) return result;
    result.reserve(static_cast<std::size_t>(selectedCount_));
    const TID* id = first;
    do {
        result.push_back(id->Value);
        id = id->NextID;
    } while (id != first && static_cast<int>(result.size()) < selectedCount_);
    return result;
}

void TCustomStrFinder::Remove(std::string_view key, TStrId value) {
    if (expanded_) {
        TLetterTree* node = FindNode(key);
        if (!node || !node->IDs) return;
        TID* oldFirst = node->IDs;
        node->IDs = RemoveFromRing(oldFirst, value).first;
        RingChanged(oldFirst, node->IDs);
        return;
    }
    const TCompactTrie::TRingSlot slot = compact_.Find(TKeyWalk(key, IgnoreCase));
    if (slot == TCompactTrie::kNoSlot) return;
    TID* last = compact_.Last(slot);
    if (!last) return;
    TID* oldFirst = last->NextID;
    const auto [keptFirst, keptLast] = RemoveFromRing(oldFirst, value);
    compact_.SetLast(slot, keptLast);
    RingChanged(oldFirst, keptFirst);
}

std::string TCustomStrFinder::AllKeys(std::string_view separator) const {
    std::string result;
    ForEachKey([&](std::string_view key, const TLetterTree&) {
        result.append(key);
        result.append(separator);
    });
    return result;
}

void TCustomStrFinder::VisitKeys(TKeyVisit visit, void* context) const {
    if (!expanded_) {
        struct TForward {
            TKeyVisit visit;
            void* context;
        } forward{visit, context};
        compact_.ForEach(
            [](void* f, std::string_view key, TID* last) {
                TLetterTree node;  // stands in for the key's character-0 node
                node.IDs = last->NextID;
                auto* to = static_cast<TForward*>(f);
                to->visit(to->context, key, node);
            },
            &forward);
        return;
    }
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
            if (n->IDs) visit(context, key, *n);
            if (n->Next.RootNode) stack.push_back({n->Next.RootNode, len, 0});
        } else {
            const std::size_t len = f.prefixLength;
            const TLetterTree* higher = n->Higher;
            stack.pop_back();
            if (higher) stack.push_back({higher, len, 0});
        }
    }
}
