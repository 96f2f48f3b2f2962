#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "collection/string_index.h"

namespace {

std::vector<TStrId> Ids(std::initializer_list<TStrId> ids) { return std::vector<TStrId>(ids); }

// Checks the search-tree order and parent links of one level and all levels
// below it; answers the number of nodes seen.
int CheckLevel(const TWordsTree& level) {
    int count = 0;
    std::function<void(const TLetterTree*, int, int)> walk = [&](const TLetterTree* n, int lo, int hi) {
        if (!n) return;
        ++count;
        EXPECT_GT(static_cast<int>(n->Ch), lo);
        EXPECT_LT(static_cast<int>(n->Ch), hi);
        if (n->Lower) {
            EXPECT_EQ(n->Lower->Parent, n);
        }
        if (n->Higher) {
            EXPECT_EQ(n->Higher->Parent, n);
        }
        if (n->IDs) {
            EXPECT_EQ(n->Ch, 0);
        }
        walk(n->Lower, lo, n->Ch);
        walk(n->Higher, n->Ch, hi);
        count += CheckLevel(n->Next);
    };
    if (level.RootNode) {
        EXPECT_EQ(level.RootNode->Parent, nullptr);
    }
    walk(level.RootNode, -1, 256);
    return count;
}

}  // namespace

TEST(StringIndex, KeyOrderWithoutCaseFolding) {
    TCustomStrFinder index;
    index.IgnoreCase = false;
    index.Add("Nova", 1);
    index.Add("NOVA", 2);
    index.Add("b", 3);
    index.Add("ab", 4);
    index.Add("a", 5);
    index.Add("", 6);
    index.Add("\xC3\xA9", 7);  // é sorts after every ASCII key
    EXPECT_EQ(index.AllKeys("\r\n"), "\r\nNOVA\r\nNova\r\na\r\nab\r\nb\r\n\xC3\xA9\r\n");
    EXPECT_EQ(index.Lookup("Nova"), 1);
    EXPECT_EQ(index.Lookup("NOVA"), 2);
    EXPECT_EQ(index.Lookup("nova"), -1);
    EXPECT_EQ(index.Lookup(""), 6);
    EXPECT_EQ(index.Lookup("N"), -1);  // a prefix is not a key
}

TEST(StringIndex, CaseFoldingMapsAsciiLettersOnly) {
    TCustomStrFinder index;  // folding is on after creation
    index.Add("nova", 1);
    index.Add("NOVA", 2);
    index.Add("\xC3\xA9", 3);  // é
    index.Add("\xC3\x89", 4);  // É
    EXPECT_EQ(index.Lookup("NoVa"), 1);
    EXPECT_EQ(index.Select("nOvA"), 2);
    EXPECT_EQ(index.SelectedIDs(), Ids({1, 2}));
    EXPECT_EQ(index.Lookup("\xC3\xA9"), 3);
    EXPECT_EQ(index.Lookup("\xC3\x89"), 4);
    EXPECT_EQ(index.AllKeys(","), "NOVA,\xC3\x89,\xC3\xA9,");
}

TEST(StringIndex, RingsKeepInsertionOrderAndSelectionFollowsChanges) {
    TCustomStrFinder index;
    index.IgnoreCase = false;
    for (TStrId id : {0, 3, 7}) index.Add("Rock", id);
    index.Add("Pop", 1);
    EXPECT_EQ(index.Select("Rock"), 3);
    EXPECT_EQ(index.SelectedCount(), 3);
    EXPECT_EQ(index.SelectedIDs(), Ids({0, 3, 7}));
    // A longer ring, appended in constant time, still reads in order.
    for (TStrId id = 8; id < 1000; ++id) index.Add("Rock", id);
    EXPECT_EQ(index.Lookup("Rock"), 0);
    ASSERT_EQ(index.Select("Rock"), 995);
    auto ids = index.SelectedIDs();
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(ids.back(), 999);

    // Selecting a key that was never added empties the selection.
    EXPECT_EQ(index.Select("Jazz"), 0);
    EXPECT_TRUE(index.SelectedIDs().empty());
    EXPECT_EQ(index.Select("Ro"), 0);
    EXPECT_TRUE(index.SelectedIDs().empty());
}

TEST(StringIndex, AddUniqueAndRemove) {
    TCustomStrFinder index;
    index.Add("x", 5);
    index.Add("x", 5);
    EXPECT_EQ(index.Select("x"), 2);
    EXPECT_EQ(index.SelectedIDs(), Ids({5, 5}));
    EXPECT_FALSE(index.AddUnique("x", 5));
    EXPECT_TRUE(index.AddUnique("x", 6));
    EXPECT_TRUE(index.AddUnique("y", 5));
    EXPECT_EQ(index.Select("x"), 3);

    index.Remove("x", 5);  // both entries go
    EXPECT_EQ(index.Lookup("x"), 6);
    index.Remove("x", 6);
    EXPECT_EQ(index.Lookup("x"), -1);
    EXPECT_EQ(index.Select("x"), 0);
    EXPECT_EQ(index.AllKeys(","), "Y,");
    index.Remove("absent", 1);  // no error

    // Nodes stay; the key can be filled again, and freed entries are reused
    // without disturbing other rings.
    index.Add("x", 9);
    index.Add("x", 10);
    EXPECT_EQ(index.Select("x"), 2);
    EXPECT_EQ(index.SelectedIDs(), Ids({9, 10}));
    EXPECT_EQ(index.Lookup("y"), 5);
}

TEST(StringIndex, RemovingFromTheSelectedRingKeepsSelectionSafe) {
    TCustomStrFinder index;
    index.Add("k", 1);
    index.Add("k", 2);
    index.Add("k", 3);
    ASSERT_EQ(index.Select("k"), 3);
    index.Remove("k", 1);  // the ring's first entry
    EXPECT_EQ(index.SelectedCount(), 2);
    EXPECT_EQ(index.SelectedIDs(), Ids({2, 3}));
    index.Add("k", 4);
    EXPECT_EQ(index.SelectedIDs(), Ids({2, 3}));  // the count is the one of the selection
    index.Remove("k", 2);
    index.Remove("k", 3);
    index.Remove("k", 4);
    EXPECT_TRUE(index.SelectedIDs().empty());
    EXPECT_EQ(index.SelectedCount(), 0);
}

TEST(StringIndex, CharactersNearTheMiddleRiseToTheRoot) {
    TCustomStrFinder index;
    index.IgnoreCase = false;
    index.Add("A", 1);  // |65-128| = 63
    const TLetterTree* top = index.Root()->RootNode;
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->Ch, 'A');

    index.Add("z", 2);  // |122-128| = 6: nearer the middle, takes A's place
    top = index.Root()->RootNode;
    EXPECT_EQ(top->Ch, 'z');
    ASSERT_NE(top->Lower, nullptr);
    EXPECT_EQ(top->Lower->Ch, 'A');
    EXPECT_EQ(top->Lower->Parent, top);
    EXPECT_EQ(top->Parent, nullptr);

    index.Add("\x01", 3);  // far from the middle: goes below
    EXPECT_EQ(index.Root()->RootNode->Ch, 'z');
    EXPECT_EQ(top->Lower->Lower->Ch, 1);

    // A key ends in a character-0 node carrying the ids; the empty key is two
    // character-0 nodes.
    index.Add("", 4);
    EXPECT_EQ(index.Root()->RootNode->Ch, 'z');
    const TLetterTree* zero = top->Lower->Lower->Lower;
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(zero->Ch, 0);
    EXPECT_EQ(zero->IDs, nullptr);
    ASSERT_NE(zero->Next.RootNode, nullptr);
    EXPECT_EQ(zero->Next.RootNode->Ch, 0);
    ASSERT_NE(zero->Next.RootNode->IDs, nullptr);
    EXPECT_EQ(zero->Next.RootNode->IDs->Value, 4);
    EXPECT_EQ(zero->Next.RootNode->IDs->NextID, zero->Next.RootNode->IDs);  // a ring of one
}

TEST(StringIndex, RandomKeysStayOrderedAndFindable) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> len(0, 6), ch(1, 255);
    TCustomStrFinder index;
    index.IgnoreCase = false;
    std::set<std::string> keys;
    for (int i = 0; i < 3000; ++i) {
        std::string k;
        for (int n = len(rng); n > 0; --n) k.push_back(static_cast<char>(ch(rng)));
        keys.insert(k);
        index.AddUnique(k, static_cast<TStrId>(std::hash<std::string>{}(k)&0x7fffffff));
    }
    std::string expected;
    for (const auto& k : keys) expected += k + '\0';  // std::set orders as bytes too
    // Separator 0 is safe here: no generated key holds it.
    std::string all = index.AllKeys(std::string_view("\0", 1));
    EXPECT_EQ(all, expected);
    for (const auto& k : keys) EXPECT_EQ(index.Lookup(k), static_cast<TStrId>(std::hash<std::string>{}(k)&0x7fffffff));
    CheckLevel(*index.Root());
}

TEST(StringIndex, EmptyIndex) {
    TCustomStrFinder index;
    EXPECT_EQ(index.Root(), nullptr);
    EXPECT_EQ(index.AllKeys("\r\n"), "");
    EXPECT_EQ(index.Lookup(""), -1);
    EXPECT_EQ(index.Select(""), 0);
}

// ---------------------------------------------------------------------------
// The compact working form against the node-per-character form (which an
// index switches to once its nodes are asked for) and against a plain model.

namespace {

// Keys as the index lists them (folded when case is ignored), each with its
// ids in the order added; std::string orders as unsigned bytes, a prefix first.
struct TModel {
    bool ignoreCase = false;
    std::map<std::string, std::vector<TStrId>> rings;
    std::string selected;  // key of the selection
    int selectedCount = 0;

    std::string Fold(std::string key) const {
        if (ignoreCase)
            for (char& c : key)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return key;
    }
    std::vector<TStrId> Ring(const std::string& key) const {
        auto it = rings.find(Fold(key));
        return it == rings.end() ? std::vector<TStrId>() : it->second;
    }
    void Add(const std::string& key, TStrId id) { rings[Fold(key)].push_back(id); }
    void Remove(const std::string& key, TStrId id) {
        auto it = rings.find(Fold(key));
        if (it == rings.end()) return;
        std::erase(it->second, id);
        if (selectedCount > 0 && selected == it->first) {
            selectedCount = std::min(selectedCount, static_cast<int>(it->second.size()));
        }
    }
    int Select(const std::string& key) {
        selected = Fold(key);
        selectedCount = static_cast<int>(Ring(key).size());
        return selectedCount;
    }
    std::vector<TStrId> SelectedIDs() const {
        if (selectedCount == 0) return {};
        auto ring = rings.at(selected);
        ring.resize(static_cast<std::size_t>(selectedCount));
        return ring;
    }
    std::string AllKeys() const {
        std::string all;
        for (const auto& [key, ids] : rings)
            if (!ids.empty()) all += key + '|';
        return all;
    }
};

// Every key with the ids of its ring as ForEachKey hands them out.
std::string Listing(const TCustomStrFinder& index) {
    std::string out;
    index.ForEachKey([&](std::string_view key, const TLetterTree& node) {
        out.append(key);
        const TID* id = node.IDs;
        do {
            out += ' ' + std::to_string(id->Value);
            id = id->NextID;
        } while (id != node.IDs);
        out += '\n';
    });
    return out;
}

// Two node-per-character tries are the same: shapes, characters, rings.
void ExpectSameLevels(const TLetterTree* a, const TLetterTree* b, const std::string& path) {
    ASSERT_EQ(a == nullptr, b == nullptr) << "at " << path;
    if (!a) return;
    ASSERT_EQ(a->Ch, b->Ch) << "at " << path;
    ASSERT_EQ(a->Parent == nullptr, b->Parent == nullptr) << "at " << path;
    if (a->Parent) {
        ASSERT_EQ(a->Parent->Ch, b->Parent->Ch) << "at " << path;
    }
    ASSERT_EQ(TCustomStrFinder::RingSize(a->IDs), TCustomStrFinder::RingSize(b->IDs)) << "at " << path;
    for (const TID *x = a->IDs, *y = b->IDs; x; x = x->NextID, y = y->NextID) {
        ASSERT_EQ(x->Value, y->Value) << "at " << path;
        if (x->NextID == a->IDs) break;
    }
    ExpectSameLevels(a->Lower, b->Lower, path + "<");
    ExpectSameLevels(a->Higher, b->Higher, path + ">");
    ExpectSameLevels(a->Next.RootNode, b->Next.RootNode, path + static_cast<char>(a->Ch));
}

// Runs the same random operations on an index that stays compact, one that
// is expanded from the start and one expanded half-way, and on the model
// when the keys hold no character 0 (the model cannot list those).
void RunDifferential(unsigned seed, bool ignoreCase, bool withZeros) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::string alphabet = withZeros ? std::string("aAbB z\x80\xff\0", 10) : std::string("aAbB z\x80\xff", 8);
    std::uniform_int_distribution<int> length(0, 7), letter(0, static_cast<int>(alphabet.size()) - 1);
    std::uniform_int_distribution<int> op(0, 99), idPick(0, 9);
    std::vector<std::string> keys;  // reused often, so rings grow and shrink
    auto key = [&]() -> std::string {
        if (!keys.empty() && op(rng) < 60) return keys[static_cast<std::size_t>(op(rng)) % keys.size()];
        std::string k;
        for (int n = length(rng); n > 0; --n) k += alphabet[static_cast<std::size_t>(letter(rng))];
        keys.push_back(k);
        return k;
    };

    TCustomStrFinder compact, nodes, later;
    for (TCustomStrFinder* index : {&compact, &nodes, &later}) index->IgnoreCase = ignoreCase;
    ASSERT_EQ(nodes.Root(), nullptr);  // expanded while still empty
    TModel model;
    model.ignoreCase = ignoreCase;

    const int steps = 4000;
    for (int step = 0; step < steps; ++step) {
        if (step == steps / 2) {
            ASSERT_NE(later.Root(), nullptr);
        }
        const std::string k = key();
        const TStrId id = idPick(rng);
        const int what = op(rng);
        if (what < 45) {
            for (TCustomStrFinder* index : {&compact, &nodes, &later}) index->Add(k, id);
            model.Add(k, id);
        } else if (what < 60) {
            const bool added = compact.AddUnique(k, id);
            ASSERT_EQ(nodes.AddUnique(k, id), added);
            ASSERT_EQ(later.AddUnique(k, id), added);
            const auto ring = model.Ring(k);
            if (!withZeros) {
                ASSERT_EQ(added, std::find(ring.begin(), ring.end(), id) == ring.end());
            }
            if (added) model.Add(k, id);
        } else if (what < 75) {
            for (TCustomStrFinder* index : {&compact, &nodes, &later}) index->Remove(k, id);
            model.Remove(k, id);
        } else if (what < 85) {
            const int count = compact.Select(k);
            ASSERT_EQ(nodes.Select(k), count);
            ASSERT_EQ(later.Select(k), count);
            if (!withZeros) {
                ASSERT_EQ(model.Select(k), count);
            }
        } else {
            const TStrId first = compact.Lookup(k);
            ASSERT_EQ(nodes.Lookup(k), first);
            ASSERT_EQ(later.Lookup(k), first);
            const auto ring = model.Ring(k);
            if (!withZeros) {
                ASSERT_EQ(first, ring.empty() ? -1 : ring.front());
            }
        }
        const auto selected = compact.SelectedIDs();
        ASSERT_EQ(compact.SelectedCount(), static_cast<int>(selected.size()));
        ASSERT_EQ(nodes.SelectedIDs(), selected);
        ASSERT_EQ(later.SelectedIDs(), selected);
        if (!withZeros) {
            ASSERT_EQ(model.SelectedIDs(), selected);
        }
        if (step % 500 == 0 || step == steps - 1) {
            const std::string listing = Listing(compact);
            ASSERT_EQ(Listing(nodes), listing);
            ASSERT_EQ(Listing(later), listing);
            if (!withZeros) {
                ASSERT_EQ(compact.AllKeys("|"), model.AllKeys());
            }
        }
    }
    // The nodes built from the compact form are the ones added one by one.
    ASSERT_NE(compact.Root(), nullptr);
    ExpectSameLevels(compact.Root()->RootNode, nodes.Root()->RootNode, "");
    ExpectSameLevels(later.Root()->RootNode, nodes.Root()->RootNode, "");
    CheckLevel(*compact.Root());
}

}  // namespace

TEST(StringIndex, CompactFormAgreesWithNodesAndModel) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        RunDifferential(seed, false, false);
        RunDifferential(seed + 100, true, false);
        RunDifferential(seed + 200, seed % 2 == 0, true);  // keys with character 0 inside
    }
}

TEST(StringIndex, KeysExtendingEachOtherSplitTheirTails) {
    // Paths that share long stretches, like page files in one folder: each
    // new key splits the unshared rest of an earlier one.
    TCustomStrFinder index;
    const std::vector<std::string> keys = {
        "/tmp/w/0a1b2c.htm", "/tmp/w/0a1b2c.html", "/tmp/w/0a1b", "/tmp/w/0a1b2d.htm",
        "/tmp/w/",           "/tmp/w/0A1B2C.HTM",  "/tmp/v",      ""};
    for (std::size_t i = 0; i < keys.size(); ++i) index.Add(keys[i], static_cast<TStrId>(i));
    EXPECT_EQ(index.AllKeys(","),
              ",/TMP/V,/TMP/W/,/TMP/W/0A1B,/TMP/W/0A1B2C.HTM,/TMP/W/0A1B2C.HTML,/TMP/W/0A1B2D.HTM,");
    EXPECT_EQ(index.Select("/tmp/w/0a1b2c.htm"), 2);  // folded: one key with ids 0 and 5
    EXPECT_EQ(index.SelectedIDs(), Ids({0, 5}));
    EXPECT_EQ(index.Lookup("/tmp/w/0a1b2c.ht"), -1);
    EXPECT_EQ(index.Lookup("/tmp/w/0a1b2c.htmlx"), -1);
    EXPECT_EQ(index.Lookup("/tmp/w"), -1);
    EXPECT_EQ(index.Lookup(""), 7);
}

TEST(StringIndex, VeryLongKeysNeedNoDeepRecursion) {
    // Levels are as deep as the longest key; nothing may recurse per level.
    TCustomStrFinder index;
    index.IgnoreCase = false;
    const std::string a(300000, 'x');
    const std::string b = a.substr(0, 200000) + "y";
    index.Add(a, 1);
    index.Add(b, 2);  // turns 200 000 shared characters into levels
    index.Add(a + "z", 3);
    EXPECT_EQ(index.Lookup(a), 1);
    EXPECT_EQ(index.Lookup(b), 2);
    EXPECT_EQ(index.AllKeys("|"), a + "|" + a + "z|" + b + "|");
    ASSERT_NE(index.Root(), nullptr);  // expands the nodes
    EXPECT_EQ(index.Lookup(a + "z"), 3);
    EXPECT_EQ(index.AllKeys("|").size(), a.size() * 2 + 1 + b.size() + 3);
}
