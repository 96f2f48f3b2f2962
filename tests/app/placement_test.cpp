// Window placement: the stored value format and how restoring applies it,
// on stand-in controls and on real widgets.
#include <gtest/gtest.h>

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include "app/widget_placement.h"
#include "app_test_util.h"
#include "services/placement.h"

namespace {

// A control whose properties the test sets directly.
struct FakeControl : TPlacementControl {
    std::string name = "Ctl";
    bool topLevel = false;
    TAlign align = TAlign::None;
    TAnchors anchors;
    bool visible = true;
    int height = 10, width = 20, top = 30, left = 40;
    TWindowState state = TWindowState::Normal;
    std::vector<FakeControl*> children;
    std::vector<std::string>* log = nullptr;

    std::string Name() const override { return name; }
    bool IsTopLevel() const override { return topLevel; }
    TAlign Align() const override { return align; }
    TAnchors Anchors() const override { return anchors; }
    bool Visible() const override { return visible; }
    int Height() const override { return height; }
    int Width() const override { return width; }
    int Top() const override { return top; }
    int Left() const override { return left; }
    void SetHeight(int v) override { height = v; }
    void SetWidth(int v) override { width = v; }
    void SetTop(int v) override { top = v; }
    void SetLeft(int v) override { left = v; }
    TWindowState WindowState() const override { return state; }
    void SetWindowState(TWindowState s) override {
        state = s;
        if (log) log->push_back(name + " state " + std::to_string(static_cast<int>(s)));
    }
    void PrepareForMeasure() override {}
    void ForEachChild(const std::function<void(TPlacementControl&)>& visit) override {
        for (FakeControl* c : children) visit(*c);
    }
};

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override { FreshConfig(); }
    std::string Stored(const std::string& key) { return AppConfiger()->ReadString("SizeAndPos", key); }
    void Store(const std::string& key, const std::string& value) {
        AppConfiger()->WriteString("SizeAndPos", key, value);
    }
};

TEST_F(PlacementTest, ValueFieldsFollowAlignmentAndAnchors) {
    FakeControl window;
    window.topLevel = true;
    window.height = 370, window.width = 538, window.top = 170, window.left = 262;
    EXPECT_EQ(ComposePlacementValue(window, TWindowState::Normal), "370,538,170,262,0,");
    EXPECT_EQ(ComposePlacementValue(window, TWindowState::Maximized), "370,538,170,262,2,");

    FakeControl c;
    c.align = TAlign::Client;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), ",,,,");
    c.align = TAlign::Top;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), "10,,,,");
    c.align = TAlign::Bottom;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), "10,,,,");
    c.align = TAlign::Left;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), ",20,,,");
    c.align = TAlign::Right;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), ",20,,,");
    // Anchored to the far edges: the size along them follows the parent.
    c.align = TAlign::None;
    c.anchors.Right = true;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), "10,,30,40,");
    c.anchors.Bottom = true;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), ",,30,40,");
    // Aligned to the top but stretched to the bottom: no height either.
    c.align = TAlign::Top;
    EXPECT_EQ(ComposePlacementValue(c, TWindowState::Normal), ",,,,");
}

// Remembers the order of writes and how often the file was written.
struct RecordingStore : TMemIniFile {
    std::vector<std::string>* writes;
    int* saves;
    RecordingStore(std::vector<std::string>* w, int* s) : writes(w), saves(s) {}
    void WriteValue(const std::string& section, const std::string& key, const std::string& value) override {
        writes->push_back(key);
        TMemIniFile::WriteValue(section, key, value);
    }
    void SaveFile() override { ++*saves; }
};

TEST_F(PlacementTest, SaveStoresVisibleNamedChildrenAndWritesFile) {
    std::vector<std::string> writes;
    int saves = 0;
    TConfiger config(std::make_unique<RecordingStore>(&writes, &saves));
    FakeControl window, panel, hidden, unnamed;
    window.name = "MainForm";
    window.topLevel = true;
    panel.name = "Panel";
    panel.align = TAlign::Client;
    hidden.name = "Hidden";
    hidden.visible = false;
    unnamed.name = "";
    window.children = {&panel, &hidden, &unnamed};
    SavePlacement(window, "MainForm", &config);
    EXPECT_EQ(config.ReadString("SizeAndPos", "MainForm"), "10,20,30,40,0,");
    EXPECT_EQ(config.ReadString("SizeAndPos", "MainForm.Panel"), ",,,,");
    // Children are stored before their parent, each written out at once.
    EXPECT_EQ(writes, (std::vector<std::string>{"MainForm.Panel", "MainForm"}));
    EXPECT_EQ(saves, 2);
}

TEST_F(PlacementTest, RestoreAppliesFieldsByRuleAndFallsBackPerField) {
    FakeControl window, anchored, client;
    std::vector<std::string> log;
    window.name = "MainForm";
    window.topLevel = true;
    window.state = TWindowState::Maximized;
    window.log = &log;
    anchored.name = "Btn";
    anchored.anchors.Right = true;
    client.name = "Work";
    client.align = TAlign::Client;
    window.children = {&anchored, &client};

    Store("MainForm", "300,400,x,50,2,");
    Store("MainForm.Btn", "25,75,12,329,");
    Store("MainForm.Work", "1,2,3,4,");
    RestorePlacement(window, "MainForm", AppConfiger());
    // A field that is not a number keeps the current value.
    EXPECT_EQ(window.height, 300);
    EXPECT_EQ(window.width, 400);
    EXPECT_EQ(window.top, 30);
    EXPECT_EQ(window.left, 50);
    // Normal first, so the bounds are the normal ones, then the stored state.
    EXPECT_EQ(log, (std::vector<std::string>{"MainForm state 0", "MainForm state 2"}));
    // Anchored right: the width follows the parent and the left edge stays put.
    EXPECT_EQ(anchored.height, 25);
    EXPECT_EQ(anchored.width, 20);
    EXPECT_EQ(anchored.top, 12);
    EXPECT_EQ(anchored.left, 40);
    // Filling its parent: nothing is applied even when numbers are stored.
    EXPECT_EQ(client.height, 10);
    EXPECT_EQ(client.left, 40);
}

TEST_F(PlacementTest, RestoreWithoutEntryOrWithBadStateLeavesDesign) {
    FakeControl window;
    window.topLevel = true;
    RestorePlacement(window, "MainForm", AppConfiger());
    EXPECT_EQ(window.height, 10);
    EXPECT_EQ(window.left, 40);
    EXPECT_EQ(window.state, TWindowState::Normal);
    Store("MainForm", "1,2,3,4,7,");
    RestorePlacement(window, "MainForm", AppConfiger());
    EXPECT_EQ(window.state, TWindowState::Normal);
    EXPECT_EQ(window.width, 2);
}

TEST_F(PlacementTest, WidgetWindowRoundTripsIncludingMaximised) {
    TestApp();
    QWidget window;
    window.setObjectName("MainForm");
    window.resize(538, 370);
    window.move(262, 170);
    SavePlacement(&window, "MainForm");
    EXPECT_EQ(Stored("MainForm"), "370,538,170,262,0,");

    window.show();
    window.setWindowState(Qt::WindowMaximized);
    QApplication::processEvents();
    SavePlacement(&window, "MainForm");
    EXPECT_EQ(Stored("MainForm"), "370,538,170,262,2,");

    QWidget restored;
    restored.resize(100, 100);
    RestorePlacement(&restored, "MainForm");
    EXPECT_TRUE(restored.windowState() & Qt::WindowMaximized);
    restored.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(restored.size(), QSize(538, 370));
    EXPECT_EQ(restored.pos(), QPoint(262, 170));
}

TEST_F(PlacementTest, WidgetLayoutMapping) {
    TestApp();
    QWidget window;
    window.setObjectName("W");
    QVBoxLayout layout(&window);
    QWidget top(&window), fill(&window), bottom(&window), loose(&window);
    top.setObjectName("Top");
    top.setFixedHeight(97);
    fill.setObjectName("Fill");
    bottom.setObjectName("Bottom");
    bottom.setFixedHeight(49);
    layout.addWidget(&top);
    layout.addWidget(&fill, 1);
    layout.addWidget(&bottom);
    QLabel placed(&fill);
    placed.setObjectName("Placed");
    placed.setGeometry(5, 6, 70, 8);
    placed.setProperty("anchors", "ltr");
    window.resize(300, 300);
    window.move(1, 2);

    SavePlacement(&window, "W");
    EXPECT_EQ(Stored("W.Top"), "97,,,,");
    EXPECT_EQ(Stored("W.Bottom"), "49,,,,");
    EXPECT_EQ(Stored("W.Fill"), ",,,,");
    EXPECT_EQ(Stored("W.Fill.Placed"), "8,,6,5,");

    Store("W.Top", "60,,,,");
    Store("W.Fill.Placed", "9,500,7,200,");
    RestorePlacement(&window, "W");
    EXPECT_EQ(top.maximumHeight(), 60);
    EXPECT_EQ(placed.geometry(), QRect(5, 7, 70, 9));
}

}  // namespace
