// Which language file the program takes, and how texts of several lines and
// the archive's pages are translated.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "output/chm/chm_preparer.h"
#include "base/exe_dir.h"
#include "services/configer.h"
#include "base/language.h"
#include "test_util.h"

namespace {

// Sets (or, with nullopt, removes) a variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string Shipped(const std::string& name) { return std::string(ORVALIS_SOURCE_DIR) + "/data/" + name; }

// A program folder holding the shipped language files.
class LocaleChoice : public ::testing::Test {
protected:
    void SetUp() override {
        savedExeDir_ = ExeDir();
        SetExeDirForTesting(dir_.Path());
        for (const char* name : {"default.lng", "de.lng", "fr.lng", "es.lng"})
            dir_.Write(name, LoadTextFile(Shipped(name)));
        SetAppLanguage(nullptr);
    }
    void TearDown() override {
        SetAppLanguage(nullptr);
        SetExeDirForTesting(savedExeDir_);
    }

    // The file the configuration service picks with this store.
    std::string Chosen(const std::string& langFileOption = "") {
        SetAppLanguage(nullptr);
        auto store = std::make_unique<TMemIniFile>();
        if (!langFileOption.empty()) store->WriteValue("Options", "General.LangFile", langFileOption);
        TConfiger configer(std::move(store));
        return ExtractFileName(AppLanguage()->LanguageFile());
    }

    TempDir dir_;
    std::string savedExeDir_;
    ScopedEnv all_{"LC_ALL", std::nullopt};
    ScopedEnv messages_{"LC_MESSAGES", std::nullopt};
    ScopedEnv lang_{"LANG", std::nullopt};
};

TEST_F(LocaleChoice, LangPicksTheGermanFile) {
    ::setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(Chosen(), "de.lng");
    EXPECT_EQ(Translate("Found"), "Gefunden");
    EXPECT_EQ(Translate("Found $1 audio files.", Params({"3"})), "3 Audiodateien gefunden.");
}

TEST_F(LocaleChoice, LcAllWinsOverLcMessagesWhichWinsOverLang) {
    ::setenv("LANG", "de_DE.UTF-8", 1);
    ::setenv("LC_MESSAGES", "es_ES.UTF-8", 1);
    EXPECT_EQ(Chosen(), "es.lng");
    ::setenv("LC_ALL", "fr_FR.UTF-8", 1);
    EXPECT_EQ(Chosen(), "fr.lng");
    // Set but empty counts as not set.
    ::setenv("LC_ALL", "", 1);
    EXPECT_EQ(Chosen(), "es.lng");
}

TEST_F(LocaleChoice, UnknownOrNeutralLocalesLeaveEnglish) {
    for (const char* locale : {"ja_JP.UTF-8", "C", "C.UTF-8", "POSIX", "../de", "de/../../x"}) {
        ::setenv("LANG", locale, 1);
        EXPECT_EQ(Chosen(), "default.lng") << locale;
        EXPECT_EQ(Translate("Found"), "Found") << locale;
    }
    ::unsetenv("LANG");
    EXPECT_EQ(Chosen(), "default.lng");
}

TEST_F(LocaleChoice, CountryFileBeforeLanguageFile) {
    ::setenv("LANG", "de_AT.UTF-8@euro", 1);
    EXPECT_EQ(Chosen(), "de.lng");
    dir_.Write("de_AT.lng", "[Messages]\n" + HexEncode(Md5Digest("Found")) + "=Gfunden\n");
    EXPECT_EQ(Chosen(), "de_AT.lng");
    EXPECT_EQ(Translate("Found"), "Gfunden");
}

TEST_F(LocaleChoice, ExplicitOptionWins) {
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(Chosen("fr.lng"), "fr.lng");
    EXPECT_EQ(Translate("Found"), "Trouvés");
    EXPECT_EQ(Chosen("default.lng"), "default.lng");
}

// The option names a file beside the program or in the user's data folder;
// paths, devices, fifos and huge files are never read, nor waited on.
TEST_F(LocaleChoice, OptionNamesOnlyPlainSmallFiles) {
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    TempDir data;
    ScopedEnv dataHome{"XDG_DATA_HOME", data.Path()};
    data.Write("orvalis/mine.lng", "[Messages]\n" + HexEncode(Md5Digest("Found")) + "=Meins\n");
    EXPECT_EQ(Chosen("mine.lng"), "mine.lng");
    EXPECT_EQ(Translate("Found"), "Meins");
    ASSERT_EQ(::mkfifo((dir_ / "pipe.lng").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir_ / "zero.lng").c_str()), 0);
    dir_.Write("huge.lng", "[Messages]\n" + HexEncode(Md5Digest("Found")) + "=Riesig\n" + std::string(2 << 20, ';'));
    for (const char* bad : {"../de.lng", "/etc/passwd", "pipe.lng", "zero.lng", "huge.lng", ".."}) {
        Chosen(bad);
        EXPECT_NE(Translate("Found"), "Riesig") << bad;
        EXPECT_TRUE(Translate("Found") == "Gefunden" || Translate("Found") == "Found") << bad;
    }
    EXPECT_EQ(Chosen("../de.lng"), "de.lng") << "the locale chooses instead";
}

// An empty value still fills its place, so no "$1" is ever shown.
TEST(TranslateParams, EmptyValuesFillTheirPlaces) {
    EXPECT_EQ(Translate("Not an audio file: $1", Params({""})), "Not an audio file: ");
    EXPECT_EQ(Translate("$1|$2|$3", Params({"a", "", ""})), "a||");
    EXPECT_EQ(Translate("$1 and $2", Params({"x", "y"})), "x and y");
}

TEST(TranslateLines, EachLineOnItsOwnWithLineBreaksKept) {
    TempDir dir;
    const std::string file = dir.Write("x.lng", "[Messages]\n" + HexEncode(Md5Digest("One.")) + "=Eins.\n" +
                                                    HexEncode(Md5Digest("Two.")) + "=Zwei.\n");
    SetAppLanguage(std::make_unique<TLanguage>(file));
    EXPECT_EQ(TranslateLines("One.\r\n\r\nTwo.\nThree."), "Eins.\r\n\r\nZwei.\nThree.");
    EXPECT_EQ(TranslateLines(""), "");
    EXPECT_EQ(TranslateLines("Two.\n"), "Zwei.\n");
    SetAppLanguage(nullptr);
}

TEST(PageText, MarkedTextsTranslatedByTheirNormalisedKey) {
    TempDir dir;
    const std::string file = dir.Write("x.lng", "[Messages]\n" + HexEncode(Md5Digest("Two words")) + "=Zwei Worte\n");
    SetAppLanguage(std::make_unique<TLanguage>(file));
    EXPECT_EQ(TranslatePageText("<p><!--T-->Two\r\n   words<!--/T--></p><!--T--> Other <!--/T-->"),
              "<p>Zwei Worte</p>Other");
    // An unclosed marker is left as it stands rather than eating the page.
    EXPECT_EQ(TranslatePageText("a<!--T-->b"), "a<!--T-->b");
    EXPECT_EQ(PageTextKey("  a \t b\n"), "a b");
    SetAppLanguage(nullptr);
}

// The pages of the built data archive come out German with the German file,
// in UTF-8 (the compiled file converts them to its code page).
TEST(PageText, ArchivePagesFollowTheLanguage) {
    const std::string saved = ExeDir();
    SetExeDirForTesting(ORVALIS_BINARY_DIR);
    SetAppLanguage(std::make_unique<TLanguage>(Shipped("de.lng")));
    SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
    {
        TempDir out;
        TChmPreparer preparer;
        EXPECT_NE(preparer.PageTemplate.find("Erstellt mit Orvalis."), std::string::npos);
        preparer.ExtractNeedFiles(out.Path());
        const std::string main = LoadTextFile(out / "main.html");
        EXPECT_NE(main.find("<title>Musikkatalog</title>"), std::string::npos) << main;
        EXPECT_NE(main.find("Seite <i>Unbekannt</i>"), std::string::npos);
        EXPECT_NE(main.find("Katalog f\xC3\xBChrt"), std::string::npos);
        EXPECT_EQ(main.find("<!--T-->"), std::string::npos);
    }
    SetAppConfiger(nullptr);
    SetAppLanguage(nullptr);
    SetExeDirForTesting(saved);
}

}  // namespace
