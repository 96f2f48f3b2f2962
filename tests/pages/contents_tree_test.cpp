#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "pages/contents_tree.h"
#include "pages/html_escape.h"
#include "test_util.h"

namespace {

class TTestHost : public TChmProjectHost {
public:
    std::string Root;
    int Modified = 0;
    std::function<bool(const std::string&)> Progress;
    void MarkModified() override { ++Modified; }
    std::string ProjectRootFolder() const override { return Root; }
    bool HasCompileProgress() const override { return static_cast<bool>(Progress); }
    bool ReportCompileProgress(const std::string& status, int percent, const std::string& line) override {
        EXPECT_EQ(status, line);
        EXPECT_EQ(percent, 0);
        return Progress(status);
    }
};

// A project over a fresh folder, as the compiler holds it.
struct Project {
    TempDir dir;
    TTestHost host;
    TFiles files{&host};
    TChmTree tree{&host, &files};
    Project() { host.Root = dir.Path(); }
};

std::vector<std::string> LinkedNames(const TFileInfo& info, const std::string& root) {
    std::vector<std::string> names;
    for (const TFileInfo* l : info.Linked) names.push_back(RelativePath(l->FileName, root));
    return names;
}

}  // namespace

TEST(HtmlText, EntitiesAndMarkup) {
    EXPECT_EQ(HtmlToText("a &lt;b&gt; c"), "a  c");
    EXPECT_EQ(HtmlToText("x<y"), "x");
    EXPECT_EQ(HtmlToText("AC/DC &AMP; Co&nbsp;&quot;1&quot; &raquo;"), "AC/DC & Co \"1\" `");
    EXPECT_EQ(HtmlToText("<b>bold</b> &amp;lt;"), "bold &lt;");
}

TEST(HtmlText, EscapeKeepsValidUtf8) {
    EXPECT_EQ(HtmlEscape("Rock & Roll <\"x\">"), "Rock &amp; Roll &lt;&quot;x&quot;&gt;");
    EXPECT_EQ(HtmlEscape("Caf\xC3\xA9 \xE5\x9D\x82 \xF0\x9F\x8E\xB5"), "Caf\xC3\xA9 \xE5\x9D\x82 \xF0\x9F\x8E\xB5");
    // Bytes that are no UTF-8 character are taken as Latin-1.
    EXPECT_EQ(HtmlEscape("a\xE9z \xC3"), "a\xC3\xA9z \xC3\x83");
    EXPECT_EQ(HtmlEscape("\xC0\xAF"), "\xC3\x80\xC2\xAF");  // overlong form
    // Plain runs end at the text's ends and at every character that changes.
    EXPECT_EQ(HtmlEscape(""), "");
    EXPECT_EQ(HtmlEscape("Abba"), "Abba");
    EXPECT_EQ(HtmlEscape("&x\"\"y>"), "&amp;x&quot;&quot;y&gt;");
    EXPECT_EQ(HtmlEscape("<\xE9>"), "&lt;\xC3\xA9&gt;");
}

TEST(Files, BlanksAndLetterCaseMakeOneFile) {
    Project p;
    const std::string file = p.dir.Write("A B.htm", "x");
    TFileInfo* first = p.files.Add(p.dir.Path() + "/A%20B.htm", true);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->FileName, file);
    EXPECT_EQ(first->RefCount, 1);
    EXPECT_FALSE(first->Missing);
    TFileInfo* again = p.files.Add(p.dir.Path() + "/a b.HTM", true);
    EXPECT_EQ(again, first);
    EXPECT_EQ(first->RefCount, 2);
    EXPECT_EQ(p.files.Count(), 1);
    EXPECT_EQ(p.files.AddressOf(file), "A B.htm");
    EXPECT_EQ(p.files.AddressOf("/elsewhere/none.htm"), "/elsewhere/none.htm");
    EXPECT_EQ(p.files.FileList(), "A B.htm\r\n");
}

TEST(Files, MissingFilesAreRefusedOrMarked) {
    Project p;
    p.dir.Write("here.htm", "x");
    EXPECT_EQ(p.files.Add(p.dir / "gone.htm", true), nullptr);
    EXPECT_EQ(p.files.Count(), 0);
    TFileInfo* missing = p.files.Add(p.dir / "gone.htm", false);
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(missing->Missing);
    EXPECT_EQ(missing->RefCount, 0);
    EXPECT_TRUE(missing->Location.empty());
    p.files.Add(p.dir / "here.htm", true);
    EXPECT_EQ(p.files.FileList(), "here.htm\r\n");

    // The page generator turns the check off: nothing is tested or marked.
    p.files.CheckExistence = false;
    TFileInfo* unchecked = p.files.Add(p.dir / "later.htm", true);
    ASSERT_NE(unchecked, nullptr);
    EXPECT_FALSE(unchecked->Missing);
    EXPECT_EQ(p.files.FileList(), "here.htm\r\nlater.htm\r\n");

    // A linked file that is refused is not recorded as a link.
    p.files.CheckExistence = true;
    EXPECT_EQ(unchecked->AddLinked(p.dir / "nowhere.css"), nullptr);
    EXPECT_TRUE(unchecked->Linked.empty());
}

TEST(Files, LinkScan) {
    Project p;
    for (const char* name : {"style.css", "pics/a.gif", "single.png", "pic.jpg", "x.js", "movie.swf"})
        p.dir.Write(name, "x");
    const std::string page =
        p.dir.Write("page.htm",
                    "<html><head><LINK rel=\"stylesheet\"\r\nhref=\"style.css\"></head>\n"
                    "<img alt=\"a > b\" src=\"pics/a.gif\"> <img src='single.png'> <img src=pic.jpg >\n"
                    "<script\tsrc=\"x.js\"></script> <img src=\"http://example.com/remote.gif\">\n"
                    "<object data=\"gone.swf\"></object> <embed src=\"movie.swf\">");
    TFileInfo* info = p.files.AddWithLinks(page, true);
    ASSERT_NE(info, nullptr);
    // Quoted link values first (in text order), then the extension scan.
    EXPECT_EQ(LinkedNames(*info, p.dir.Path()),
              (std::vector<std::string>{"style.css", "pics/a.gif", "x.js", "pic.jpg", "single.png", "movie.swf"}));
    EXPECT_EQ(p.files.Count(), 7);
    // pics/a.gif was added by both scans.
    EXPECT_EQ(info->Linked[1]->RefCount, 2);
    EXPECT_GT(p.host.Modified, 0);
}

// Page text that merely names a picture elsewhere (a tag value, say) never
// brings that picture into the catalogue.
TEST(Files, LinksOutsideThePagesFolderAreNotTaken) {
    Project p;
    TempDir elsewhere;
    const std::string photo = elsewhere.Write("private.jpg", "x");
    p.dir.Write("inside.jpg", "x");
    const std::string relative = RelativePath(photo, p.dir.Path());
    const std::string page = p.dir.Write(
        "page.htm", "<img src=\"inside.jpg\"><td>'" + relative + "'</td><td>'" + photo + "'</td><td>=../../x.png'</td>");
    TFileInfo* info = p.files.AddWithLinks(page, true);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(LinkedNames(*info, p.dir.Path()), (std::vector<std::string>{"inside.jpg"}));
    EXPECT_EQ(p.files.Count(), 2);
}

TEST(ContentsFile, ExactTextWithEscaping) {
    Project p;
    p.files.CheckExistence = false;
    TChmTreeItem* index = p.tree.Root->AddFileEntry(p.dir / "artists.htm", false);
    ASSERT_NE(index, nullptr);
    index->Caption = "Rock & Roll \"Live\"";
    index->ImageIndex = 0;
    TChmTreeItem* group = index->AddFileEntry(p.dir / "art-1.htm", false);
    group->Caption = "Caf\xC3\xA9 \xE5\x9D\x82";
    group->Anchor = "top";
    EXPECT_TRUE(p.tree.Root->AddFile(p.dir / "sub/x y.htm", false));
    p.tree.Root->Item(1)->Caption = "<b>";

    EXPECT_EQ(p.tree.ContentsText(),
              "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\r\n"
              "<HTML><BODY>\r\n"
              "&Properties;<UL>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"Rock &amp; Roll &quot;Live&quot;\">\r\n"
              "<param name=\"Local\" value=\"artists.htm\">\r\n"
              "</OBJECT>\r\n"
              "<UL>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"Caf\xC3\xA9 \xE5\x9D\x82\">\r\n"
              "<param name=\"Local\" value=\"art-1.htm#top\">\r\n"
              "<param name=\"ImageNumber\" value=\"11\">\r\n"
              "</OBJECT>\r\n"
              "</UL>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"&lt;b&gt;\">\r\n"
              "<param name=\"Local\" value=\"sub/x y.htm\">\r\n"
              "<param name=\"ImageNumber\" value=\"11\">\r\n"
              "</OBJECT>\r\n"
              "</UL>\r\n"
              "</BODY></HTML>\r\n");
}

// A large tree's sitemaps come in pieces that end between items and make up
// the whole text.
TEST(ContentsFile, LargeSitemapsComeInPiecesBetweenItems) {
    Project p;
    p.files.CheckExistence = false;
    for (int g = 0; g < 40; ++g) {
        TChmTreeItem* group = p.tree.Root->AddFileEntry(p.dir / ("g" + std::to_string(g) + ".htm"), false);
        group->Caption = "Group " + std::to_string(g);
        for (int i = 0; i < 300; ++i) {
            TChmTreeItem* entry =
                group->AddFileEntry(p.dir / ("p" + std::to_string(g) + "-" + std::to_string(i) + ".htm"), false);
            entry->Caption = "Caf\xC3\xA9 " + std::string(60, 'x') + std::to_string(i);
            AddUserKeyword(*entry, "Key " + std::to_string(g * 1000 + i) + std::string(40, 'k'));
        }
    }
    const auto check = [](const std::string& whole, const std::vector<std::string>& pieces, const char* itemEnd) {
        ASSERT_GE(pieces.size(), 2u);
        std::string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            joined += pieces[i];
            if (i + 1 < pieces.size()) {
                EXPECT_GE(pieces[i].size(), std::size_t{1} << 20);
                EXPECT_TRUE(pieces[i].ends_with(itemEnd)) << pieces[i].substr(pieces[i].size() - 40);
            }
        }
        EXPECT_EQ(joined, whole);
    };
    std::vector<std::string> pieces;
    p.tree.WriteContents([&](std::string_view piece) { pieces.emplace_back(piece); });
    check(p.tree.ContentsText(), pieces, "</OBJECT>\r\n");
    pieces.clear();
    p.tree.WriteIndex([&](std::string_view piece) { pieces.emplace_back(piece); });
    check(p.tree.IndexText(), pieces, "</OBJECT>\r\n");
    EXPECT_EQ(p.tree.IndexText().find("&Properties;"), p.tree.IndexText().rfind("&Properties;"));
}

TEST(IndexFile, ExactTextListsEnabledKindsOnly) {
    Project p;
    p.files.CheckExistence = false;
    TChmTreeItem* a = p.tree.Root->AddFileEntry(p.dir / "art-a.htm", false);
    TChmTreeItem* b = p.tree.Root->AddFileEntry(p.dir / "art-b.htm", false);
    TChmTreeItem* c = p.tree.Root->AddFileEntry(p.dir / "art-c.htm", false);
    a->Caption = "Rock & Roll";
    b->Caption = "Caf\xC3\xA9";
    b->Anchor = "x";
    c->Caption = " ";
    AddUserKeyword(*a, "Nova");
    AddUserKeyword(*b, "nova");
    AddUserKeyword(*c, "NOVA");
    AddUserKeyword(*a, " Spaced ");
    AddUserKeyword(*a, "Harbor \"Live\"");
    AddKeywords(*b, "<b>Bold Only</b>", kkB, false);  // kkB is not enabled

    // One page: the keyword and its page. Several: the keyword opens the
    // first page, and each page follows one level down under its caption (a
    // blank caption gives way to the page's address).
    EXPECT_EQ(p.tree.IndexText(),
              "<HTML><HEAD></HEAD><BODY><UL>\r\n"
              "&Properties;"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"HARBOR &quot;LIVE&quot;\">\r\n"
              "<param name=\"Local\" value=\"art-a.htm\">\r\n"
              "</OBJECT>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"NOVA\">\r\n"
              "<param name=\"Local\" value=\"art-a.htm\">\r\n"
              "</OBJECT>\r\n"
              "<UL>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"Rock &amp; Roll\">\r\n"
              "<param name=\"Local\" value=\"art-a.htm\">\r\n"
              "</OBJECT>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"Caf\xC3\xA9\">\r\n"
              "<param name=\"Local\" value=\"art-b.htm#x\">\r\n"
              "</OBJECT>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"art-c.htm\">\r\n"
              "<param name=\"Local\" value=\"art-c.htm\">\r\n"
              "</OBJECT>\r\n"
              "</UL>\r\n"
              "<LI> <OBJECT type=\"text/sitemap\">\r\n"
              "<param name=\"Name\" value=\"SPACED\">\r\n"
              "<param name=\"Local\" value=\"art-a.htm\">\r\n"
              "</OBJECT>\r\n"
              "</UL></BODY></HTML>\r\n");

    // Once kkB is enabled for the entry, its bold keyword is listed too.
    b->EnabledKinds |= KindBit(kkB);
    EXPECT_NE(p.tree.IndexText().find("<param name=\"Name\" value=\"BOLD ONLY\">\r\n"
                                      "<param name=\"Local\" value=\"art-b.htm#x\">\r\n"),
              std::string::npos);
}

TEST(ChmTree, DestroyingEntriesWithdrawsKeywordsAndUses) {
    Project p;
    for (const char* name : {"index.htm", "group.htm", "style.css"}) p.dir.Write(name, "<link href=\"style.css\">");
    TChmTreeItem* index = p.tree.Root->AddFileEntry(p.dir / "index.htm", false);
    TChmTreeItem* group = index->AddFileEntry(p.dir / "group.htm", true);
    ASSERT_NE(group, nullptr);
    AddUserKeyword(*group, "Nova");
    TFileInfo* groupFile = group->FileInfo;
    ASSERT_EQ(groupFile->Linked.size(), 1u);
    TFileInfo* style = groupFile->Linked[0];
    EXPECT_EQ(style->RefCount, 1);
    EXPECT_EQ(p.files.FileList(), "index.htm\r\ngroup.htm\r\nstyle.css\r\n");
    EXPECT_EQ(p.tree.Keywords->Lookup("Nova"), group->KeywordId());

    p.tree.Root->Delete(0);  // the index entry and the group below it
    EXPECT_EQ(p.tree.Root->Count(), 0);
    EXPECT_EQ(p.tree.Keywords->Lookup("Nova"), -1);
    EXPECT_EQ(groupFile->RefCount, 0);
    EXPECT_EQ(style->RefCount, 0);
    EXPECT_EQ(p.files.FileList(), "");
    EXPECT_EQ(p.tree.IndexText(), "<HTML><HEAD></HEAD><BODY><UL>\r\n&Properties;</UL></BODY></HTML>\r\n");

    p.tree.Root->AddFile(p.dir / "index.htm", false);
    p.tree.Clear();
    EXPECT_EQ(p.tree.Root->Count(), 0);
    EXPECT_TRUE(p.tree.Keywords->IgnoreCase);
}

TEST(ChmTree, AddFileReadsTitleAndRefreshRereadsIt) {
    Project p;
    const std::string page = p.dir.Write("page.htm", "<html><TITLE>AC/DC &amp;\r\n\tCo</TITLE></html>");
    const std::string bare = p.dir.Write("bare.htm", "<html>no title</html>");
    TChmTreeItem* entry = p.tree.Root->AddFileEntry(page, true);
    TChmTreeItem* other = p.tree.Root->AddFileEntry(bare, true);
    EXPECT_EQ(entry->Caption, "AC/DC &   Co");  // line breaks and tabs become blanks
    EXPECT_EQ(other->Caption, bare);

    // The generator adds entries without reading and sets its own captions.
    TChmTreeItem* unread = p.tree.Root->AddFileEntry(page, false);
    EXPECT_EQ(unread->Caption, "");
    EXPECT_EQ(unread->FileInfo, entry->FileInfo);
    EXPECT_EQ(entry->FileInfo->RefCount, 2);

    p.dir.Write("page.htm", "<title>Changed</title>");
    p.tree.Root->Refresh(true);
    EXPECT_EQ(entry->Caption, "Changed");
    EXPECT_EQ(unread->Caption, "Changed");
    EXPECT_EQ(entry->FileInfo->RefCount, 2);  // a refresh does not change the use count

    // A progress handler answering false stops the entry and those below it.
    std::vector<std::string> seen;
    p.host.Progress = [&](const std::string& caption) {
        seen.push_back(caption);
        return caption != "Changed";
    };
    p.dir.Write("bare.htm", "<title>New</title>");
    p.tree.Root->Refresh(true);
    EXPECT_EQ(seen, (std::vector<std::string>{"Changed", bare, "Changed"}));
    EXPECT_EQ(other->Caption, "New");
}

TEST(ChmTree, RefreshKeepsExplicitlyLinkedFiles) {
    Project p;
    const std::string index = p.dir.Write("artists.htm", "<link href=\"style.css\"><title>Artists</title>");
    p.dir.Write("style.css", "");
    p.dir.Write("main.html", "");
    TChmTreeItem* entry = p.tree.Root->AddFileEntry(index, true);
    entry->FileInfo->AddLinked(p.dir / "main.html");
    EXPECT_EQ(p.files.FileList(), "artists.htm\r\nstyle.css\r\nmain.html\r\n");
    p.tree.Root->Refresh(true);
    p.tree.Root->Refresh(true);
    EXPECT_EQ(p.files.FileList(), "artists.htm\r\nstyle.css\r\nmain.html\r\n");
    EXPECT_EQ(entry->FileInfo->Linked.size(), 2u);
}

TEST(Files, PrepareRootIsThePrivateWorkingFolder) {
    TempDir runtime;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    TFiles files;
    const std::string root = files.PrepareRoot();
    EXPECT_EQ(root, runtime / "orvalis");
    EXPECT_TRUE(DirectoryExists(root));
    if (old)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(IndexFile, CollatedLikeTheContentsAndKeywordsKeepTheirAnchors) {
    Project p;
    p.files.CheckExistence = false;
    TChmTreeItem* a = p.tree.Root->AddFileEntry(p.dir / "art-a.htm", false);
    TChmTreeItem* b = p.tree.Root->AddFileEntry(p.dir / "art-b.htm", false);
    for (const char* name : {"Zo\xC3\xAB", "Frank", "\xC3\x89milie Duval", "eddie", "\xC5\x81ukasz", "Lara"})
        AddUserKeyword(*a, name);
    AddUserKeyword(*a, "Tempo");
    AddUserKeyword(*b, "Tempo");
    a->SetKeywordAnchor("TEMPO", "alb-1");

    const std::string index = p.tree.IndexText();
    std::vector<std::size_t> at;
    for (const char* name : {"EDDIE", "MILIE DUVAL", "FRANK", "LARA", "UKASZ", "TEMPO", "ZO"})
        at.push_back(index.find(name));
    EXPECT_TRUE(std::find(at.begin(), at.end(), std::string::npos) == at.end()) << index;
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end())) << index;
    // The keyword opens the album's place on the page; the other page of the
    // same keyword has no such place.
    EXPECT_NE(index.find("value=\"TEMPO\">\r\n<param name=\"Local\" value=\"art-a.htm#alb-1\">"), std::string::npos)
        << index;
    EXPECT_NE(index.find("<param name=\"Local\" value=\"art-b.htm\">"), std::string::npos) << index;
}
