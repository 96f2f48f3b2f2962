#include <gtest/gtest.h>

#include "pages/contents_tree.h"
#include "pages/keywords.h"
#include "services/configer.h"
#include "test_util.h"

namespace {

// Keyword options come from the configuration service; each test gets a
// fresh in-memory one.
class Keywords : public ::testing::Test {
protected:
    void SetUp() override { SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>())); }
    void TearDown() override { SetAppConfiger(nullptr); }

    void Option(const std::string& key, const std::string& value) {
        AppConfiger()->WriteString("Options", "Preferences.Keywords." + key, value);
    }
    // A tree with the options applied, as the compiler sets it up.
    TChmTree& Tree() {
        if (!tree_) {
            files_ = std::make_unique<TFiles>();
            files_->CheckExistence = false;
            tree_ = std::make_unique<TChmTree>(nullptr, files_.get());
            LoadKeywordOptions(*tree_);
        }
        return *tree_;
    }
    TChmTreeItem& Entry(const std::string& name = "/w/art.htm") { return *Tree().Root->AddFileEntry(name, false); }
    bool Listed(const std::string& key) {
        return Tree().IndexText().find("<param name=\"Name\" value=\"" + key + "\">\r\n<param name=\"Local\"") !=
               std::string::npos;
    }

    std::unique_ptr<TFiles> files_;
    std::unique_ptr<TChmTree> tree_;  // declared last: destroyed before the file set
};

std::vector<TKeywordKind> Kinds(std::initializer_list<TKeywordKind> k) { return k; }

}  // namespace

TEST(KeywordKinds, OrderLettersAndSets) {
    EXPECT_EQ(kkH1, 7);
    EXPECT_EQ(kkH3, 8);  // level 3 before level 2
    EXPECT_EQ(kkH2, 9);
    EXPECT_EQ(kkH7, 13);
    std::string letters;
    for (int k = 0; k < KeywordKindCount; ++k) letters += KeywordKindLetter(static_cast<TKeywordKind>(k));
    EXPECT_EQ(letters, "?-+KBIU1324567");
    EXPECT_EQ(HeadingKind(2), kkH2);
    EXPECT_EQ(HeadingKind(3), kkH3);
    EXPECT_EQ(HeadingKind(8), kkUnknown);
    EXPECT_EQ(KindBit(kkH2), 1 << 9);
    EXPECT_EQ(KindBit(16), 0);
    EXPECT_FALSE(HasKind(0xFFFF, 16));
}

TEST_F(Keywords, OptionsAndEnabledKinds) {
    TKeywordOptions defaults = ReadKeywordOptions();
    EXPECT_EQ(defaults.MaxLength, 32);
    EXPECT_EQ(defaults.MinLength, 4);
    EXPECT_EQ(defaults.Kinds, KindBit(kkUser));
    EXPECT_FALSE(defaults.IgnoreCase);

    Option("MaxLen", "many");  // not a number: default
    Option("MinLen", "2");
    Option("SetB", "1");
    Option("SetH2", "1");
    Option("SetH3", "0");
    Option("SetKeyword", "true");  // only numbers count
    Option("IgnoreCase", "1");
    TChmTree& tree = Tree();
    EXPECT_EQ(tree.MaxKeywordLength, 32);
    EXPECT_EQ(tree.MinKeywordLength, 2);
    EXPECT_EQ(tree.KeywordKinds, KindBit(kkUser) | KindBit(kkB) | KindBit(kkH2));
    EXPECT_TRUE(tree.Keywords->IgnoreCase);
    // Entries copy the kinds when they are created.
    TChmTreeItem& entry = Entry();
    EXPECT_EQ(entry.EnabledKinds, tree.KeywordKinds);
    tree.KeywordKinds = KindBit(kkUser);
    EXPECT_EQ(entry.EnabledKinds, KindBit(kkUser) | KindBit(kkB) | KindBit(kkH2));

    SetAppConfiger(nullptr);  // no configuration at all: defaults
    EXPECT_EQ(ReadKeywordOptions().MaxLength, 32);
}

// A long list is looked up through its hash table; it must answer as reading
// the list does: the first keyword equal with ASCII letters folded.
TEST_F(Keywords, LongListsFindTheFirstEqualKeyword) {
    TChmTreeItem& entry = Entry();
    for (int i = 0; i < 300; ++i) {
        // Case variants and repeats of a few names among unique titles.
        const std::string k = i % 7 == 0    ? (i % 2 ? "Intro" : "INTRO")
                              : i % 11 == 0 ? "Caf\xC3\xA9"
                                            : "Song " + std::to_string(i);
        AddKeywords(entry, k, kkB, false);  // the index is case-sensitive: "Intro" and "INTRO" both stay
    }
    ASSERT_NE(entry.KeywordLookup(), nullptr);
    auto expected = [&](std::string key) {
        int at = 0;
        for (std::size_t p = 1; p < entry.KeywordList.size();) {
            const std::size_t comma = entry.KeywordList.find(',', p);
            std::string kw = entry.KeywordList.substr(p, comma - p);
            std::string a = kw, b = key;
            for (std::string* s : {&a, &b})
                for (char& c : *s)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (a == b) return at;
            ++at;
            p = comma + 1;
        }
        return -1;
    };
    for (const std::string key :
         {"intro", "INTRO", "Intro", "caf\xC3\xA9", "CAF\xC3\x89", "song 299", "Song 1", "Song", "Song 2999", "x"})
        EXPECT_EQ(KeywordIndexOf(entry, key), expected(key)) << key;
    EXPECT_EQ(KeywordIndexOf(entry, "intro"), 0);
    EXPECT_EQ(KeywordIndexOf(entry, "CAF\xC3\x89"), -1);  // only ASCII letters fold

    // A program-set keyword already there changes the kind of the first one.
    AddUserKeyword(entry, "Song 298");
    EXPECT_EQ(entry.KeywordKindList[static_cast<std::size_t>(expected("Song 298"))], kkUser);
    AddUserKeyword(entry, "Late addition");
    EXPECT_EQ(KeywordIndexOf(entry, "late ADDITION"), static_cast<int>(entry.KeywordKindList.size()) - 1);

    // Each entry is listed once under a keyword however often and in whatever
    // order it is added, with short lists and long ones.
    TChmTreeItem& other = Entry("/w/other.htm");
    for (int round = 0; round < 3; ++round)
        for (const char* k : {"Intro", "Song 5", "Solo"}) {
            AddUserKeyword(other, k);
            AddUserKeyword(entry, k);
        }
    EXPECT_EQ(Tree().Keywords->Select("Intro"), 2);
    EXPECT_EQ(Tree().Keywords->Select("Song 5"), 2);
    EXPECT_EQ(Tree().Keywords->Select("Solo"), 2);
    EXPECT_EQ(Tree().Keywords->Select("INTRO"), 1);
    EXPECT_EQ(other.KeywordList, ",Intro,Song 5,Solo,");

    // Extracting again starts the lists over; the lookup follows.
    ExtractKeywords(entry, "");
    // "Intro" made the first folded match, "INTRO", a program-set one.
    EXPECT_EQ(entry.KeywordList, ",INTRO,Song 5,Song 298,Late addition,Solo,");
    EXPECT_EQ(entry.KeywordLookup(), nullptr);
    EXPECT_EQ(KeywordIndexOf(entry, "late addition"), 3);
    EXPECT_EQ(KeywordIndexOf(entry, "INTRO"), 0);
    EXPECT_EQ(KeywordIndexOf(entry, "Song 7"), -1);
}

TEST_F(Keywords, UserKeywords) {
    TChmTreeItem& entry = Entry();
    AddUserKeyword(entry, "AC,DC");
    AddUserKeyword(entry, "Ab");     // no length limit here
    AddUserKeyword(entry, "AC DC");  // already there
    AddUserKeyword(entry, "  ");     // nothing to list
    EXPECT_EQ(entry.KeywordList, ",AC DC,Ab,");
    EXPECT_EQ(entry.KeywordKindList, Kinds({kkUser, kkUser}));
    EXPECT_EQ(KeywordIndexOf(entry, "ac dc"), 0);
    EXPECT_EQ(KeywordIndexOf(entry, "AB"), 1);
    EXPECT_EQ(KeywordIndexOf(entry, "A"), -1);
    EXPECT_TRUE(Listed("AC DC"));
    EXPECT_TRUE(Listed("Ab"));

    // A keyword found in the page first is made a program-set one.
    AddKeywords(entry, "Nova", kkB, true);
    EXPECT_FALSE(Listed("Nova"));
    AddUserKeyword(entry, "Nova");
    EXPECT_EQ(entry.KeywordKindList, Kinds({kkUser, kkUser, kkUser}));
    EXPECT_TRUE(Listed("Nova"));

    // Re-extraction applies the length limits to program-set keywords too.
    ExtractKeywords(entry, "");
    EXPECT_EQ(entry.KeywordList, ",AC DC,Nova,");
    EXPECT_FALSE(Listed("Ab"));
    EXPECT_EQ(Tree().Keywords->Lookup("Ab"), -1);
}

TEST_F(Keywords, SplittingAndCleaning) {
    TChmTreeItem& entry = Entry();
    AddKeywords(entry, "Rock, Pop", kkB, false);
    AddKeywords(entry, " \"Jazz\" ,,, \"", kkB, false);
    AddKeywords(entry, "One<p>Two<P>Three", kkI, false);
    AddKeywords(entry, "Deep\xC2\xA0 \r\n Purple, &lt;Blues&gt;, <i>Soul</i>", kkU, false);
    AddKeywords(entry, "Voil\xC3\xA0 \xC3\x85", kkU, false);  // UTF-8 bytes 0xA0, 0x85 are no blanks
    EXPECT_EQ(entry.KeywordList, ",Rock,Pop,Jazz,One,TwoThree,Deep Purple,Soul,Voil\xC3\xA0 \xC3\x85,");
    EXPECT_EQ(entry.KeywordKindList, Kinds({kkB, kkB, kkB, kkI, kkI, kkU, kkU, kkU}));

    // Length limits count characters, not bytes.
    TChmTreeItem& limited = Entry("/w/other.htm");
    Tree().MinKeywordLength = 4;
    Tree().MaxKeywordLength = 4;
    AddKeywords(limited, "Rock, Pop, \xC3\x89ire, Roots", kkB, true);
    EXPECT_EQ(limited.KeywordList, ",Rock,\xC3\x89ire,");
}

TEST_F(Keywords, IgnoreCaseRegistersOnce) {
    Option("IgnoreCase", "1");
    TChmTreeItem& entry = Entry();
    AddKeywords(entry, "Rock, ROCK, rock", kkB, true);
    AddUserKeyword(entry, "rOcK");
    EXPECT_EQ(entry.KeywordList, ",ROCK,");
    EXPECT_EQ(entry.KeywordKindList, Kinds({kkUser}));
    EXPECT_TRUE(Listed("ROCK"));
}

TEST_F(Keywords, ExtractedKindsFollowTheOptions) {
    const std::string page =
        "<html><head><meta name=\"keywords\" content=\"Alpha, Beta\"></head><body>"
        "<B class=\"x\">Bold Text</b> <strong>Strong One</strong> <em>Emphasis</em>"
        "<h2>Live</h2><h3 id=\"s\">Studio</h3><u>Under</u></body></html>";
    {
        // By default only program-set keywords reach the index.
        TChmTreeItem& entry = Entry();
        AddUserKeyword(entry, "Nova");
        ExtractKeywords(entry, page);
        EXPECT_EQ(entry.KeywordList, ",Nova,Alpha,Beta,Bold Text,Strong One,Emphasis,Live,Studio,Under,");
        EXPECT_EQ(entry.KeywordKindList, Kinds({kkUser, kkKeyTag, kkKeyTag, kkB, kkB, kkI, kkH2, kkH3, kkU}));
        const std::string index = Tree().IndexText();
        EXPECT_TRUE(Listed("Nova"));
        for (const char* key : {"Alpha", "Bold Text", "Live", "Studio", "Under"})
            EXPECT_EQ(index.find(key), std::string::npos) << key;
    }
    tree_.reset();
    Option("SetH2", "1");
    Option("SetB", "1");
    Option("SetKeyword", "1");
    TChmTreeItem& entry = Entry();
    ExtractKeywords(entry, page);
    EXPECT_TRUE(Listed("Live"));
    EXPECT_TRUE(Listed("Bold Text"));
    EXPECT_TRUE(Listed("Strong One"));
    EXPECT_TRUE(Listed("Alpha"));
    EXPECT_FALSE(Listed("Studio"));
    EXPECT_FALSE(Listed("Emphasis"));
    EXPECT_FALSE(Listed("Under"));
}

TEST_F(Keywords, AddFileWithReadingExtracts) {
    TempDir dir;
    Option("SetB", "1");
    const std::string page = dir.Write("p.htm", "<title>T</title><b>Harbor</b>");
    TChmTree& tree = Tree();
    TChmTreeItem* entry = tree.Root->AddFileEntry(page, true);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Caption, "T");
    EXPECT_EQ(entry->KeywordList, ",Harbor,");
    EXPECT_TRUE(Listed("Harbor"));
}
