#pragma once
// The wizard's main window: three pages (folders, output settings, progress)
// behind Back and Next, and the build run that Start sets off.
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/build_runner.h"

class TCheckboxDriveTree;
class TMP3Collection;
class TProgressFrame;
class TTuner;

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(TBuildRunner buildRunner, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The pages in order: folders, output settings, progress.
    std::vector<std::unique_ptr<QWidget>> Pages;
    int PageIndex = 0;
    TCheckboxDriveTree* FolderPage = nullptr;
    TTuner* OutputPage = nullptr;
    TProgressFrame* ProgressPage = nullptr;
    std::unique_ptr<TMP3Collection> Collection;
    std::string StepTexts;
    int LastStage = 0;

    // Opens the finished database; failures are of no concern to the wizard.
    std::function<void(const std::string& path)> OpenDocument;
    // Tells where a finished catalogue is; the program shows a dialog with
    // buttons to open it and to show its folder. Unset: nothing is shown.
    std::function<void(const std::string& path)> ShowFinished;

    // Loads the step texts and the session, creates the pages, shows page 0.
    void InitWizard();
    // Step text and buttons for PageIndex; on the progress page, the build run.
    void UpdatePage();
    void NextButtonClick();
    void BackButtonClick();
    void CancelButtonClick();
    void RunSearchStage();
    void RunDatabaseStage();
    void ReturnToFirstPage();
    // The page generator's report: stage 2..5 with pages written, 0 when compiling begins.
    void StageChanged(int stage, int progress);
    // Stores the session settings and frees the collection.
    void SaveSession();

    // What the user is told when a run ends without a database.
    static std::string NoDatabaseMessage(const TDatabaseResult& result);

    QPlainTextEdit* SteptextMemo() { return &steptextMemo_; }
    QLabel* Image1() { return &image1_; }
    QFrame* panProperties() { return &panProperties_; }
    QPushButton* BackButton() { return &backButton_; }
    QPushButton* NextButton() { return &nextButton_; }
    QPushButton* CancelButton() { return &cancelButton_; }

private:
    void ShowPage(int index);

    TBuildRunner buildRunner_;
    TDestination destination_;  // resolved when a run starts

    // Parents come before their children: members are destroyed in reverse.
    QVBoxLayout formLayout_{this};
    QFrame mainPanel_{this};
    QVBoxLayout mainLayout_{&mainPanel_};
    QFrame topPanel_{&mainPanel_};
    QHBoxLayout topLayout_{&topPanel_};
    QPlainTextEdit steptextMemo_{&topPanel_};
    QLabel image1_{&topPanel_};
    QFrame topLine_{&mainPanel_};
    QFrame workPanel_{&mainPanel_};
    QVBoxLayout workLayout_{&workPanel_};
    QFrame panProperties_{&workPanel_};
    QVBoxLayout pagesLayout_{&panProperties_};
    QFrame bottomLine_{&mainPanel_};
    QFrame bottomPanel_{&mainPanel_};
    QHBoxLayout bottomLayout_{&bottomPanel_};
    QPushButton backButton_{&bottomPanel_};
    QPushButton nextButton_{&bottomPanel_};
    QPushButton cancelButton_{&bottomPanel_};
};
