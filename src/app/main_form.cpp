#include "app/main_form.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <algorithm>

#include "app/about_form.h"
#include "app/error_boundary.h"
#include "app/folder_page.h"
#include "app/output_page.h"
#include "app/pictures.h"
#include "app/progress_frame.h"
#include "app/widget_placement.h"
#include "base/exe_dir.h"
#include "base/interrupt.h"
#include "base/language.h"
#include "base/shared_functions.h"
#include "collection/collection.h"
#include "run/build_run.h"
#include "services/configer.h"
#include "services/message_box.h"
#include "widgets/translate_form.h"

namespace {

constexpr const char* kStepMarker = "-------";
constexpr int kProgressPageIndex = 2;
// How many of the compiler's last lines a failure message shows.
constexpr std::size_t kReportedCompilerLines = 12;

TConfiger& Config() {
    TConfiger* c = AppConfiger();
    if (!c) throw Exception("No configuration is open");
    return *c;
}

// A placement stored on a screen that is gone would leave the window where
// nobody can reach it; bring such a window back onto the primary screen.
void KeepOnScreen(QWidget& window) {
    const QRect frame(window.pos(), window.size());
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(frame)) return;
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        const QRect area = primary->availableGeometry();
        window.move(area.x() + std::max(0, (area.width() - frame.width()) / 2),
                    area.y() + std::max(0, (area.height() - frame.height()) / 2));
    }
}

void OpenWithDesktop(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

QString Tr(const char* text) { return QString::fromStdString(Translate(text)); }

void SetUpButton(QPushButton& button, const char* name, const char* caption) {
    button.setObjectName(QString::fromLatin1(name));
    button.setText(QString::fromLatin1(caption));
    button.setFixedSize(75, 25);
}

}  // namespace

TMainForm::TMainForm(TBuildRunner buildRunner, QWidget* parent)
    : QWidget(parent), buildRunner_(std::move(buildRunner)) {
    setObjectName("MainForm");
    OpenDocument = &OpenWithDesktop;

    formLayout_.setContentsMargins(0, 0, 0, 0);
    formLayout_.addWidget(&mainPanel_);
    mainPanel_.setObjectName("MainPanel");
    mainPanel_.setMinimumWidth(530);
    mainLayout_.setContentsMargins(0, 0, 0, 0);
    mainLayout_.setSpacing(0);

    // Top band, white: the step text, and the banner at the right.
    topPanel_.setObjectName("TopPanel");
    topPanel_.setFixedHeight(97);
    topPanel_.setAutoFillBackground(true);
    QPalette white = topPanel_.palette();
    white.setColor(QPalette::Window, Qt::white);
    topPanel_.setPalette(white);
    topLayout_.setContentsMargins(4, 1, 0, 1);
    topLayout_.setSpacing(2);
    steptextMemo_.setObjectName("SteptextMemo");
    steptextMemo_.setReadOnly(true);
    steptextMemo_.setFocusPolicy(Qt::NoFocus);
    steptextMemo_.setFixedHeight(89);
    steptextMemo_.setMinimumWidth(200);
    steptextMemo_.setTextInteractionFlags(Qt::NoTextInteraction);
    QFont memoFont(QStringLiteral("Verdana"));
    memoFont.setPixelSize(11);
    memoFont.setBold(true);
    steptextMemo_.setFont(memoFont);
    QPalette tip = steptextMemo_.palette();
    tip.setColor(QPalette::Base, tip.color(QPalette::ToolTipBase));
    tip.setColor(QPalette::Text, tip.color(QPalette::ToolTipText));
    steptextMemo_.setPalette(tip);
    image1_.setObjectName("Image1");
    image1_.setFixedSize(150, 95);
    image1_.setPixmap(BannerPicture());
    topLayout_.addWidget(&steptextMemo_, 1, Qt::AlignVCenter);
    topLayout_.addWidget(&image1_, 0, Qt::AlignTop | Qt::AlignRight);
    mainLayout_.addWidget(&topPanel_);

    topLine_.setFrameShape(QFrame::HLine);
    topLine_.setFrameShadow(QFrame::Sunken);
    mainLayout_.addWidget(&topLine_);

    // The pages fill the room between the bands.
    workPanel_.setObjectName("WorkPanel");
    workLayout_.setContentsMargins(0, 0, 0, 0);
    workLayout_.addWidget(&panProperties_);
    panProperties_.setObjectName("panProperties");
    panProperties_.setFrameShape(QFrame::NoFrame);
    pagesLayout_.setContentsMargins(0, 0, 0, 0);
    mainLayout_.addWidget(&workPanel_, 1);

    bottomLine_.setFrameShape(QFrame::HLine);
    bottomLine_.setFrameShadow(QFrame::Sunken);
    mainLayout_.addWidget(&bottomLine_);

    // Bottom band: Back and Next side by side, Exit apart, all at the right.
    bottomPanel_.setObjectName("BottomPanel");
    bottomPanel_.setFixedHeight(49);
    SetUpButton(backButton_, "BackButton", Translatable("< &Back"));
    SetUpButton(nextButton_, "NextButton", Translatable("&Next >"));
    SetUpButton(cancelButton_, "CancelButton", Translatable("&Exit"));
    backButton_.setEnabled(false);
    bottomLayout_.setContentsMargins(0, 12, 10, 12);
    bottomLayout_.setSpacing(0);
    bottomLayout_.addStretch(1);
    bottomLayout_.addWidget(&backButton_, 0, Qt::AlignTop);
    bottomLayout_.addSpacing(5);
    bottomLayout_.addWidget(&nextButton_, 0, Qt::AlignTop);
    bottomLayout_.addSpacing(41);
    bottomLayout_.addWidget(&cancelButton_, 0, Qt::AlignTop);
    mainLayout_.addWidget(&bottomPanel_);

    connect(&backButton_, &QPushButton::clicked, this, [this] { Guarded([this] { BackButtonClick(); }); });
    connect(&nextButton_, &QPushButton::clicked, this, [this] { Guarded([this] { NextButtonClick(); }); });
    connect(&cancelButton_, &QPushButton::clicked, this, [this] { Guarded([this] { CancelButtonClick(); }); });

    // The designed size is the least it takes; it may grow, the pages with it.
    setMinimumSize(538, 370);
    resize(538, 370);
    move(262, 170);
}

TMainForm::~TMainForm() {
    // The pages go before the panel that holds them.
    FolderPage = nullptr;
    OutputPage = nullptr;
    ProgressPage = nullptr;
    Pages.clear();
}

void TMainForm::InitWizard() {
    StepTexts = LoadTextFile(JoinPath(ExeDir(), "steps.txt"));
    TranslateForm(this);
    setWindowTitle(QCoreApplication::applicationName());
    RestorePlacement(this, "MainForm");
    KeepOnScreen(*this);

    TConfiger& cfg = Config();
    Collection = std::make_unique<TMP3Collection>();
    Collection->SetArtistBound(StrToIntDef(cfg.ReadString("Session", "ArtistBound"), 90));
    Collection->SetTitleBound(StrToIntDef(cfg.ReadString("Session", "TitleBound"), 85));
    Collection->SetCombine(StrToIntDef(cfg.ReadString("Session", "Combine"), 3));

    auto folders = std::make_unique<TCheckboxDriveTree>(&panProperties_);
    auto output = std::make_unique<TTuner>(&panProperties_);
    auto progress = std::make_unique<TProgressFrame>(&panProperties_);
    progress->Collection = Collection.get();
    FolderPage = folders.get();
    Pages.push_back(std::move(folders));
    Pages.push_back(std::move(output));
    Pages.push_back(std::move(progress));
    for (auto& page : Pages) {
        // The pages are made after the window was translated.
        TranslateForm(page.get());
        pagesLayout_.addWidget(page.get());
        page->hide();
    }

    FolderPage->SetPathsText(cfg.ReadString("Last", "TreeSelection"));
    FolderPage->SetPaths();

    OutputPage = static_cast<TTuner*>(Pages[1].get());
    ProgressPage = static_cast<TProgressFrame*>(Pages[2].get());
    PageIndex = 0;
    UpdatePage();
    Pages[0]->show();

    FinishSplash();
    show();
}

void TMainForm::ShowPage(int index) {
    if (index >= 0 && index < static_cast<int>(Pages.size())) Pages[static_cast<std::size_t>(index)]->show();
}

void TMainForm::UpdatePage() {
    std::string text = TranslateLines(Trim(ExtractSection(StepTexts, kStepMarker, PageIndex + 1)));
    ReplaceAll(text, "\r\n", "\n", true);
    steptextMemo_.setPlainText(QString::fromStdString(text));
    nextButton_.setText(PageIndex == 1 ? Tr("Start") : Tr("Next >"));

    if (PageIndex == kProgressPageIndex && ProgressPage) {
        ProgressPage->Cancelled = false;
        nextButton_.setText(Tr("Cancel"));
        backButton_.setEnabled(false);
        ProgressPage->SetStep(1);
        RunSearchStage();
        if (!ProgressPage->Cancelled) {
            ProgressPage->SetStep(2);
            RunDatabaseStage();
        }
        // A cancel during the database stage finds the wizard on page 0 already.
        if (ProgressPage->Cancelled && PageIndex == kProgressPageIndex) BackButtonClick();
    }

    nextButton_.setEnabled(PageIndex != static_cast<int>(Pages.size()) - 1);
    backButton_.setEnabled(PageIndex != 0);
}

void TMainForm::NextButtonClick() {
    if (nextButton_.text() == Tr("Cancel")) {
        if (ProgressPage) ProgressPage->Cancelled = true;
        return;
    }
    if (PageIndex + 1 >= static_cast<int>(Pages.size())) return;
    Pages[static_cast<std::size_t>(PageIndex)]->hide();
    ++PageIndex;
    ShowPage(PageIndex);
    backButton_.setEnabled(true);
    UpdatePage();
}

void TMainForm::BackButtonClick() {
    if (PageIndex <= 0 || PageIndex >= static_cast<int>(Pages.size())) return;
    Pages[static_cast<std::size_t>(PageIndex)]->hide();
    --PageIndex;
    ShowPage(PageIndex);
    nextButton_.setEnabled(true);
    UpdatePage();
}

void TMainForm::CancelButtonClick() {
    // Exit during a run stops the run first; it unwinds before the window goes.
    if (PageIndex == kProgressPageIndex && ProgressPage && nextButton_.text() == Tr("Cancel"))
        ProgressPage->Cancelled = true;
    close();
}

void TMainForm::RunSearchStage() {
    Collection->Clear();
    // Decided before the scan: a folder or an unwritable folder at the
    // destination is refused before any work is done, and the question
    // names the file the run will replace.
    OutputPage->StoreSettings();
    FolderPage->GetResolvedPaths();
    destination_ = OutputPage->Destination(FolderPage->Paths);
    std::string problem = buildRunner_.Check ? buildRunner_.Check() : std::string();
    if (problem.empty() &&
        (destination_.State == TDestinationState::Refused || destination_.State == TDestinationState::Unwritable))
        problem = destination_.Problem;
    if (!problem.empty()) {
        ShowMessageBox(problem, mtError, mbOK);
        ProgressPage->Cancelled = true;
        return;
    }
    if (destination_.State == TDestinationState::ExistingFile &&
        ShowMessageBox(OutputKindRowOf(OutputPage->OutputKind()).OverwriteQuestion(destination_.Path), mtConfirmation,
                       mbYes | mbNo) != mrYes)
        return;
    // Qt paints every widget through a backing store, so the progress page's
    // frequent updates are double-buffered without anything to switch on.
    TProgressFrame* progress = ProgressPage;
    const TOutputKindRow& kind = OutputKindRowOf(OutputPage->OutputKind());
    TMP3Collection* collection = Collection.get();
    buildRunner_.Search(*Collection, FolderPage->Paths,
                        [progress, &kind, collection](const std::string& path, bool& cancel) {
                            kind.Prepare(collection->Count());
                            progress->ShowFound(path, cancel);
                        });
}

std::string TMainForm::NoDatabaseMessage(const TDatabaseResult& result) {
    std::string text = result.Message.empty() ? Translate("The database was not created.") : result.Message;
    const auto& lines = result.CompilerLines;
    if (!lines.empty()) {
        text += "\n\n" + Translate("The compiler's last messages:") + "\n";
        const std::size_t first = lines.size() > kReportedCompilerLines ? lines.size() - kReportedCompilerLines : 0;
        for (std::size_t i = first; i < lines.size(); ++i) text += "\n" + lines[i];
    }
    return text;
}

void TMainForm::RunDatabaseStage() {
    if (Collection->Count() <= 0) return;

    TDatabaseRequest request;
    request.Output = OutputPage->OutputKind();
    request.TargetPath = destination_.Path;

    LastStage = 0;
    ProgressPage->SetStageCount(5);
    TProgressFrame* progress = ProgressPage;
    request.OnStage = [this, progress](const TPageProgress& pages) {
        // The wizard's stages: the scan is 1, the page steps 2 on, 0 once all pages are written.
        StageChanged(pages.Step >= pages.Steps ? 0 : pages.Step + 2, static_cast<int>(pages.Done));
        if (progress->Cancelled) throw ERunCancelled(Translate("The run was cancelled."));
    };
    request.OnCompileProgress = [progress](const std::string& status, int percent, const std::string& line) {
        return progress->ShowCompileProgress(status, percent, line);
    };
    // Loops that show no stage (finding covers) run while the window cannot
    // take a click; a stop signal still ends them.
    request.CheckStop = [] {
        if (InterruptRequested()) throw ERunCancelled("stopped by a signal");
    };

    TDatabaseResult result;
    try {
        result = buildRunner_.Database(*Collection, request);
    } catch (const ERunCancelled&) {
        ProgressPage->Cancelled = true;
    }
    if (ProgressPage->Cancelled) {
        // Stopped on request: the old catalogue stands, and the user is told so.
        if (isVisible()) ShowMessageBox(Translate("The run was cancelled. Nothing was changed."), mtInformation, mbOK);
        ReturnToFirstPage();
        return;
    }
    if (!result.Done) {
        // Nothing was placed: say why, and stay on the progress page.
        ShowMessageBox(NoDatabaseMessage(result), mtError, mbOK);
        return;
    }
    // A site opens at its start page; "Show in folder" then shows the site folder.
    const std::string opened = OutputKindRowOf(request.Output).StartPage(result.DatabasePath);
    if (OutputPage->OpenAfterCompil()->isChecked() && OpenDocument) OpenDocument(opened);
    ReturnToFirstPage();
    if (ShowFinished) ShowFinished(opened);
}

void TMainForm::ReturnToFirstPage() {
    if (PageIndex >= 0 && PageIndex < static_cast<int>(Pages.size()))
        Pages[static_cast<std::size_t>(PageIndex)]->hide();
    PageIndex = 0;
    ShowPage(0);
    UpdatePage();
}

void TMainForm::StageChanged(int stage, int progress) {
    if (stage != LastStage) ProgressPage->SetStageScale(100);
    if (stage == 0) {
        ProgressPage->SetStageProgress(LastStage + 2, 100);
        ProgressPage->SetStep(3);
    }
    LastStage = stage;
    if (stage != 0) ProgressPage->SetStageProgress(stage, progress);
}

void TMainForm::SaveSession() {
    TConfiger& cfg = Config();
    if (OutputPage) OutputPage->StoreSettings();
    if (FolderPage) {
        FolderPage->GetResolvedPaths();
        cfg.WriteString("Last", "TreeSelection", FolderPage->PathsText());
    }
    if (Collection) {
        cfg.WriteString("Session", "ArtistBound", std::to_string(Collection->ArtistBound()));
        cfg.WriteString("Session", "TitleBound", std::to_string(Collection->TitleBound()));
        cfg.WriteString("Session", "Combine", std::to_string(static_cast<int>(Collection->Combine())));
    }
    if (ProgressPage) ProgressPage->Collection = nullptr;
    Collection.reset();
}
