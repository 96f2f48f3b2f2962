#include <gtest/gtest.h>

#include "base/language.h"
#include "base/shared_functions.h"
#include "base/tree.h"
#include "test_util.h"

namespace {

struct CountedNode : TTree {
    CountedNode(TTree* parent, int* alive) : TTree(parent), alive_(alive) { ++*alive_; }
    ~CountedNode() override { --*alive_; }
    int* alive_;
};

TEST(Tree, ParentOwnsChildrenInOrder) {
    int alive = 0;
    {
        TTree root;
        auto* a = TTree::Make<CountedNode>(&root, &alive);
        auto* b = TTree::Make<CountedNode>(&root, &alive);
        EXPECT_EQ(root.Count(), 2);
        EXPECT_EQ(root.Child(0), a);
        EXPECT_EQ(b->Parent(), &root);
        TTree::Make<CountedNode>(a, &alive);
        EXPECT_EQ(alive, 3);
    }
    EXPECT_EQ(alive, 0);
}

TEST(Tree, RemoveDeleteAndErrors) {
    int alive = 0;
    TTree root;
    auto* a = TTree::Make<CountedNode>(&root, &alive);
    TTree::Make<CountedNode>(&root, &alive);
    TTree* taken = root.Remove(0);
    EXPECT_EQ(taken, a);
    EXPECT_EQ(a->Parent(), nullptr);
    EXPECT_EQ(root.Count(), 1);
    delete taken;
    EXPECT_EQ(alive, 1);
    root.Delete(0);
    EXPECT_EQ(alive, 0);
    try {
        root.Remove(0);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "TTree:Delete error");
    }
}

TEST(Tree, NodeHeldTwiceLeavesNoReference) {
    int alive = 0;
    TTree root;
    auto* a = TTree::Make<CountedNode>(&root, &alive);
    auto* b = TTree::Make<CountedNode>(&root, &alive);
    root.Add(a);
    EXPECT_EQ(root.Count(), 3);
    delete a;
    ASSERT_EQ(root.Count(), 1);
    EXPECT_EQ(root.Child(0), b);
    root.Add(root.Child(0));
    root.Clear();  // the doubly held child is destroyed once
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(root.Count(), 0);
}

class Language : public ::testing::Test {
protected:
    void TearDown() override { SetAppLanguage(nullptr); }
    TempDir dir_;
};

std::string KeyOf(const std::string& text) { return HexEncode(Md5Digest(text)); }

TEST_F(Language, WithoutTableTextsStayEnglish) {
    SetAppLanguage(nullptr);
    EXPECT_EQ(Translate("Found"), "Found");
    // Without a table the parameters are still filled: a message never shows "$1".
    EXPECT_EQ(Translate("File $1", "x"), "File x");
    SetAppLanguage(std::make_unique<TLanguage>(dir_ / "missing.lng"));
    EXPECT_TRUE(AppLanguage()->Messages().empty());
    EXPECT_EQ(Translate("Found"), "Found");
    EXPECT_EQ(Translate("File $1", "x"), "File x");
}

TEST_F(Language, ProfileRulesApply) {
    std::string msg = "Error in config file \"$1\" at position $2";
    std::string file = dir_.Write("de.lng", "[Other]\r\n" + KeyOf("Found") +
                                                "=Wrong\r\n"
                                                "[messages]\r\n"
                                                "  " +
                                                LowerCase(KeyOf("Found")) + "  =  Gefunden  \r\n" + KeyOf("Found") +
                                                "=Second\r\n" + KeyOf("Artist") + "=\"Interpret\"\r\n" + KeyOf(msg) +
                                                "=Position $2 in \"$1\"\r\n"
                                                "NOTAKEY=value\r\n");
    SetAppLanguage(std::make_unique<TLanguage>(file));
    EXPECT_EQ(Translate("Found"), "Gefunden");
    EXPECT_EQ(Translate("Artist"), "Interpret");
    EXPECT_EQ(Translate(msg, Params({"a.xml", "3:4"})), "Position 3:4 in \"a.xml\"");
    EXPECT_EQ(Translate("Album"), "Album");
    EXPECT_EQ(AppLanguage()->Lookup(LowerCase(KeyOf("Artist"))), "Interpret");
}

TEST_F(Language, KeyFoundBesideLongerKeyItPrefixes) {
    // "AB0=" sorts before "AB=" as a whole line, which hid AB from the lookup.
    TLanguage table(dir_.Write("p.lng", "[Messages]\r\nAB=short\r\nab0=longer\r\nAB-=dash\r\n"));
    EXPECT_EQ(table.Lookup("ab"), "short");
    EXPECT_EQ(table.Lookup("AB0"), "longer");
    EXPECT_EQ(table.Lookup("AB-"), "dash");
    EXPECT_EQ(table.Lookup("A"), "");
}

TEST_F(Language, EveryEntryIsLoadedAndLongValuesAreCut) {
    std::string text = "[Messages]\r\n";
    for (int i = 0; i < 600; ++i) text += KeyOf("text " + std::to_string(i)) + "=t" + std::to_string(i) + "\r\n";
    text += KeyOf("long") + "=" + std::string(3000, 'x') + "\r\n";
    SetAppLanguage(std::make_unique<TLanguage>(dir_.Write("big.lng", text)));
    EXPECT_EQ(Translate("text 599"), "t599");
    EXPECT_EQ(Translate("long").size(), 2047u);
}

}  // namespace
