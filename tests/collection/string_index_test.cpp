#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
        if (n->Lower) { EXPECT_EQ(n->Lower->Parent, n); }
        if (n->Higher) { EXPECT_EQ(n->Higher->Parent, n); }
        if (n->IDs) { EXPECT_EQ(n->Ch, 0); }
        walk(n->Lower, lo, n->Ch);
        walk(n->Higher, n->Ch, hi);
        count += CheckLevel(n->Next);
    };
    if (level.RootNode) { EXPECT_EQ(level.RootNode->Parent, nullptr); }
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
        index.AddUnique(k, static_cast<TStrId>(std::hash<std::string>{}(k) & 0x7fffffff));
    }
    std::string expected;
    for (const auto& k : keys) expected += k + '\0';  // std::set orders as bytes too
    // Separator 0 is safe here: no generated key holds it.
    std::string all = index.AllKeys(std::string_view("\0", 1));
    EXPECT_EQ(all, expected);
    for (const auto& k : keys) EXPECT_EQ(index.Lookup(k), static_cast<TStrId>(std::hash<std::string>{}(k) & 0x7fffffff));
    CheckLevel(*index.Root());
}

TEST(StringIndex, EmptyIndex) {
    TCustomStrFinder index;
    EXPECT_EQ(index.Root(), nullptr);
    EXPECT_EQ(index.AllKeys("\r\n"), "");
    EXPECT_EQ(index.Lookup(""), -1);
    EXPECT_EQ(index.Select(""), 0);
}
