// The wizard driven through its buttons: page states, the run and its
// outcomes, the session it keeps, and shutting down through the shell.
#include <gtest/gtest.h>

#include <QScreen>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "app/app_shell.h"
#include "app/error_boundary.h"
#include "app/folder_page.h"
#include "app/main_form.h"
#include "app/output_page.h"
#include "app/prog_dispatcher.h"
#include "app/progress_frame.h"
#include "app_test_util.h"
#include "collection/collection.h"
#include "base/exe_dir.h"
#include "services/message_box.h"
#include "output/destination.h"
#include "output/site/site_destination.h"
#include "output/site/web_site.h"
#include "test_util.h"

namespace {

const char* kSteps = "Pick folders.\r\n-------\r\nPick a place.\r\n-------\r\n  Working...\r\n";

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        store = &FreshConfig();
        setenv("HOME", home.Path().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        exeDir.Write("steps.txt", kSteps);
        oldExeDir = ExeDir();
        SetExeDirForTesting(exeDir.Path());
        oldPresenter = SetMessageBoxPresenter([this](const std::string& text, TMessageIcon icon, TButtonLayout) {
            questions.push_back(text);
            icons.push_back(icon);
            return answer;
        });
        oldHandler = SetUnhandledErrorHandler([this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                errors.push_back(x.what());
            }
        });
        // Three copies of the sample collection in two folders.
        for (const char* name :
             {"Aurora Quartet - Morning Light.mp3", "Aurora Quartet - Evening Tide.ogg", "Grey Skies - Rainfall.wma"}) {
            const std::string src = std::string(ORVALIS_SOURCE_DIR) + "/examples/music/" + name;
            const std::string data = LoadTextFile(src);
            music.Write(std::string("a/") + name, data);
            music.Write(std::string("b/") + name, data);
            music.Write(std::string("b/c/") + name, data);
        }
        Set("Session", "PlaceTo", "0");
        Set("Session", "DBFilename", out / "music.chm");
    }
    void TearDown() override {
        SetMessageBoxPresenter(oldPresenter);
        SetUnhandledErrorHandler(oldHandler);
        SetExeDirForTesting(oldExeDir);
    }

    void Set(const char* section, const char* key, const std::string& value) {
        AppConfiger()->WriteString(section, key, value);
    }
    std::string Get(const char* section, const char* key) { return AppConfiger()->ReadString(section, key); }

    // The build run as the program has it, with a stand-in for the database
    // stage that writes a file where the real one would place the catalogue.
    TBuildRunner Runner() {
        TBuildRunner r;
        r.Search = [this](TMP3Collection& c, const std::vector<std::string>& paths, const TFoundEvent& onFound) {
            ++searches;
            searchedPaths = paths;
            c.Clear();
            bool cancelled = false;
            for (const std::string& p : paths)
                c.Scan(p, {}, [&](TMP3Collection&, const std::string& path, bool& cancel) {
                    ++reports;
                    if (onReport) onReport(reports);
                    onFound(path, cancel);
                    cancelled = cancelled || cancel;
                });
            return !cancelled;
        };
        r.Database = [this](TMP3Collection& c, const TDatabaseRequest& request) {
            requests.push_back(request.TargetPath);
            kinds.push_back(request.Output);
            databaseCount = c.Count();
            if (buildRunnerCheck) buildRunnerCheck(request);
            if (beforeDatabase) beforeDatabase();
            for (int step = 0; step < 4; ++step)
                for (std::size_t page = 1; page <= 3; ++page) request.OnStage({step, 4, page, 3});
            request.OnStage({4, 4, 0, 0});
            request.OnCompileProgress("Compiling", 60, "");
            TDatabaseResult result = databaseResult;
            if (result.Done && request.Output == TOutputKind::WebPages) {
                ForceFolders("", JoinPath(request.TargetPath, kSiteMarkerName), true);
                SaveTextFile("", JoinPath(request.TargetPath, kSiteMarkerName));
                WriteSiteManifest(request.TargetPath);
                result.DatabasePath = request.TargetPath;
            } else if (result.Done) {
                SaveTextFile("ITSF catalogue", request.TargetPath);
                result.DatabasePath = request.TargetPath;
            }
            return result;
        };
        return r;
    }

    std::unique_ptr<TMainForm> NewForm() {
        auto form = std::make_unique<TMainForm>(Runner());
        form->OpenDocument = [this](const std::string& path) { opened.push_back(path); };
        form->InitWizard();
        return form;
    }
    void Tick(TMainForm& form, const std::vector<std::string>& paths) {
        form.FolderPage->Paths = paths;
        form.FolderPage->SetPaths();
    }
    static std::string Memo(TMainForm& form) { return form.SteptextMemo()->toPlainText().toStdString(); }
    static std::string NextCaption(TMainForm& form) { return form.NextButton()->text().toStdString(); }
    int PointerStep(TMainForm& form) {
        for (int step = 1; step <= 3; ++step) {
            QLabel* label = form.ProgressPage->StepLabel(step);
            if (form.ProgressPage->CurImage()->y() == label->y() + label->height() + 5) return step;
        }
        return 0;
    }

    TMemIniFile* store = nullptr;
    TempDir home, exeDir, music, out;
    std::string oldExeDir;
    TMessageBoxPresenter oldPresenter;
    TUnhandledErrorHandler oldHandler;
    int answer = mrYes;
    std::vector<std::string> questions, errors, opened, requests, searchedPaths;
    std::vector<TOutputKind> kinds;
    std::vector<TMessageIcon> icons;
    int searches = 0, reports = 0, databaseCount = -1;
    std::function<void(int)> onReport;
    std::function<void()> beforeDatabase;
    std::function<void(const TDatabaseRequest&)> buildRunnerCheck;
    TDatabaseResult databaseResult{true, {}, {}, {}};
};

TEST_F(WizardTest, PagesButtonsAndStepTexts) {
    auto form = NewForm();
    EXPECT_EQ(form->objectName(), "MainForm");
    EXPECT_EQ(form->windowTitle(), "Brennick Orvalis");
    ASSERT_EQ(form->Pages.size(), 3u);
    EXPECT_EQ(form->Pages[0].get(), form->FolderPage);
    EXPECT_EQ(form->Pages[1].get(), form->OutputPage);
    EXPECT_EQ(form->Pages[2].get(), form->ProgressPage);
    EXPECT_FALSE(form->Pages[0]->isHidden());
    EXPECT_TRUE(form->Pages[1]->isHidden());
    EXPECT_EQ(Memo(*form), "Pick folders.");
    EXPECT_EQ(NextCaption(*form), "Next >");
    EXPECT_TRUE(form->NextButton()->isEnabled());
    EXPECT_FALSE(form->BackButton()->isEnabled());

    form->NextButton()->click();
    EXPECT_EQ(form->PageIndex, 1);
    EXPECT_TRUE(form->Pages[0]->isHidden());
    EXPECT_FALSE(form->Pages[1]->isHidden());
    EXPECT_EQ(Memo(*form), "Pick a place.");
    EXPECT_EQ(NextCaption(*form), "Start");
    EXPECT_TRUE(form->NextButton()->isEnabled());
    EXPECT_TRUE(form->BackButton()->isEnabled());

    form->BackButton()->click();
    EXPECT_EQ(form->PageIndex, 0);
    EXPECT_EQ(Memo(*form), "Pick folders.");
    EXPECT_EQ(NextCaption(*form), "Next >");
    EXPECT_FALSE(form->BackButton()->isEnabled());
}

TEST_F(WizardTest, StepTextSections) {
    // Two sections, the marker written with eight hyphens.
    exeDir.Write("steps.txt", "one\r\n--------\r\ntwo\r\n");
    auto form = NewForm();
    form->NextButton()->click();
    EXPECT_EQ(Memo(*form), "-\ntwo");
    form->NextButton()->click();  // nothing ticked: the run finds nothing
    EXPECT_EQ(form->PageIndex, 2);
    EXPECT_EQ(Memo(*form), "");

    // A missing file gives empty texts.
    SetExeDirForTesting(music.Path());
    auto bare = NewForm();
    EXPECT_EQ(Memo(*bare), "");
}

TEST_F(WizardTest, DecliningOverwriteScansNothingAndWaitsOnProgressPage) {
    SaveTextFile("ITSF old", out / "music.chm");
    answer = mrNo;
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    form->NextButton()->click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], "File \"" + out / "music.chm" + "\" already exists.Do you want to overwrite it ?");
    EXPECT_EQ(icons[0], TMessageIcon::Question);
    EXPECT_EQ(searches, 0);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(form->Collection->Count(), 0);
    EXPECT_EQ(form->PageIndex, 2);
    EXPECT_EQ(PointerStep(*form), 2);
    EXPECT_EQ(NextCaption(*form), "Cancel");
    EXPECT_FALSE(form->NextButton()->isEnabled());
    EXPECT_TRUE(form->BackButton()->isEnabled());
    EXPECT_EQ(LoadTextFile(out / "music.chm"), "ITSF old");

    form->BackButton()->click();
    EXPECT_EQ(form->PageIndex, 1);
    EXPECT_EQ(NextCaption(*form), "Start");
}

// The ticked music is never the place of the catalogue: a file name inside
// it, or a site folder holding it, is refused before the scan.
TEST_F(WizardTest, DestinationAmongTheTickedMusicIsRefusedBeforeTheScan) {
    const std::string before = TreeDigest(music.Path());
    for (const std::string& chosen : {music / "catalogue.chm", music.Path()}) {
        questions.clear();
        Set("Session", "DBFilename", chosen);
        Set("Session", "SiteFolder", chosen);
        Set("Session", "OutputKind", chosen == music.Path() ? "html" : "chm");
        auto form = NewForm();
        Tick(*form, {music.Path()});
        form->NextButton()->click();
        form->NextButton()->click();
        ASSERT_EQ(questions.size(), 1u) << chosen;
        EXPECT_NE(questions[0].find("which is being catalogued"), std::string::npos) << questions[0];
        EXPECT_EQ(icons.back(), TMessageIcon::Error);
        EXPECT_EQ(searches, 0);
        EXPECT_TRUE(requests.empty());
    }
    EXPECT_EQ(TreeDigest(music.Path()), before);
}

TEST_F(WizardTest, DestinationThatCannotTakeTheFileIsRefusedBeforeTheScan) {
    ForceFolders("", out / "music.chm/inside", true);  // a folder where the file would go
    const std::string plain = out.Write("plain", "x");
    for (const std::string& chosen : {out / "music.chm", plain + "/sub/music.chm"}) {
        questions.clear();
        Set("Session", "DBFilename", chosen);
        auto form = NewForm();
        Tick(*form, {music.Path()});
        form->NextButton()->click();
        form->NextButton()->click();
        ASSERT_EQ(questions.size(), 1u) << chosen;
        // The same words as the command line's refusal.
        EXPECT_EQ(questions[0], ResolveDestination(chosen, 0).Problem);
        EXPECT_EQ(icons.back(), TMessageIcon::Error);
        EXPECT_EQ(searches, 0);
        EXPECT_TRUE(requests.empty());
        EXPECT_EQ(form->PageIndex, 1) << "back on the output page to choose again";
    }
}

TEST_F(WizardTest, WebPagesGoToTheirFolderAndOpenAtTheStartPage) {
    Set("Session", "PlaceTo", "0");
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    form->OutputPage->OutputKindComboBox()->setCurrentIndex(1);
    form->OutputPage->OpenAfterCompil()->setChecked(true);
    form->OutputPage->FilenameEdit()->setText(QString::fromStdString(out / "site"));
    form->NextButton()->click();
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_TRUE(questions.empty());
    ASSERT_EQ(requests, (std::vector<std::string>{out / "site"}));
    EXPECT_EQ(kinds, (std::vector<TOutputKind>{TOutputKind::WebPages}));
    EXPECT_EQ(opened, (std::vector<std::string>{out / "site/index.html"}));
    EXPECT_EQ(Get("Session", "OutputKind"), "html");
    EXPECT_EQ(Get("Session", "SiteFolder"), out / "site");

    // Our site again: asked before it is replaced.
    form->NextButton()->click();
    form->NextButton()->click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], SiteOverwriteQuestion(out / "site"));
    EXPECT_EQ(requests.size(), 2u);

    // A folder of other things: refused before the scan.
    out.Write("letters/a.txt", "x");
    questions.clear();
    const int searched = searches;
    form->NextButton()->click();
    form->OutputPage->FilenameEdit()->setText(QString::fromStdString(out / "letters"));
    form->NextButton()->click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], ResolveSiteDestination(out / "letters", 0).Problem);
    EXPECT_EQ(searches, searched);
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(LoadTextFile(out / "letters/a.txt"), "x");
}

TEST_F(WizardTest, FilesThatCannotBeReadAreCountedOnTheProgressPage) {
    ASSERT_EQ(::symlink((music / "gone.mp3").c_str(), (music / "a/broken.mp3").c_str()), 0);
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    form->NextButton()->click();
    EXPECT_EQ(form->Collection->Problems().size(), 1u);
    EXPECT_EQ(form->ProgressPage->FoundPanel()->text().toStdString(), "   Found: 9   (1 could not be read)");
}

TEST_F(WizardTest, OverwriteQuestionNamesTheFileAStandardPlaceWouldReplace) {
    SaveTextFile("ITSF old", out / "music.chm");  // the stored name is not where the run writes
    ForceFolders(home.Path(), "Documents", false);
    SaveTextFile("ITSF previous catalogue", home / "Documents/Orvalis.chm");
    Set("Session", "PlaceTo", "2");
    answer = mrNo;
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    form->NextButton()->click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0],
              "File \"" + home / "Documents/Orvalis.chm" + "\" already exists.Do you want to overwrite it ?");
    EXPECT_EQ(searches, 0);
    EXPECT_EQ(LoadTextFile(home / "Documents/Orvalis.chm"), "ITSF previous catalogue");
}

TEST_F(WizardTest, CompletedRunPlacesDatabaseAndReturnsToFirstPage) {
    auto form = NewForm();
    Tick(*form, {music / "a", music / "b/c"});
    form->NextButton()->click();
    form->OutputPage->OpenAfterCompil()->setChecked(true);
    form->OutputPage->FilenameEdit()->setText(QString::fromStdString(out / "typed"));
    form->NextButton()->click();

    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(searchedPaths, (std::vector<std::string>{music / "a", music / "b/c"}));
    EXPECT_EQ(databaseCount, 6);
    // The run's output name is what the page stored when the stage began.
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], out / "typed.chm");
    EXPECT_EQ(Get("Session", "DBFilename"), out / "typed.chm");
    EXPECT_EQ(Get("Session", "OpenAfterCompil"), "1");
    EXPECT_TRUE(FileExists(out / "typed.chm"));
    EXPECT_EQ(opened, (std::vector<std::string>{out / "typed.chm"}));

    EXPECT_EQ(form->PageIndex, 0);
    EXPECT_FALSE(form->Pages[0]->isHidden());
    EXPECT_TRUE(form->Pages[2]->isHidden());
    EXPECT_EQ(NextCaption(*form), "Next >");
    EXPECT_TRUE(form->NextButton()->isEnabled());
    EXPECT_FALSE(form->BackButton()->isEnabled());
    // The progress page keeps its last state: full sorting bar, pointer at step 3.
    EXPECT_EQ(form->ProgressPage->SortOutProgressBar()->value(), 100);
    EXPECT_EQ(form->ProgressPage->CompileProgressBar()->value(), 55);
    EXPECT_EQ(PointerStep(*form), 3);
    EXPECT_EQ(form->ProgressPage->FoundPanel()->text(), "   Found: 6");

    // Answering Yes to the overwrite question runs again.
    form->NextButton()->click();
    form->NextButton()->click();
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(form->PageIndex, 0);
}

TEST_F(WizardTest, CancelDuringSearchReturnsToSettingsAndNextStartScansAgain) {
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    // The user's click arrives while the scan reports its progress.
    onReport = [&](int n) {
        if (n == 3) QTimer::singleShot(0, form->NextButton(), [&] { form->NextButton()->click(); });
    };
    form->NextButton()->click();
    EXPECT_EQ(searches, 1);
    EXPECT_LT(form->Collection->Count(), 9);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(form->PageIndex, 1);
    EXPECT_EQ(NextCaption(*form), "Start");
    EXPECT_TRUE(form->BackButton()->isEnabled());

    onReport = nullptr;
    form->NextButton()->click();
    EXPECT_EQ(searches, 2);
    EXPECT_EQ(databaseCount, 9);
    EXPECT_EQ(form->PageIndex, 0);
}

TEST_F(WizardTest, CancelDuringDatabaseStageStopsAndKeepsTheOldCatalogue) {
    SaveTextFile("ITSF old", out / "music.chm");
    answer = mrYes;  // replace it, then cancel
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    beforeDatabase = [&] {
        EXPECT_EQ(NextCaption(*form), "Cancel");
        form->NextButton()->click();
    };
    form->NextButton()->click();
    EXPECT_TRUE(form->ProgressPage->Cancelled);
    EXPECT_EQ(LoadTextFile(out / "music.chm"), "ITSF old");
    EXPECT_EQ(form->PageIndex, 0);
    EXPECT_FALSE(form->BackButton()->isEnabled());
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[1], "The run was cancelled. Nothing was changed.");
}

// A stop that comes from inside the stage (a signal while covers are found,
// when no click can arrive) ends the run like Cancel: nothing changed, said so.
TEST_F(WizardTest, StopFromInsideTheDatabaseStageEndsTheRunLikeCancel) {
    SaveTextFile("ITSF old", out / "music.chm");
    answer = mrYes;
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    bool checked = false;
    beforeDatabase = [&] { throw ERunCancelled("stopped"); };
    buildRunnerCheck = [&](const TDatabaseRequest& request) { checked = static_cast<bool>(request.CheckStop); };
    form->NextButton()->click();
    EXPECT_TRUE(checked) << "the stage is given a stop check";
    EXPECT_TRUE(form->ProgressPage->Cancelled);
    EXPECT_EQ(LoadTextFile(out / "music.chm"), "ITSF old");
    EXPECT_EQ(form->PageIndex, 0);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[1], "The run was cancelled. Nothing was changed.");
}

// With the shipped German file: the pages made after the window was
// translated, the captions set while it runs, the step texts, and a Cancel
// that still stops the search once its caption is translated.
TEST_F(WizardTest, SpeaksTheShippedGermanAndCancelsInIt) {
    exeDir.Write("steps.txt", LoadTextFile(std::string(ORVALIS_SOURCE_DIR) + "/data/steps.txt"));
    SetAppLanguage(std::make_unique<TLanguage>(std::string(ORVALIS_SOURCE_DIR) + "/data/de.lng"));
    auto form = NewForm();
    EXPECT_EQ(Memo(*form).rfind("Haken Sie links im Baum", 0), 0u) << Memo(*form);
    EXPECT_NE(Memo(*form).find("\n\nMit \u201EWeiter\u201C"), std::string::npos) << Memo(*form);
    EXPECT_EQ(NextCaption(*form), "Weiter >");
    EXPECT_EQ(form->BackButton()->text().toStdString(), "< &Zur\u00FCck");
    EXPECT_EQ(form->CancelButton()->text().toStdString(), "&Beenden");
    EXPECT_EQ(form->OutputPage->PlaceToComboBox()->itemText(0).toStdString(), "Auf den Schreibtisch");
    EXPECT_EQ(form->OutputPage->OpenAfterCompil()->text().toStdString(), "Katalog nach dem Erstellen \u00F6ffnen");
    EXPECT_EQ(form->ProgressPage->StepLabel(1)->text().toStdString(), "Schritt 1. Musikdateien suchen");
    EXPECT_EQ(form->ProgressPage->FoundPanel()->text().toStdString(), "   Gefunden: 0");

    Tick(*form, {music.Path()});
    form->NextButton()->click();
    EXPECT_EQ(NextCaption(*form), "Starten");
    std::vector<std::string> captions;
    onReport = [&](int) {
        captions.push_back(NextCaption(*form));
        form->NextButton()->click();
    };
    form->NextButton()->click();
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions[0], "Abbrechen");
    EXPECT_EQ(reports, 1) << "the translated Cancel stops the search at once";
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(form->PageIndex, 1);  // back on the output page
}

TEST_F(WizardTest, RunWithoutDatabaseSaysWhyAndStays) {
    databaseResult.Done = false;
    databaseResult.Message = "Compilation failed.";
    for (int i = 1; i <= 20; ++i) databaseResult.CompilerLines.push_back("line " + std::to_string(i));
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    form->NextButton()->click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(icons[0], TMessageIcon::Error);
    EXPECT_EQ(questions[0].rfind("Compilation failed.", 0), 0u);
    EXPECT_NE(questions[0].find("line 20"), std::string::npos);
    EXPECT_EQ(questions[0].find("line 1\n"), std::string::npos);  // only the last lines
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(form->PageIndex, 2);
    EXPECT_EQ(NextCaption(*form), "Cancel");
    EXPECT_FALSE(form->NextButton()->isEnabled());
    EXPECT_TRUE(form->BackButton()->isEnabled());
}

TEST_F(WizardTest, ErrorDuringRunIsReportedAndLeavesOnlyExit) {
    auto form = NewForm();
    Tick(*form, {music.Path()});
    form->NextButton()->click();
    beforeDatabase = [] { throw Exception("Template missing"); };
    form->NextButton()->click();
    EXPECT_EQ(errors, (std::vector<std::string>{"Template missing"}));
    EXPECT_EQ(form->PageIndex, 2);
    EXPECT_EQ(NextCaption(*form), "Cancel");
    EXPECT_TRUE(form->NextButton()->isEnabled());
    EXPECT_FALSE(form->BackButton()->isEnabled());
}

TEST_F(WizardTest, StageReportsMapOntoSortingBar) {
    auto form = NewForm();
    TProgressFrame& p = *form->ProgressPage;
    p.SetStageCount(5);
    form->LastStage = 0;
    form->StageChanged(2, 50);
    EXPECT_EQ(p.StageScale, 100);
    EXPECT_EQ(p.SortOutProgressBar()->value(), 30);
    form->StageChanged(3, 1);
    EXPECT_EQ(p.SortOutProgressBar()->value(), 40);
    form->StageChanged(0, 0);  // compiling begins after the albums: (3 + 2) x 20
    EXPECT_EQ(p.SortOutProgressBar()->value(), 100);
    EXPECT_EQ(PointerStep(*form), 3);
    form->LastStage = 1;
    form->StageChanged(0, 0);
    EXPECT_EQ(p.SortOutProgressBar()->value(), 60);
}

TEST_F(WizardTest, SessionValuesComeBackAndWrap) {
    Set("Session", "Combine", "300");
    Set("Session", "ArtistBound", "abc");
    Set("Last", "TreeSelection", music / "a" + "\r\n" + music / "gone" + "\r\n");
    auto form = NewForm();
    EXPECT_EQ(form->Collection->Combine(), 44);
    EXPECT_EQ(form->Collection->ArtistBound(), 90);
    EXPECT_EQ(form->Collection->TitleBound(), 85);
    form->SaveSession();
    EXPECT_EQ(form->Collection, nullptr);
    EXPECT_EQ(Get("Session", "Combine"), "44");
    EXPECT_EQ(Get("Session", "ArtistBound"), "90");
    EXPECT_EQ(Get("Session", "TitleBound"), "85");
    EXPECT_EQ(Get("Last", "TreeSelection"), music / "a" + "\r\n");
    EXPECT_EQ(Get("Session", "PlaceTo"), "0");
}

TEST_F(WizardTest, StoredPlacementIsRestoredButKeptOnScreen) {
    Set("SizeAndPos", "MainForm", "400,600,100,50,0,");
    auto form = NewForm();
    EXPECT_EQ(form->size(), QSize(600, 400));
    EXPECT_EQ(form->pos(), QPoint(50, 100));

    Set("SizeAndPos", "MainForm", "370,538,9000,9000,0,");
    auto lost = NewForm();
    EXPECT_EQ(lost->size(), QSize(538, 370));
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().intersects(lost->geometry()));
}

TEST_F(WizardTest, ExitDuringRunStopsTheRunThenSavesOnce) {
    auto form = std::make_unique<TMainForm>(Runner());
    form->OpenDocument = [](const std::string&) {};
    TProgDispatcher dispatcher(form.get());
    EXPECT_EQ(dispatcher.objectName(), "_");
    dispatcher.Start();
    EXPECT_EQ(ProgDispatcher(), &dispatcher);
    Tick(*form, {music.Path()});

    std::vector<std::string> order;
    onReport = [&](int n) {
        if (n == 2) QTimer::singleShot(0, form->CancelButton(), [&] { form->CancelButton()->click(); });
    };
    beforeDatabase = [&] { order.push_back(form->isVisible() ? "database, window open" : "database"); };
    TShellHandlers h;
    h.OnFinish = [&] {
        order.push_back("finish");
        dispatcher.Finish();
    };
    h.OnCloseQuery = [&](QObject* s, bool& c) { dispatcher.CloseQuery(s, c); };
    TAppShell shell(form.get(), h);
    QTimer::singleShot(0, form.get(), [&] {
        form->NextButton()->click();
        form->NextButton()->click();
    });
    shell.Run();
    dispatcher.Finish();  // a second call does nothing
    // Exit stops the run: no database stage, no catalogue.
    EXPECT_EQ(order, (std::vector<std::string>{"finish"}));
    EXPECT_EQ(form->Collection, nullptr);
    EXPECT_NE(Get("SizeAndPos", "MainForm"), "");
    EXPECT_EQ(Get("Session", "Combine"), "3");
    EXPECT_EQ(Get("Last", "TreeSelection"), music.Path() + "\r\n");
    EXPECT_FALSE(FileExists(out / "music.chm"));
}

}  // namespace

namespace {

// The whole road with the program's own build run: the sample collection
// becomes a compiled catalogue at the chosen file name.
TEST(WizardBuildTest, SampleCollectionBecomesCatalogue) {
    TestApp();
    FreshConfig();
    TempDir home, out;
    setenv("HOME", home.Path().c_str(), 1);
    const std::string oldExeDir = ExeDir();
    SetExeDirForTesting(ORVALIS_BINARY_DIR);  // the data archive and steps.txt
    auto oldPresenter = SetMessageBoxPresenter([](const std::string& text, TMessageIcon, TButtonLayout) {
        ADD_FAILURE() << "unexpected message: " << text;
        return mrOk;
    });
    std::vector<std::string> errors;
    auto oldHandler = SetUnhandledErrorHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            errors.push_back(x.what());
        }
    });
    AppConfiger()->WriteString("Session", "PlaceTo", "0");
    AppConfiger()->WriteString("Session", "DBFilename", out / "catalogue.chm");

    {
        TMainForm form(SharedBuildRunner());
        std::vector<std::string> opened;
        form.OpenDocument = [&](const std::string& path) { opened.push_back(path); };
        form.InitWizard();
        form.FolderPage->Paths = {std::string(ORVALIS_SOURCE_DIR) + "/examples/music"};
        form.FolderPage->SetPaths();
        form.NextButton()->click();
        form.OutputPage->OpenAfterCompil()->setChecked(true);
        form.NextButton()->click();

        EXPECT_TRUE(errors.empty()) << errors.front();
        int samples = 0;
        for (const auto& e : std::filesystem::directory_iterator(std::string(ORVALIS_SOURCE_DIR) + "/examples/music"))
            samples += e.is_regular_file() && TAudioInformer::IsAudioFile(e.path().string());
        EXPECT_GT(samples, 0);
        EXPECT_EQ(form.Collection->Count(), samples);
        EXPECT_GT(FileSize32(out / "catalogue.chm"), 0u);
        EXPECT_EQ(LoadTextFile(out / "catalogue.chm").substr(0, 4), "ITSF");
        EXPECT_EQ(opened, (std::vector<std::string>{out / "catalogue.chm"}));
        EXPECT_EQ(form.PageIndex, 0);
        EXPECT_EQ(form.ProgressPage->SortOutProgressBar()->value(), 100);
        EXPECT_EQ(form.ProgressPage->FoundPanel()->text().toStdString(), "   Found: " + std::to_string(samples));
    }
    SetUnhandledErrorHandler(oldHandler);
    SetMessageBoxPresenter(oldPresenter);
    SetExeDirForTesting(oldExeDir);
}

}  // namespace
