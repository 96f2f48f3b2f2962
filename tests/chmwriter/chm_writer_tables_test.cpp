// Titles, the project file, and the settings tables (#SYSTEM, #WINDOWS) as
// read back from a written file.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "chm_writer_test_util.h"
#include "chmwriter/chm_project.h"
#include "chmwriter/chm_text.h"

using namespace chmtest;

namespace {

TEST(ChmText, TitleIsDecodedAndItsBlanksFolded) {
    EXPECT_EQ(ExtractHtmlTitle("<html><HEAD><TITLE>\r\n  Artist:\t&#201;milie  &amp; &quot;Co&quot;\r\n</TITLE>"),
              "Artist: \xC3\x89milie & \"Co\"");
    EXPECT_EQ(ExtractHtmlTitle("<titlebar>no</titlebar><title lang=\"ja\">&#22338;&#x672C;</title>"),
              "\xE5\x9D\x82\xE6\x9C\xAC");
    EXPECT_EQ(ExtractHtmlTitle("<html><body>none</body></html>"), "");
    // Unknown or broken references stay as written.
    EXPECT_EQ(DecodeHtmlText("&bogus; &#; &#xZZ; &#0; AT&T"), "&bogus; &#; &#xZZ; &#0; AT&T");
    EXPECT_EQ(DecodeHtmlText("&nbsp;&yuml;&euro;"), "\xC2\xA0\xC3\xBF\xE2\x82\xAC");
}

TEST(ChmText, CodePagesFollowTheLanguage) {
    EXPECT_EQ(CodePageOfLanguage(0x409), 1252u);
    EXPECT_EQ(CodePageOfLanguage(0x419), 1251u);
    EXPECT_EQ(CodePageOfLanguage(0x411), 932u);
    EXPECT_EQ(CodePageOfLanguage(0x804), 936u);
    EXPECT_EQ(CodePageOfLanguage(0x404), 950u);
    EXPECT_EQ(CodePageOfLanguage(0x415), 1250u);
    EXPECT_EQ(CodePageOfLanguage(0xC1A), 1251u);
    const std::string mixed = "\xC3\x89milie \xD0\x94\xD0\xBE\xD0\xBC \xE5\x9D\x82";  // Émilie Дом 坂
    EXPECT_EQ(EncodeForCodePage(mixed, 1252), "\xC9milie ??? ?");
    EXPECT_EQ(EncodeForCodePage(mixed, 1251), "?milie \xC4\xEE\xEC ?");
    EXPECT_EQ(EncodeForCodePage(mixed, 932), "?milie \x84\x44\x84\x80\x84\x7D \x8D\xE2");
    EXPECT_EQ(EncodeForCodePage(mixed, 65001), mixed);
    EXPECT_THROW(EncodeForCodePage("x", 12345), std::runtime_error);
}

TEST(ChmText, PagesTakeTheCodePageAndSayIt) {
    const std::string page =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><title>Zo\xC3\xAB "
        "Petrovi\xC4\x87</title></head><body>charset=utf-8 &amp; \xE5\x9D\x82</body></html>";
    const std::string western = EncodeHtmlForCodePage(page, 1252);
    EXPECT_EQ(western,
              "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"><title>Zo\xEB "
              "Petrovi&#263;</title></head><body>charset=utf-8 &amp; &#22338;</body></html>");
    EXPECT_NE(DecodeFromCodePage(western, 1252).find("<title>Zo\xC3\xAB Petrovi&#263;</title>"), std::string::npos);
    const std::string japanese = EncodeHtmlForCodePage(page, 932);
    EXPECT_NE(japanese.find("charset=shift_jis"), std::string::npos);
    EXPECT_NE(japanese.find("Zo&#235; Petrovi&#263;"), std::string::npos);
    EXPECT_NE(japanese.find("\x8D\xE2"), std::string::npos);
    EXPECT_NE(DecodeFromCodePage(japanese, 932).find("&amp; \xE5\x9D\x82</body>"), std::string::npos);
    EXPECT_EQ(EncodeHtmlForCodePage(page, 65001), page);
    // Bytes the code page leaves undefined do not stop the decoding.
    EXPECT_EQ(DecodeFromCodePage("a\x81z", 1252), "a\xEF\xBF\xBDz");
}

TEST(ChmText, TitlesSpellWhatTheCodePageLacksNeverAsQuestionMarks) {
    TTitleEncoder western(1252);
    EXPECT_EQ(western("Artist: Zo\xC3\xAB Petrovi\xC4\x87"), "Artist: Zo\xEB Petrovic");
    EXPECT_EQ(western("\xC5\x81ukasz \xC5\xBB"
                      "ak, \xC4\x90or\xC4\x91" "e, S\xC3\xB8ren"),
              "Lukasz Zak, Dorde, S\xF8ren");
    // Scripts with no unaccented spelling are romanized, word breaks kept.
    EXPECT_EQ(western("Artist: \xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9 \xD0\x9E\xD1\x80\xD0\xBB\xD0\xBE\xD0\xB2"),
              "Artist: Dmitrij Orlov");
    const std::string cjk = western("\xE9\x88\xB4\xE6\x9C\xA8");
    EXPECT_FALSE(cjk.empty());
    EXPECT_EQ(cjk.find('?'), std::string::npos) << cjk;
    TTitleEncoder cyrillic(1251);
    EXPECT_EQ(cyrillic("\xD0\x94\xD0\xBE\xD0\xBC \xC3\x89milie"), "\xC4\xEE\xEC Emilie");
}

// The rules may still be in the making on their own thread when titles come.
TEST(ChmText, TitlesRomanizedWhileTheRulesAreBuiltInTheBackgroundComeOutTheSame) {
    PrepareRomanizer();
    std::vector<std::string> titles(3);
    std::vector<std::thread> threads;
    for (std::string& title : titles)
        threads.emplace_back([&title] {
            TTitleEncoder western(1252);
            title = western("\xE9\x88\xB4\xE6\x9C\xA8 \xED\x95\x9C\xEA\xB8\x80 \xD0\x94\xD0\xBE\xD0\xBC "
                            "\xE3\x81\xB2\xE3\x82\x89\xE3\x81\x8C\xE3\x81\xAA");
        });
    PrepareRomanizer();  // once a process: no second thread
    for (std::thread& t : threads) t.join();
    for (const std::string& title : titles) EXPECT_EQ(title, "ling mu hangeul Dom hiragana");
}

TEST(ChmProjectFile, OptionsWindowsAndFilesAreRead) {
    const std::string text =
        "[WINDOWS]\r\nMain=\"Music, all of it\",\"temp.hhc\",\"temp.hhk\",\"main.html\",\"main.html\",,,,,"
        "0x63520,220,0x387e,[10,20,790,590],0x30000,,,,,0,0\r\n\r\n"
        "[OPTIONS]\r\ncontents FILE=temp.hhc\r\nLanguage=0x419 Russian\r\nFull-text search=Yes\r\n"
        "Default topic=.\\main.html\r\n; a comment\r\n\r\n[FILES]\r\nmain.html\r\nsub\\page.htm\r\nmain.html\r\n"
        "self.chmprj";
    const TChmProject p = ParseChmProject(text, "/x");
    EXPECT_EQ(p.ContentsFile, "temp.hhc");
    EXPECT_EQ(p.LanguageId, 0x419u);
    EXPECT_TRUE(p.FullTextSearch);
    EXPECT_EQ(p.DefaultTopic, "main.html");
    EXPECT_EQ(p.Files, (std::vector<std::string>{"main.html", "sub/page.htm", "self.chmprj"}));
    ASSERT_EQ(p.Windows.size(), 1u);
    const TChmWindowDefinition& w = p.Windows[0];
    EXPECT_EQ(w.Name, "Main");
    EXPECT_EQ(*w.Text(TChmWindowDefinition::fTitle), "Music, all of it");
    EXPECT_EQ(w.Text(TChmWindowDefinition::fJump1Text), nullptr);
    EXPECT_EQ(w.Number(TChmWindowDefinition::fNavigationStyle), 0x63520u);
    EXPECT_EQ(w.Number(TChmWindowDefinition::fNavigationWidth), 220u);
    ASSERT_TRUE(w.Position);
    EXPECT_EQ((*w.Position)[1], 20);
    EXPECT_EQ((*w.Position)[3], 590);
    EXPECT_THROW(ParseChmProject("[WINDOWS]\r\nMain=\"a\",,,,,,,,,,,,[1,2]\r\n", "/x"), std::runtime_error);
}

// The #SYSTEM entries as code -> data.
std::map<int, std::string> SystemEntries(const std::string& system) {
    std::map<int, std::string> entries;
    for (std::size_t at = 4; at + 4 <= system.size();) {
        const int code = U16At(system, at);
        const std::size_t length = U16At(system, at + 2);
        entries[code] = system.substr(at + 4, length);
        at += 4 + length;
    }
    return entries;
}

TEST(ChmTables, SystemAndWindowsSayWhatTheProjectSays) {
    TScratch scratch;
    TProject p;
    p.Title = "Katalog \xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB8";  // "Каталог" style: Cyrillic letters
    p.Language = "0x419 Russian";
    p.WindowsSection =
        "Main=\"Window \xD0\x9C\",\"temp.hhc\",\"temp.hhk\",\"main.html\",\"main.html\",,,,,0x63520,220,0x387e,"
        "[10,20,790,590],0x30000,,,,,0,0";
    p.Add("main.html", Page("&#1052;"));
    const std::string output = scratch / "Help File.chm";
    ASSERT_TRUE(Compile(p.Write(scratch / "p"), output).Ok);

    TChmLib chm(output);
    const auto system = chm.Read("/#SYSTEM");
    ASSERT_TRUE(system);
    EXPECT_EQ(U32At(*system, 0), 3u);
    auto entries = SystemEntries(*system);
    EXPECT_EQ(entries[0], std::string("temp.hhc") + '\0');
    EXPECT_EQ(entries[1], std::string("temp.hhk") + '\0');
    EXPECT_EQ(entries[2], std::string("main.html") + '\0');
    EXPECT_EQ(entries[3], std::string("Katalog \xCC\xF3\xE7\xFB\xEA\xE8") + '\0');  // in code page 1251
    EXPECT_EQ(entries[5], std::string("Main") + '\0');
    EXPECT_EQ(entries[6], std::string("help file") + '\0');
    EXPECT_EQ(U32At(entries[10], 0), 1700000000u);
    ASSERT_EQ(entries[4].size(), 36u);
    EXPECT_EQ(U32At(entries[4], 0), 0x419u);
    EXPECT_EQ(U32At(entries[4], 8), 0u);  // no full-text search
    EXPECT_EQ(entries[13].substr(0, 4), "T#SM");

    const auto windows = chm.Read("/#WINDOWS");
    const auto strings = chm.Read("/#STRINGS");
    ASSERT_TRUE(windows && strings);
    EXPECT_EQ(U32At(*windows, 0), 1u);
    const std::uint32_t size = U32At(*windows, 4);
    ASSERT_EQ(windows->size(), 8 + size);
    const std::size_t w = 8;
    auto text = [&](std::size_t field) { return std::string(strings->c_str() + U32At(*windows, w + field)); };
    EXPECT_EQ(text(0x08), "Main");
    EXPECT_EQ(text(0x14), "Window \xCC");
    EXPECT_EQ(text(0x60), "temp.hhc");
    EXPECT_EQ(text(0x64), "temp.hhk");
    EXPECT_EQ(text(0x68), "main.html");
    EXPECT_EQ(U32At(*windows, w + 0x10), 0x63520u);
    EXPECT_EQ(U32At(*windows, w + 0x24), 20u);
    EXPECT_EQ(U32At(*windows, w + 0x4C), 220u);
    EXPECT_EQ(U32At(*windows, w + 0x70), 0x387Eu);
    // Navigation style, style, position, width and buttons are marked as set.
    EXPECT_EQ(U32At(*windows, w + 0x0C) & 0x136, 0x136u);

    EXPECT_EQ(TopicTitles(chm).at("main.html"), "\xCC");
}

}  // namespace

namespace {

TEST(ChmTables, ChosenTitleCodePageOverridesTheLanguage) {
    TScratch scratch;
    TProject p;
    p.Add("main.html", Page("&#1044;&#1086;&#1084; &#22338;"));
    const std::string project = p.Write(scratch / "p");
    TChmWriteOptions options;
    options.TitleCodePage = 65001;
    ASSERT_TRUE(Compile(project, scratch / "utf8.chm", options).Ok);
    options.TitleCodePage = 1251;
    ASSERT_TRUE(Compile(project, scratch / "cyrillic.chm", options).Ok);
    TChmLib utf8(scratch / "utf8.chm");
    TChmLib cyrillic(scratch / "cyrillic.chm");
    EXPECT_EQ(TopicTitles(utf8).at("main.html"), "\xD0\x94\xD0\xBE\xD0\xBC \xE5\x9D\x82");
    EXPECT_EQ(TopicTitles(cyrillic).at("main.html"), "\xC4\xEE\xEC ban");
}

}  // namespace
