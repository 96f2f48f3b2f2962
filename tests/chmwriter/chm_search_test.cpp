// The full-text index and the binary keyword index: words as the pages give
// them, the index read back with a small reader of our own, and the
// compiled file searched through python3-chm.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "chm_writer_test_util.h"
#include "chmwriter/chm_keywords.h"
#include "chmwriter/chm_search.h"

namespace {

using namespace chmtest;

std::vector<std::string> Words(std::string_view text) {
    TWordList words;
    SplitWords(text, words);
    return words.Words;
}

// "word@place" for each word of the list.
std::vector<std::string> Placed(const TWordList& list) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.Words.size(); ++i)
        out.push_back(list.Words[i] + "@" + std::to_string(list.Places[i]));
    return out;
}

// Scale-2 codes read most significant bit first.
class TBitReader {
public:
    TBitReader(const TBytes& bytes, std::size_t at) : bytes_(bytes), at_(at) {}
    bool Bit() {
        const bool one = (bytes_.at(at_) >> (7 - bit_)) & 1;
        if (++bit_ == 8) {
            bit_ = 0;
            ++at_;
        }
        return one;
    }
    std::uint64_t Bits(unsigned n) {
        std::uint64_t v = 0;
        while (n-- > 0) v = (v << 1) | (Bit() ? 1 : 0);
        return v;
    }
    std::uint64_t ScaleRoot(unsigned root) {
        unsigned p = 0;
        while (Bit()) ++p;
        if (p == 0) return Bits(root);
        const unsigned width = root + p - 1;
        return (std::uint64_t{1} << width) | Bits(width);
    }
    void Align() {
        if (bit_ != 0) {
            bit_ = 0;
            ++at_;
        }
    }
    std::size_t Offset() const { return at_; }

private:
    const TBytes& bytes_;
    std::size_t at_;
    unsigned bit_ = 0;
};

// Leaf numbers: seven bits a byte, least significant group first.
std::uint64_t LeafIntAt(const TBytes& b, std::size_t& at) {
    std::uint64_t v = 0;
    for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t byte = b.at(at++);
        v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return v;
    }
}

struct TDecodedEntry {
    std::string Word;
    bool Title = false;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> Postings;
};

// $FIftiMain read the way a viewer does: down from the root, then along the leaves.
class TFtsReader {
public:
    explicit TFtsReader(TBytes bytes) : b_(std::move(bytes)) {
        root_ = ReadU32(b_, 0x14);
        depth_ = ReadU16(b_, 0x18);
        docRoot_ = b_.at(0x1F);
        countRoot_ = b_.at(0x21);
        locationRoot_ = b_.at(0x23);
        EXPECT_EQ(b_.at(0x1E), 2);
        EXPECT_EQ(ReadU32(b_, 0x2E), 0x1000u);
    }
    std::uint16_t Depth() const { return depth_; }

    // The leaf a search for word starts at, through the index nodes; 0 when
    // the word is beyond the last.
    std::uint32_t LeafFor(const std::string& word) const {
        std::uint32_t node = root_;
        for (int level = 1; level < depth_; ++level) {
            const std::size_t end = node + 0x1000 - ReadU16(b_, node);
            std::size_t at = node + 2;
            std::string previous;
            std::uint32_t next = 0;
            while (at < end) {
                const std::uint8_t length = b_.at(at), shared = b_.at(at + 1);
                std::string w =
                    previous.substr(0, shared) + std::string(b_.begin() + static_cast<long>(at + 2),
                                                             b_.begin() + static_cast<long>(at + 1 + length));
                if (word <= w) {
                    next = ReadU32(b_, at + 1 + length);
                    break;
                }
                previous = w;
                at += 1 + length + 4 + 2;
            }
            if (next == 0) return 0;
            node = next;
        }
        return node;
    }
    std::vector<TDecodedEntry> Leaf(std::uint32_t node, std::uint32_t& nextLeaf) const {
        std::vector<TDecodedEntry> entries;
        nextLeaf = ReadU32(b_, node);
        const std::size_t end = node + 0x1000 - ReadU16(b_, node + 6);
        std::size_t at = node + 8;
        std::string previous;
        while (at < end) {
            const std::uint8_t length = b_.at(at), shared = b_.at(at + 1);
            TDecodedEntry e;
            e.Word = previous.substr(0, shared) + std::string(b_.begin() + static_cast<long>(at + 2),
                                                              b_.begin() + static_cast<long>(at + 1 + length));
            previous = e.Word;
            at += 1 + length;
            e.Title = b_.at(at++) == 1;
            const std::uint64_t count = LeafIntAt(b_, at);
            const std::uint32_t wlc = ReadU32(b_, at);
            at += 6;
            const std::uint64_t size = LeafIntAt(b_, at);
            TBitReader bits(b_, wlc);
            std::uint32_t doc = 0;
            for (std::uint64_t k = 0; k < count; ++k) {
                doc += static_cast<std::uint32_t>(bits.ScaleRoot(docRoot_));
                const std::uint64_t n = bits.ScaleRoot(countRoot_);
                std::vector<std::uint32_t> locations;
                std::uint32_t location = 0;
                for (std::uint64_t j = 0; j < n; ++j) {
                    location += static_cast<std::uint32_t>(bits.ScaleRoot(locationRoot_));
                    locations.push_back(location);
                }
                bits.Align();
                e.Postings.emplace_back(doc, locations);
            }
            EXPECT_EQ(bits.Offset() - wlc, size) << e.Word;
            entries.push_back(std::move(e));
        }
        return entries;
    }
    std::vector<TDecodedEntry> All() const {
        std::vector<TDecodedEntry> all;
        std::uint32_t leaf = LeafFor("");
        while (leaf != 0) {
            auto part = Leaf(leaf, leaf);
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

private:
    TBytes b_;
    std::uint32_t root_;
    std::uint16_t depth_;
    unsigned docRoot_, countRoot_, locationRoot_;
};

TEST(ChmSearchWords, SplitsOnLettersAndDigitsAndFoldsCase) {
    // Lower case; as typed when only ASCII folding would match it; unaccented.
    EXPECT_EQ(Words("Zo\xC3\xAB MARCHETTI's 2nd-Album, \xC3\x89T\xC3\x89!"),
              (std::vector<std::string>{"zo\xC3\xAB", "zoe", "marchetti", "s", "2nd", "album", "\xC3\xA9t\xC3\xA9",
                                        "\xC3\x89t\xC3\x89", "ete"}));
    // Greek and Cyrillic capitals fold too and have no unaccented spelling;
    // punctuation outside ASCII separates.
    EXPECT_EQ(Words("\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1\xE2\x80\x94\xD0\x91\xD0\xB0\xC2\xAB\xC5\x81\xC3\xB3"
                    "d\xC5\xBA\xC2\xBB"),
              (std::vector<std::string>{"\xCF\x89\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1", "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1",
                                        "\xD0\xB1\xD0\xB0", "\xD0\x91\xD0\xB0",
                                        "\xC5\x82\xC3\xB3"
                                        "d\xC5\xBA",
                                        "\xC5\x81\xC3\xB3"
                                        "d\xC5\xBA",
                                        "lodz"}));
    // Letters that do not decompose still have a plain spelling.
    EXPECT_EQ(Words("s\xC3\xB8ren \xC5\x82ukasz strau\xC3\x9F \xC3\xA6gir \xC4\x91or\xC4\x91" "e \xC3\xBEor \xC3\xB0"),
              (std::vector<std::string>{"s\xC3\xB8ren", "soren", "\xC5\x82ukasz", "lukasz", "strau\xC3\x9F", "strauss",
                                        "\xC3\xA6gir", "aegir", "\xC4\x91or\xC4\x91" "e", "dorde", "\xC3\xBEor", "thor",
                                        "\xC3\xB0", "d"}));
    // Malformed UTF-8 separates instead of breaking the word list.
    EXPECT_EQ(Words("ab\xFF"
                    "cd\xC3"),
              (std::vector<std::string>{"ab", "cd"}));
}

TEST(ChmSearchWords, CjkRunsAreWordsWholeByLetterAndByPair) {
    // 鈴木一郎 and 遥x あ: the run, each pair and each letter, each letter
    // taking a place of its own; Latin next to it is a word of its own.
    TWordList list;
    SplitWords("\xE9\x88\xB4\xE6\x9C\xA8\xE4\xB8\x80\xE9\x83\x8E \xE9\x81\xA5x\xE3\x81\x82", list);
    EXPECT_EQ(Placed(list), (std::vector<std::string>{
                                "\xE9\x88\xB4\xE6\x9C\xA8\xE4\xB8\x80\xE9\x83\x8E@0", "\xE9\x88\xB4\xE6\x9C\xA8@0",
                                "\xE9\x88\xB4@0", "\xE6\x9C\xA8\xE4\xB8\x80@1", "\xE6\x9C\xA8@1",
                                "\xE4\xB8\x80\xE9\x83\x8E@2", "\xE4\xB8\x80@2", "\xE9\x83\x8E@3", "\xE9\x81\xA5@4",
                                "x@5", "\xE3\x81\x82@6"}));
    EXPECT_EQ(list.Next, 7u);
}

TEST(ChmSearchWords, PagesGiveTextAndTitleWithoutMarkup) {
    const TPageWords w = ExtractPageWords(
        "<html><head><title>Artist: Zo&euml; Marchetti</title><style>p { color: red }</style>"
        "<script type=\"text/javascript\">var hidden = 1;</script></head><body><!-- note -->"
        "<h1 class=\"x\">Zo&#235; &amp; K&#333;ji</h1><p>Rock&nbsp;Roll &#22338;</p></body></html>");
    EXPECT_EQ(w.Title.Words, (std::vector<std::string>{"artist", "zo\xC3\xAB", "zoe", "marchetti"}));
    EXPECT_EQ(Placed(w.Body), (std::vector<std::string>{"zo\xC3\xAB@0", "zoe@0", "k\xC5\x8Dji@1", "koji@1", "rock@2",
                                                        "roll@3", "\xE5\x9D\x82@4"}));

    // The code page holds what it can; the rest stays UTF-8 instead of "?".
    const TSearchDocument d = EncodeSearchWords(w, 1252);
    EXPECT_EQ(d.Body.Words,
              (std::vector<std::string>{"zo\xEB", "zoe", "k\xC5\x8Dji", "koji", "rock", "roll", "\xE5\x9D\x82"}));
    EXPECT_EQ(EncodeSearchWords(w, 65001).Body.Words, w.Body.Words);
    // An as-typed spelling the code page cannot hold is left out: no viewer sends it.
    TPageWords typed;
    SplitWords("\xC3\x89milie \xC5\x81ukasz", typed.Body);
    EXPECT_EQ(EncodeSearchWords(typed, 1252).Body.Words,
              (std::vector<std::string>{"\xE9milie", "\xC9milie", "emilie", "\xC5\x82ukasz", "lukasz"}));
    EXPECT_EQ(EncodeSearchWords(typed, 1250).Body.Words,
              (std::vector<std::string>{"\xE9milie", "\xC9milie", "emilie", "\xB3ukasz", "\xA3ukasz", "lukasz"}));
}

TEST(ChmSearchIndex, ScaleRootCodesRoundTrip) {
    TBytes bytes;
    TBitWriter w(bytes);
    const std::vector<std::uint64_t> values = {0, 1, 2, 3, 4, 7, 8, 100, 4095, 65536, 1234567};
    for (unsigned root : {1u, 2u, 5u})
        for (auto v : values) w.ScaleRoot(v, root);
    w.Align();
    TBitReader r(bytes, 0);
    for (unsigned root : {1u, 2u, 5u})
        for (auto v : values) EXPECT_EQ(r.ScaleRoot(root), v) << "root " << root;
}

TEST(ChmSearchIndex, EveryWordAndLocationReadsBack) {
    // Enough distinct words for several leaves and an index level.
    std::vector<TSearchDocument> docs(40);
    std::map<std::pair<std::string, bool>, std::map<std::uint32_t, std::vector<std::uint32_t>>> expected;
    for (std::uint32_t d = 0; d < docs.size(); ++d) {
        for (std::uint32_t k = 0; k < 300; ++k) {
            const std::string word = "word" + std::to_string((d * 37 + k * 11) % 2500);
            docs[d].Body.Add(word, k);
            expected[{word, false}][d].push_back(k);
        }
        docs[d].Title.Add("title", 0);
        docs[d].Title.Add("only" + std::to_string(d), 1);
        for (std::uint32_t k = 0; k < 2; ++k) {
            expected[{docs[d].Title.Words[k], true}][d].push_back(k);
            auto& body = expected[{docs[d].Title.Words[k], false}][d];
            if (body.empty()) body.push_back(k);
        }
    }
    const TFtsReader reader(BuildFullTextIndex(docs, 1252, 0x409));
    EXPECT_GE(reader.Depth(), 2);
    const auto all = reader.All();
    ASSERT_EQ(all.size(), expected.size());
    std::string previous;
    for (const auto& e : all) {
        EXPECT_LE(previous, e.Word);
        previous = e.Word;
        const auto& want = expected.at({e.Word, e.Title});
        ASSERT_EQ(e.Postings.size(), want.size()) << e.Word;
        std::size_t i = 0;
        for (const auto& [doc, locations] : want) {
            EXPECT_EQ(e.Postings[i].first, doc) << e.Word;
            EXPECT_EQ(e.Postings[i].second, locations) << e.Word;
            ++i;
        }
    }
    // The descent from the root lands on the leaf that holds the word.
    for (const std::string word : {"only0", "title", "word0", "word2499", "word1234"}) {
        std::uint32_t next = 0;
        const auto leaf = reader.Leaf(reader.LeafFor(word), next);
        bool found = false;
        for (const auto& e : leaf) found = found || e.Word == word;
        EXPECT_TRUE(found) << word;
    }
    EXPECT_EQ(reader.LeafFor("zzz"), 0u);
}

TEST(ChmSearchIndex, EmptyCollectionStillHasARoot) {
    const TFtsReader reader(BuildFullTextIndex(std::vector<TSearchDocument>{}, 1252, 0x409));
    EXPECT_EQ(reader.Depth(), 1);
    EXPECT_TRUE(reader.All().empty());
}

// The index sitemap as the program writes it: a keyword with one page, and
// one with several pages below it.
const char* const kSitemap =
    "<HTML><BODY>\r\n<UL>\r\n"
    "<LI> <OBJECT type=\"text/sitemap\">\r\n<param name=\"Name\" value=\"Aurora Quartet\">\r\n"
    "<param name=\"Local\" value=\"art-1.htm\">\r\n</OBJECT>\r\n"
    "<LI> <OBJECT type=\"text/sitemap\">\r\n<param name=\"Name\" value=\"Zo&#235; Marchetti\">\r\n"
    "<param name=\"Local\" value=\"art-2.htm#top\">\r\n</OBJECT>\r\n<UL>\r\n"
    "<LI> <OBJECT type=\"text/sitemap\">\r\n<param name=\"Name\" value=\"Albums\">\r\n"
    "<param name=\"Local\" value=\"alb-2.htm\">\r\n</OBJECT>\r\n"
    "<LI> <OBJECT type=\"text/sitemap\">\r\n<param name=\"Name\" value=\"Years\">\r\n"
    "<param name=\"Local\" value=\"./year-2.htm\">\r\n</OBJECT>\r\n</UL>\r\n"
    "</UL>\r\n</BODY></HTML>\r\n";

struct TKeywordEntry {
    std::u16string Name;
    std::uint16_t Level;
    std::uint32_t CommaIndex;
    std::vector<std::uint32_t> Topics;
    std::uint32_t DataOffset;
};

std::vector<TKeywordEntry> ReadKeywordBlocks(const TBytes& btree) {
    std::vector<TKeywordEntry> entries;
    EXPECT_EQ(ReadU16(btree, 0), 0x293B);
    const std::uint32_t blocks = ReadU32(btree, 0x26);
    std::uint32_t block = 0;
    for (std::uint32_t seen = 0; block != 0xFFFFFFFFu && seen < blocks; ++seen) {
        const std::size_t base = 0x4C + std::size_t{block} * 0x800;
        const std::size_t end = base + 0x800 - ReadU16(btree, base);
        const std::uint16_t count = ReadU16(btree, base + 2);
        std::size_t at = base + 12;
        for (std::uint16_t k = 0; k < count; ++k) {
            TKeywordEntry e;
            while (ReadU16(btree, at) != 0) {
                e.Name += static_cast<char16_t>(ReadU16(btree, at));
                at += 2;
            }
            at += 2;
            EXPECT_EQ(ReadU16(btree, at), 0);
            e.Level = ReadU16(btree, at + 2);
            e.CommaIndex = ReadU32(btree, at + 4);
            const std::uint32_t n = ReadU32(btree, at + 12);
            at += 16;
            for (std::uint32_t j = 0; j < n; ++j, at += 4) e.Topics.push_back(ReadU32(btree, at));
            EXPECT_EQ(ReadU32(btree, at), 1u);
            e.DataOffset = ReadU32(btree, at + 4);
            at += 8;
            entries.push_back(e);
        }
        EXPECT_EQ(at, end);
        block = ReadU32(btree, base + 8);
    }
    EXPECT_EQ(block, 0xFFFFFFFFu);
    return entries;
}

// A large index is parsed a piece at a time: any cut, inside a tag too,
// gives what the whole text gives.
TEST(ChmKeywordLinks, SitemapInPiecesGivesTheSameKeywords) {
    const std::string sitemap = kSitemap;
    const auto whole = ParseSitemapKeywords(sitemap);
    ASSERT_FALSE(whole.empty());
    const auto same = [&](const std::vector<TSitemapKeyword>& got) {
        if (got.size() != whole.size()) return false;
        for (std::size_t i = 0; i < got.size(); ++i)
            if (got[i].Name != whole[i].Name || got[i].Level != whole[i].Level || got[i].Locals != whole[i].Locals)
                return false;
        return true;
    };
    for (std::size_t cut = 0; cut <= sitemap.size(); ++cut) {
        TSitemapKeywordParser parser;
        parser.Feed(std::string_view(sitemap).substr(0, cut));
        parser.Feed(std::string_view(sitemap).substr(cut));
        EXPECT_TRUE(same(parser.Finish())) << "cut at " << cut;
    }
    TSitemapKeywordParser bytes;
    for (char c : sitemap) bytes.Feed(std::string_view(&c, 1));
    EXPECT_TRUE(same(bytes.Finish()));
}

TEST(ChmKeywordLinks, SitemapKeywordsWithTheirPages) {
    const auto keywords = ParseSitemapKeywords(kSitemap);
    ASSERT_EQ(keywords.size(), 4u);
    EXPECT_EQ(keywords[1].Name, "Zo\xC3\xAB Marchetti");
    EXPECT_EQ(keywords[1].Locals, std::vector<std::string>{"art-2.htm"});
    EXPECT_EQ(keywords[3].Level, 1);
    EXPECT_EQ(keywords[3].Locals, std::vector<std::string>{"year-2.htm"});

    const std::map<std::string, std::uint32_t> topics = {
        {"art-1.htm", 4}, {"art-2.htm", 5}, {"alb-2.htm", 7}, {"year-2.htm", 9}};
    const TKeywordFiles files = BuildKeywordLinks(
        keywords,
        [&](const std::string& a) -> std::optional<std::uint32_t> {
            auto it = topics.find(a);
            return it == topics.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
        },
        1252, 0x409);
    const auto entries = ReadKeywordBlocks(files.BTree);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].Name, u"Aurora Quartet");
    EXPECT_EQ(entries[0].Topics, std::vector<std::uint32_t>{4});
    EXPECT_EQ(entries[1].Name, u"Zo\u00EB Marchetti");
    EXPECT_EQ(entries[2].Name, u"Zo\u00EB Marchetti, Albums");
    EXPECT_EQ(entries[2].Level, 1);
    EXPECT_EQ(entries[2].CommaIndex, 15u);
    EXPECT_EQ(entries[3].Topics, std::vector<std::uint32_t>{9});
    EXPECT_EQ(entries[3].DataOffset, 3 * 13u);
    EXPECT_EQ(files.Data.size(), 4 * 13u);
    EXPECT_EQ(ReadU32(files.BTree, 0x2C), 4u);
}

TEST(ChmKeywordLinks, ManyKeywordsFillChainedBlocks) {
    std::vector<TSitemapKeyword> keywords;
    for (int i = 0; i < 900; ++i) keywords.push_back({"Keyword number " + std::to_string(i), 0, {"p.htm"}});
    const TKeywordFiles files = BuildKeywordLinks(
        keywords, [](const std::string&) { return std::optional<std::uint32_t>(3); }, 1252, 0x409);
    EXPECT_GT(ReadU32(files.BTree, 0x26), 1u);
    const auto entries = ReadKeywordBlocks(files.BTree);
    ASSERT_EQ(entries.size(), keywords.size());
    EXPECT_EQ(entries.back().Name, u"Keyword number 899");
    EXPECT_EQ(entries.back().Topics, std::vector<std::uint32_t>{3});
}

// A small catalogue: artist pages, album pages naming their artist, and a list.
TProject Catalogue(bool search) {
    TProject p;
    if (search) p.ExtraOptions = "Full-text search=Yes\r\n";
    p.Add("main.html", Page("Music Catalogue", "<p>Welcome</p>"));
    p.Add("art-1.htm", Page("Artist: K&#333;ji Tanaka", "<h1>K&#333;ji Tanaka</h1><p>Lossless Dream</p>"));
    p.Add("art-2.htm", Page("Artist: Zo&#235; Marchetti", "<h1>Zo&#235; Marchetti</h1><p>Pioggia d'autunno</p>"));
    p.Add("art-3.htm", Page("Artist: &#22338;&#26412; &#36965;", "<h1>&#22338;&#26412; &#36965;</h1>"));
    p.Add("alb-1.htm", Page("Album: Tempo", "<p>Pioggia d'autunno by Zo&#235; Marchetti</p>"));
    p.Add("alb-2.htm", Page("Album: Clear Water", "<p>Lossless Dream by K&#333;ji Tanaka</p><script>Nowhere</script>"));
    p.Add("artists.htm", Page("Artists", "<p>K&#333;ji Tanaka, Zo&#235; Marchetti, &#22338;&#26412; &#36965;</p>"));
    return p;
}

// Titles of the pages python3-chm finds for a word given as bytes in hex.
std::set<std::string> PythonSearch(const std::string& python, const std::string& chm, const std::string& hexWord,
                                   bool titlesOnly = false) {
    const std::string script =
        "import sys, chm.chm as c\n"
        "f = c.CHMFile()\n"
        "f.LoadCHM(sys.argv[1].encode())\n"
        "assert f.IsSearchable()\n"
        "ok, hits = f.Search(bytes.fromhex(sys.argv[2]), 1, int(sys.argv[3]))\n"
        "for t in sorted(hits): print(t.hex())\n";
    int status = 0;
    const std::string out = RunCommand(python + " -c " + ShellQuote(script) + " " + ShellQuote(chm) + " " + hexWord +
                                           " " + (titlesOnly ? "1" : "0") + " 2>&1",
                                       status);
    EXPECT_EQ(status, 0) << out;
    std::set<std::string> titles;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::string title;
        for (std::size_t i = 0; i + 1 < line.size(); i += 2)
            title += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
        titles.insert(title);
    }
    return titles;
}

std::string Hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h;
}

TEST(ChmSearchFile, PythonChmFindsNamesTitlesAndNothingElse) {
    const std::string python = PythonWithChm();
    if (python.empty()) GTEST_SKIP() << "python3-chm is not installed";
    TScratch dir;
    const auto r = Compile(Catalogue(true).Write(dir.Path()), dir / "out.chm");
    ASSERT_TRUE(r.Ok) << r.Error;
    const std::string chm = dir / "out.chm";

    using S = std::set<std::string>;
    // Titles come back in the file's code page; what 1252 lacks is spelled
    // without accents or romanized.
    EXPECT_EQ(PythonSearch(python, chm, Hex("Tanaka")), (S{"Artist: Koji Tanaka", "Album: Clear Water", "Artists"}));
    EXPECT_EQ(PythonSearch(python, chm, Hex("marchetti")), (S{"Artist: Zo\xEB Marchetti", "Album: Tempo", "Artists"}));
    EXPECT_EQ(PythonSearch(python, chm, Hex("zo\xEB")), (S{"Artist: Zo\xEB Marchetti", "Album: Tempo", "Artists"}));
    // A word the code page cannot hold is found by its UTF-8 bytes, each ideograph alone.
    EXPECT_EQ(PythonSearch(python, chm, Hex("k\xC5\x8Dji")),
              (S{"Artist: Koji Tanaka", "Album: Clear Water", "Artists"}));
    EXPECT_EQ(PythonSearch(python, chm, Hex("koji")), (S{"Artist: Koji Tanaka", "Album: Clear Water", "Artists"}));
    EXPECT_EQ(PythonSearch(python, chm, Hex("\xE9\x81\xA5")), (S{"Artist: ban ben yao", "Artists"}));
    EXPECT_EQ(PythonSearch(python, chm, Hex("\xE5\x9D\x82\xE6\x9C\xAC")), (S{"Artist: ban ben yao", "Artists"}));
    // As typed, capital and all: only ASCII letters fold on the way in.
    EXPECT_EQ(PythonSearch(python, chm, Hex("Zo\xEB")), (S{"Artist: Zo\xEB Marchetti", "Album: Tempo", "Artists"}));
    // Title words, and the titles-only question.
    EXPECT_EQ(PythonSearch(python, chm, Hex("tempo")), (S{"Album: Tempo"}));
    EXPECT_EQ(PythonSearch(python, chm, Hex("album")), (S{"Album: Tempo", "Album: Clear Water"}));
    EXPECT_EQ(PythonSearch(python, chm, Hex("marchetti"), true), (S{"Artist: Zo\xEB Marchetti"}));
    // Script text and words nowhere in the collection find nothing.
    EXPECT_TRUE(PythonSearch(python, chm, Hex("nowhere")).empty());
    EXPECT_TRUE(PythonSearch(python, chm, Hex("beethoven")).empty());
}

TEST(ChmSearchFile, PythonChmReadsWordsOnHundredsOfPages) {
    // Counts and sizes above 127 take more than one byte in a leaf entry.
    const std::string python = PythonWithChm();
    if (python.empty()) GTEST_SKIP() << "python3-chm is not installed";
    TScratch dir;
    TProject p;
    p.ExtraOptions = "Full-text search=Yes\r\n";
    std::string repeated;
    for (int k = 0; k < 40; ++k) repeated += " shared";
    for (int i = 0; i < 1000; ++i)
        p.Add("p" + std::to_string(i) + ".htm",
              Page("Page " + std::to_string(i),
                   "<p>" + repeated + " " + std::to_string(i) + (i % 3 ? "" : " third") + "</p>"));
    ASSERT_TRUE(Compile(p.Write(dir.Path()), dir / "many.chm").Ok);
    EXPECT_EQ(PythonSearch(python, dir / "many.chm", Hex("shared")).size(), 1000u);
    EXPECT_EQ(PythonSearch(python, dir / "many.chm", Hex("third")).size(), 334u);
    EXPECT_EQ(PythonSearch(python, dir / "many.chm", Hex("page"), true).size(), 1000u);
    EXPECT_EQ(PythonSearch(python, dir / "many.chm", Hex("999")), std::set<std::string>{"Page 999"});
}

TEST(ChmSearchFile, SearchOffLeavesNoIndexAndSaysSo) {
    TScratch dir;
    for (bool search : {false, true}) {
        const std::string out = dir / (search ? "on.chm" : "off.chm");
        TProject project = Catalogue(search);
        project.IndexSitemap = kSitemap;
        const auto r = Compile(project.Write(dir / (search ? "on" : "off")), out);
        ASSERT_TRUE(r.Ok) << r.Error;
        TChmLib chm(out);
        ASSERT_TRUE(chm.Open());
        EXPECT_EQ(chm.Read("/$FIftiMain").has_value(), search);
        EXPECT_TRUE(chm.Read("/$WWKeywordLinks/BTree").has_value());
        const std::string system = chm.Read("/#SYSTEM").value();
        bool seen = false;
        for (std::size_t at = 4; at + 4 <= system.size(); at += 4 + U16At(system, at + 2)) {
            if (U16At(system, at) != 4) continue;
            seen = true;
            EXPECT_EQ(U32At(system, at + 4 + 8), search ? 1u : 0u);
            EXPECT_EQ(U32At(system, at + 4 + 12), 1u);
        }
        EXPECT_TRUE(seen);
        if (search) {
            // Topic numbers of the index are the #TOPICS numbers.
            const std::string fts = chm.Read("/$FIftiMain").value();
            const TFtsReader reader(TBytes(fts.begin(), fts.end()));
            for (const auto& e : reader.All())
                if (e.Word == "lossless" && !e.Title) {
                    ASSERT_EQ(e.Postings.size(), 2u);
                    EXPECT_EQ(e.Postings[0].first, 1u);  // art-1.htm
                    EXPECT_EQ(e.Postings[1].first, 5u);  // alb-2.htm
                }
        }
    }
}

TEST(ChmSearchFile, SameBytesForEveryThreadCount) {
    TScratch dir;
    const std::string project = Catalogue(true).Write(dir.Path());
    TChmWriteOptions one;
    one.Threads = 1;
    TChmWriteOptions four;
    four.Threads = 4;
    fs::create_directories(dir / "one");
    fs::create_directories(dir / "four");
    ASSERT_TRUE(Compile(project, dir / "one/out.chm", one).Ok);
    ASSERT_TRUE(Compile(project, dir / "four/out.chm", four).Ok);
    EXPECT_TRUE(ReadFile(dir / "one/out.chm") == ReadFile(dir / "four/out.chm"));
}

}  // namespace
