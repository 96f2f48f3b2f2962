#pragma once
// The third wizard page: a run shown as three steps (search, sorting out,
// compiling) with a pointer at the current step, the path being visited, the
// number of audio files found and two progress bars. Its report operations
// process pending events, which keeps the window responsive during a run.
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>
#include <string>

class TMP3Collection;

class TProgressFrame : public QWidget {
    Q_OBJECT
public:
    explicit TProgressFrame(QWidget* parent = nullptr);

    // The wizard's collection, whose count the found report shows; not owned.
    TMP3Collection* Collection = nullptr;
    // The run's cancel request: cleared when a run starts, set by Cancel.
    bool Cancelled = false;
    int StageCount = 0;  // equal parts of the sorting bar
    int StageScale = 0;  // progress that fills one part

    // Moves the pointer to step 1, 2 or 3 and empties the bars of later steps.
    void SetStep(int step);
    void SetStageCount(int count) { StageCount = count; }
    void SetStageScale(int scale) { StageScale = scale; }
    // Positions the sorting bar for the progress within a stage.
    void SetStageProgress(int stage, int progress);
    // The scan's progress report: shows the path and the count, lets pending
    // events run, and hands back the cancel request.
    void ShowFound(const std::string& path, bool& cancel);
    // The compiler's progress report; always asks to go on.
    bool ShowCompileProgress(const std::string& status, int percent, const std::string& line);

    // The sorting bar position for a stage report, rounded half to even.
    static int StagePosition(int stage, int progress, int stageCount, int stageScale);

    QFrame* MainPanel() { return &mainPanel_; }
    QLabel* SearchLabel() { return &searchLabel_; }
    QLabel* FoundPanel() { return &foundPanel_; }
    QLabel* CurImage() { return &curImage_; }
    QLabel* StepLabel(int step);
    QProgressBar* SortOutProgressBar() { return &sortOutBar_; }
    QProgressBar* CompileProgressBar() { return &compileBar_; }
    // The full path last shown (the label may show it shortened).
    const QString& SearchPath() const { return searchPath_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LayOut();
    void ShowSearchPath();

    // Parents come before their children: members are destroyed in reverse.
    QVBoxLayout layout_{this};
    QFrame mainPanel_{this};
    QLabel step1Label_{&mainPanel_};
    QLabel curImage_{&mainPanel_};
    QLabel searchLabel_{&mainPanel_};
    QLabel foundPanel_{&mainPanel_};
    QLabel step2Label_{&mainPanel_};
    QProgressBar sortOutBar_{&mainPanel_};
    QLabel step3Label_{&mainPanel_};
    QProgressBar compileBar_{&mainPanel_};
    QString searchPath_;
};
