#include "app/progress_frame.h"

#include <QApplication>
#include <QEvent>
#include <algorithm>
#include <cmath>

#include "app/pictures.h"
#include "collection/collection.h"
#include "base/language.h"

namespace {

// Design room to the right of the stretching controls.
constexpr int kRightMargin = 5;
constexpr int kBarHeight = 21;

QFont PixelFont(int pixels, bool bold = false) {
    QFont f = QApplication::font();
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void SetUpStepLabel(QLabel& label, const char* name, const char* text) {
    label.setObjectName(QString::fromLatin1(name));
    label.setText(QString::fromLatin1(text));
    label.setFont(PixelFont(12));
}

void SetUpBar(QProgressBar& bar, const char* name) {
    bar.setObjectName(QString::fromLatin1(name));
    bar.setRange(0, 100);
    bar.setValue(0);
    bar.setTextVisible(false);
    // Display only; left enabled so the bar keeps its colours.
    bar.setFocusPolicy(Qt::NoFocus);
    bar.setAttribute(Qt::WA_TransparentForMouseEvents);
    bar.setProperty("anchors", "ltr");
}

int Clamped(int position) { return std::clamp(position, 0, 100); }

void ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

}  // namespace

TProgressFrame::TProgressFrame(QWidget* parent) : QWidget(parent) {
    setObjectName("ProgressFrame");
    resize(428, 177);

    mainPanel_.setObjectName("MainPanel");
    mainPanel_.setFrameShape(QFrame::NoFrame);
    layout_.setContentsMargins(0, 0, 0, 0);
    layout_.addWidget(&mainPanel_);

    SetUpStepLabel(step1Label_, "Step1Label", Translatable("Step 1. Search mp3 files"));

    curImage_.setObjectName("CurImage");
    curImage_.setPixmap(PointerPicture());
    curImage_.setGeometry(12, 28, 20, 20);

    searchLabel_.setObjectName("SearchLabel");
    searchLabel_.setProperty("anchors", "ltr");

    foundPanel_.setObjectName("FoundPanel");
    foundPanel_.setText(QString::fromStdString("   " + Translate("Found") + ": 0"));
    foundPanel_.setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    foundPanel_.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    foundPanel_.setAutoFillBackground(true);
    foundPanel_.setFont(PixelFont(12, true));
    QPalette pal = foundPanel_.palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Highlight));
    foundPanel_.setPalette(pal);
    foundPanel_.setProperty("anchors", "ltr");

    SetUpStepLabel(step2Label_, "Step2Label", Translatable("Step 2. Sorting out information"));
    SetUpBar(sortOutBar_, "SortOutProgressBar");
    SetUpStepLabel(step3Label_, "Step3Label", Translatable("Step 3. Compiling database"));
    SetUpBar(compileBar_, "CompileProgressBar");

    mainPanel_.installEventFilter(this);
    LayOut();
}

QLabel* TProgressFrame::StepLabel(int step) {
    switch (step) {
        case 1: return &step1Label_;
        case 2: return &step2Label_;
        case 3: return &step3Label_;
        default: return nullptr;
    }
}

bool TProgressFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &mainPanel_ && event->type() == QEvent::Resize) LayOut();
    return QWidget::eventFilter(watched, event);
}

// Design positions; the path, the counter and the bars stretch with the page.
void TProgressFrame::LayOut() {
    const int width = std::max(mainPanel_.width(), 428);
    auto stretchTo = [&](QWidget& w, int x, int y, int h) { w.setGeometry(x, y, width - x - kRightMargin, h); };
    const int labelHeight = step1Label_.sizeHint().height();
    stretchTo(step1Label_, 12, 12, labelHeight);
    stretchTo(searchLabel_, 44, 32, searchLabel_.sizeHint().height());
    stretchTo(foundPanel_, 35, 56, kBarHeight);
    stretchTo(step2Label_, 12, 84, labelHeight);
    stretchTo(sortOutBar_, 35, 100, kBarHeight);
    stretchTo(step3Label_, 12, 124, labelHeight);
    stretchTo(compileBar_, 35, 144, kBarHeight);
    ShowSearchPath();
}

void TProgressFrame::ShowSearchPath() {
    const QFontMetrics fm(searchLabel_.font());
    const QString shown = fm.elidedText(searchPath_, Qt::ElideMiddle, searchLabel_.width());
    searchLabel_.setText(shown);
    searchLabel_.setToolTip(shown == searchPath_ ? QString() : searchPath_);
}

void TProgressFrame::SetStep(int step) {
    if (QLabel* label = StepLabel(step)) curImage_.move(curImage_.x(), label->y() + label->height() + 5);
    if (step < 3) sortOutBar_.setValue(0);
    if (step < 2) compileBar_.setValue(0);
}

int TProgressFrame::StagePosition(int stage, int progress, int stageCount, int stageScale) {
    const double position = (stage - 1) * 100.0 / stageCount + progress * 100.0 / stageScale / stageCount;
    // Far outside the bar's range the value only needs to stay outside it.
    return static_cast<int>(std::clamp(std::nearbyint(position), -1000.0, 1000.0));
}

void TProgressFrame::SetStageProgress(int stage, int progress) {
    // Without a count and a scale there is no position to show.
    if (StageCount == 0 || StageScale == 0) return;
    sortOutBar_.setValue(Clamped(StagePosition(stage, progress, StageCount, StageScale)));
    ProcessPendingEvents();
}

void TProgressFrame::ShowFound(const std::string& path, bool& cancel) {
    searchPath_ = QString::fromStdString(path);
    ShowSearchPath();
    const long long count = Collection ? static_cast<long long>(Collection->Count()) : 0;
    std::string text = "   " + Translate("Found") + ": " + std::to_string(count);
    // Files the scan could not open are counted where the user looks.
    if (Collection && !Collection->Problems().empty())
        text += "   " + Translate("($1 could not be read)", Params({std::to_string(Collection->Problems().size())}));
    foundPanel_.setText(QString::fromStdString(text));
    ProcessPendingEvents();
    cancel = Cancelled;
}

bool TProgressFrame::ShowCompileProgress(const std::string&, int percent, const std::string&) {
    compileBar_.setValue(Clamped(percent - 5));
    ProcessPendingEvents();
    return !Cancelled;
}
