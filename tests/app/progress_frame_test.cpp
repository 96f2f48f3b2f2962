// The progress page: bar positions, the step pointer, and the found report.
#include <gtest/gtest.h>

#include "app/progress_frame.h"
#include "app_test_util.h"
#include "collection/collection.h"
#include "base/shared_functions.h"
#include "test_util.h"

namespace {

class ProgressFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        FreshConfig();
        frame.resize(530, 224);
        frame.show();
    }
    int PointerTopFor(int step) {
        QLabel* label = frame.StepLabel(step);
        return label->y() + label->height() + 5;
    }
    QApplication& app = TestApp();  // before any widget
    TProgressFrame frame;
};

TEST_F(ProgressFrameTest, StagePositionsRoundHalvesToEven) {
    EXPECT_EQ(TProgressFrame::StagePosition(2, 50, 5, 100), 30);
    EXPECT_EQ(TProgressFrame::StagePosition(5, 100, 5, 100), 100);
    EXPECT_EQ(TProgressFrame::StagePosition(1, 4, 8, 100), 0);   // 0.5
    EXPECT_EQ(TProgressFrame::StagePosition(1, 12, 8, 100), 2);  // 1.5
    EXPECT_EQ(TProgressFrame::StagePosition(2, 0, 8, 100), 12);  // 12.5
    EXPECT_EQ(TProgressFrame::StagePosition(4, 0, 8, 100), 38);  // 37.5
    EXPECT_EQ(TProgressFrame::StagePosition(7, 100, 5, 100), 140);
}

TEST_F(ProgressFrameTest, BarsShowOutOfRangePositionsClamped) {
    frame.SetStageCount(5);
    frame.SetStageScale(100);
    frame.SetStageProgress(2, 50);
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 30);
    frame.SetStageProgress(7, 100);
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 100);
    frame.SetStageProgress(0, 0);
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 0);

    EXPECT_TRUE(frame.ShowCompileProgress("Compiling", 5, ""));
    EXPECT_EQ(frame.CompileProgressBar()->value(), 0);
    frame.ShowCompileProgress("", 100, "");
    EXPECT_EQ(frame.CompileProgressBar()->value(), 95);
    frame.ShowCompileProgress("", 0, "");
    EXPECT_EQ(frame.CompileProgressBar()->value(), 0);
}

TEST_F(ProgressFrameTest, StageProgressWithoutCountOrScaleIsIgnored) {
    frame.SetStageProgress(2, 50);  // must not divide by zero
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 0);
    frame.SetStageCount(5);
    frame.SetStageProgress(2, 50);
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 0);
}

TEST_F(ProgressFrameTest, StepMovesPointerAndEmptiesLaterBars) {
    frame.SetStageCount(5);
    frame.SetStageScale(100);
    auto fill = [&] {
        frame.SetStageProgress(3, 0);
        frame.ShowCompileProgress("", 55, "");
    };
    fill();
    frame.SetStep(3);
    EXPECT_EQ(frame.CurImage()->y(), PointerTopFor(3));
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 40);
    EXPECT_EQ(frame.CompileProgressBar()->value(), 50);
    frame.SetStep(2);
    EXPECT_EQ(frame.CurImage()->y(), PointerTopFor(2));
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 0);
    EXPECT_EQ(frame.CompileProgressBar()->value(), 50);
    fill();
    frame.SetStep(1);
    EXPECT_EQ(frame.CurImage()->y(), PointerTopFor(1));
    EXPECT_EQ(frame.SortOutProgressBar()->value(), 0);
    EXPECT_EQ(frame.CompileProgressBar()->value(), 0);
    frame.SetStep(4);  // no such step: the pointer stays
    EXPECT_EQ(frame.CurImage()->y(), PointerTopFor(1));
    // The pointer sits below its label and above the next one.
    EXPECT_LT(PointerTopFor(1), frame.FoundPanel()->y());
    EXPECT_LT(PointerTopFor(2) + 20, frame.StepLabel(3)->y() + 5);
}

TEST_F(ProgressFrameTest, FoundReportShowsPathCountAndHandsBackCancel) {
    TempDir dir;
    TMP3Collection collection;
    frame.Collection = &collection;
    EXPECT_EQ(frame.FoundPanel()->text(), "   Found: 0");
    bool cancel = true;
    frame.ShowFound("/music/a", cancel);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(frame.SearchLabel()->text(), "/music/a");
    EXPECT_EQ(frame.FoundPanel()->text(), "   Found: 0");

    // A language table renames the counter.
    const std::string lng = dir.Write("de.lng", "[Messages]\n" + HexEncode(Md5Digest("Found")) + "=Gefunden\n");
    SetAppLanguage(std::make_unique<TLanguage>(lng));
    frame.Cancelled = true;
    const std::string longPath = "/music/" + std::string(300, 'x') + "/end.mp3";
    frame.ShowFound(longPath, cancel);
    EXPECT_TRUE(cancel);
    EXPECT_EQ(frame.FoundPanel()->text(), "   Gefunden: 0");
    // A long path is shortened to fit but kept whole.
    EXPECT_EQ(frame.SearchPath().toStdString(), longPath);
    EXPECT_LE(frame.SearchLabel()->fontMetrics().horizontalAdvance(frame.SearchLabel()->text()),
              frame.SearchLabel()->width());
    SetAppLanguage(nullptr);
}

TEST_F(ProgressFrameTest, ControlsStretchWithThePage) {
    frame.resize(800, 224);
    QApplication::processEvents();
    const int right = frame.SortOutProgressBar()->geometry().right();
    EXPECT_GT(right, 700);
    EXPECT_EQ(frame.CompileProgressBar()->geometry().right(), right);
    EXPECT_EQ(frame.FoundPanel()->geometry().right(), right);
    EXPECT_EQ(frame.SortOutProgressBar()->x(), frame.FoundPanel()->x()) << "left edges stay lined up";
}

}  // namespace
