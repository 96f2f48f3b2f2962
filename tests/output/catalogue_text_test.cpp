// A catalogue of names in several scripts, built with the shipped page
// template and read back through chmlib and python3-chm: the text inside
// the compiled file is in its code page, names are found however they are
// typed, and the index is in the order of the contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "audio/audio_info.h"
#include "audio/tag_fields.h"
#include "base/exe_dir.h"
#include "output/chm_files.h"
#include "output/chm/chm_preparer.h"
#include "catalogue/page_names.h"
#include "services/configer.h"
#include "test_util.h"

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::unique_ptr<TAudioInformer> Track(const std::string& artist, const std::string& title, const std::string& album,
                                      const std::string& file) {
    auto r = std::make_unique<TAudioInformer>();
    TTagFields tags;
    tags.Artist = artist;
    tags.Title = title;
    tags.Album = album;
    tags.Year = "2001";
    tags.Genre = "Pop";
    tags.Track = 1;
    r->SetTags(tags);
    r->SetText(atFileName, file);
    r->SetNumbers({100, 44100, 128, ccStereo, 1000});
    return r;
}

std::uint32_t U32At(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s.at(at))) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s.at(at + 1))) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s.at(at + 2))) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s.at(at + 3))) << 24;
}

// Topic titles by page address, as the viewers' title lists show them.
std::map<std::string, std::string> Titles(const std::map<std::string, std::string>& files) {
    std::map<std::string, std::string> result;
    const std::string& topics = files.at("/#TOPICS");
    const std::string& urltbl = files.at("/#URLTBL");
    const std::string& urlstr = files.at("/#URLSTR");
    const std::string& strings = files.at("/#STRINGS");
    for (std::size_t at = 0; at + 16 <= topics.size(); at += 16) {
        const std::uint32_t title = U32At(topics, at + 4);
        const std::string address = urlstr.c_str() + U32At(urltbl, U32At(topics, at + 8) + 8) + 8;
        result[address] = title == 0xFFFFFFFF ? std::string() : std::string(strings.c_str() + title);
    }
    return result;
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

std::string PythonWithChm() {
    for (const char* python : {"/usr/bin/python3", "python3"})
        if (std::system((std::string(python) + " -c 'import chm.chm' >/dev/null 2>&1").c_str()) == 0) return python;
    return {};
}

// The page addresses python3-chm's search finds for each word (code-page bytes).
std::map<std::string, std::set<std::string>> Search(const std::string& python, const std::string& chm,
                                                    const std::vector<std::string>& words) {
    std::string command = python +
                          " -c 'import sys, chm.chm as c\n"
                          "f = c.CHMFile()\n"
                          "f.LoadCHM(sys.argv[1].encode())\n"
                          "for w in sys.argv[2:]:\n"
                          "    ok, hits = f.Search(bytes.fromhex(w), 1, 0)\n"
                          "    for t, u in sorted(hits.items()): print(w, u.decode() if isinstance(u, bytes) else u)\n"
                          "' '" +
                          chm + "'";
    for (const auto& w : words) command += " " + Hex(w);
    std::map<std::string, std::set<std::string>> found;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return found;
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
    std::istringstream lines(out);
    for (std::string hex, url; lines >> hex >> url;) {
        std::string word;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            word += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        found[word].insert(url.substr(url.rfind('/') + 1));
    }
    return found;
}

class CatalogueTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExeDirForTesting(exeDir_.Path());
        const std::string archive = exeDir_ / "data";
        const std::string source = std::string(ORVALIS_SOURCE_DIR) + "/data/archive/";
        ZipBuffer(archive, "template.html", LoadTextFile(source + "template.html"));
        ZipBuffer(archive, "Need/main.html", LoadTextFile(source + "Need/main.html"));
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
    }
    void TearDown() override { SetAppConfiger(nullptr); }

    std::vector<const TAudioInfo*> Files() const {
        std::vector<const TAudioInfo*> files;
        for (const auto& r : records_) files.push_back(r.get());
        return files;
    }

    TempDir exeDir_;
    TempDir runtime_;
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", runtime_.Path()};
    ScopedEnv locale_{"LC_ALL", "C.UTF-8"};
    std::vector<std::unique_ptr<TAudioInformer>> records_;
};

}  // namespace

TEST_F(CatalogueTextTest, NamesInSeveralScriptsReadAndAreFoundInTheViewers) {
    const std::string emilie = "\xC3\x89milie Duval";
    const std::string zoe = "Zo\xC3\xAB Petrovi\xC4\x87";
    const std::string lukasz = "\xC5\x81ukasz \xC5\xBB"
                               "ak";
    const std::string soren = "S\xC3\xB8ren Sigur\xC3\xB0sson";
    const std::string strauss = "Johann Strau\xC3\x9F";
    const std::string suzuki = "\xE9\x88\xB4\xE6\x9C\xA8 \xE4\xB8\x80\xE9\x83\x8E";  // 鈴木 一郎
    const std::string dmitri = "\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9";  // Дмитрий
    for (const auto& [artist, album] :
         std::vector<std::pair<std::string, std::string>>{{emilie, "Lumi\xC3\xA8re"},
                                                          {"Eddie Vance", "Salt & Pepper"},
                                                          {"Frank Miller", "Harbor"},
                                                          {zoe, "Tempo"},
                                                          {lukasz, "Zima"},
                                                          {soren, "Fjord"},
                                                          {strauss, "Walzer"},
                                                          {suzuki, "Umi"},
                                                          {dmitri, "Volga"}})
        records_.push_back(Track(artist, album + " one", album, "/m/" + album + "/1.mp3"));
    records_.push_back(Track(emilie, "Lumi\xC3\xA8re two", "Lumi\xC3\xA8re", "/m/Lumi\xC3\xA8re/2.mp3"));
    TempDir out;
    TChmPreparer preparer;
    preparer.OutputPath = out / "catalogue.chm";
    preparer.Compiler->Engine = THelpEngine::Native;
    preparer.Run(Files());
    ASSERT_TRUE(preparer.Placed()) << preparer.FailureReason();

    const auto files = ReadChmFiles(preparer.OutputPath);
    ASSERT_TRUE(files.count("/temp.hhc") && files.count("/temp.hhk"));
    const std::string& contents = files.at("/temp.hhc");
    const std::string& index = files.at("/temp.hhk");
    // Western names are in windows-1252: letters it has as its bytes, the
    // rest as references, markup escaped as strictly as before.
    EXPECT_NE(contents.find("value=\"\xC9milie Duval\""), std::string::npos) << contents;
    EXPECT_NE(contents.find("value=\"Zo\xEB Petrovi&#263;\""), std::string::npos);
    EXPECT_NE(contents.find("value=\"&#321;ukasz &#379;ak\""), std::string::npos);
    EXPECT_NE(contents.find("value=\"S\xF8ren Sigur\xF0sson\""), std::string::npos);
    EXPECT_NE(contents.find("value=\"Salt &amp; Pepper\""), std::string::npos);
    EXPECT_NE(contents.find("value=\"&#37428;&#26408; &#19968;&#37070;\""), std::string::npos);
    EXPECT_NE(index.find("value=\"Zo\xEB Petrovi&#263;\""), std::string::npos) << index;
    EXPECT_EQ(index.find("\xC3\x89"), std::string::npos) << "no UTF-8 left in the index file";

    // The index file is collated like the contents: Émilie between Eddie and Frank.
    const std::size_t eddie = index.find("value=\"Eddie Vance\"");
    const std::size_t emilieAt = index.find("value=\"\xC9milie Duval\"");
    const std::size_t frank = index.find("value=\"Frank Miller\"");
    ASSERT_NE(eddie, std::string::npos);
    EXPECT_LT(eddie, emilieAt);
    EXPECT_LT(emilieAt, frank);
    // An album keyword opens the artist's page at that album.
    const std::string zoePage = GroupPageName("art", zoe);
    const std::size_t tempo = index.find("value=\"Tempo\"");
    ASSERT_NE(tempo, std::string::npos) << index;
    const std::string local = index.substr(tempo, index.find('>', index.find("Local", tempo)) - tempo);
    EXPECT_NE(local.find(zoePage + "#alb-"), std::string::npos) << local;
    const std::string anchor = local.substr(local.find('#') + 1, local.rfind('"') - local.find('#') - 1);
    EXPECT_NE(files.at("/" + zoePage).find("name=\"" + anchor + "\""), std::string::npos);

    // Pages: code page bytes with the charset said, references for the rest.
    const std::string& emiliePage = files.at("/" + GroupPageName("art", emilie));
    EXPECT_NE(emiliePage.find("charset=windows-1252"), std::string::npos);
    EXPECT_NE(emiliePage.find("<title>Artist: \xC9milie Duval</title>"), std::string::npos);
    // One file is singular.
    const std::string& artists = files.at("/artists.htm");
    EXPECT_NE(artists.find(">Total: 1 file</td>"), std::string::npos) << artists;
    EXPECT_NE(artists.find(">Total: 2 files</td>"), std::string::npos);

    // Titles: no "?", letters outside the code page unaccented, other scripts romanized.
    const auto titles = Titles(files);
    EXPECT_EQ(titles.at(zoePage), "Artist: Zo\xEB Petrovic");
    EXPECT_EQ(titles.at(GroupPageName("art", lukasz)), "Artist: Lukasz Zak");
    EXPECT_EQ(titles.at(GroupPageName("art", emilie)), "Artist: \xC9milie Duval");
    const std::string dmitriTitle = titles.at(GroupPageName("art", dmitri));
    EXPECT_EQ(dmitriTitle.rfind("Artist: Dmitri", 0), 0u) << dmitriTitle;
    for (const auto& [page, title] : titles) EXPECT_EQ(title.find('?'), std::string::npos) << page << ": " << title;

    const std::string python = PythonWithChm();
    if (python.empty()) GTEST_SKIP() << "python3-chm is missing";
    const std::string emiliePageName = GroupPageName("art", emilie);
    const auto found = Search(python, preparer.OutputPath,
                              {"\xC9milie", "\xE9milie", "emilie", "petrovic", "lukasz", "soren", "strauss",
                               "\xE9\x88\xB4\xE6\x9C\xA8", "sigurdsson"});
    EXPECT_TRUE(found.count("\xC9milie") && found.at("\xC9milie").count(emiliePageName)) << "as typed";
    EXPECT_TRUE(found.count("\xE9milie") && found.at("\xE9milie").count(emiliePageName));
    EXPECT_TRUE(found.count("emilie") && found.at("emilie").count(emiliePageName));
    const std::map<std::string, std::string> pageOf = {{"petrovic", zoe},    {"lukasz", lukasz},
                                                       {"soren", soren},     {"strauss", strauss},
                                                       {"sigurdsson", soren}, {"\xE9\x88\xB4\xE6\x9C\xA8", suzuki}};
    for (const auto& [word, artist] : pageOf) {
        ASSERT_TRUE(found.count(word)) << word << " finds nothing";
        EXPECT_TRUE(found.at(word).count(GroupPageName("art", artist))) << word;
        EXPECT_FALSE(found.at(word).count(GroupPageName("art", "Frank Miller"))) << word;
    }
}
