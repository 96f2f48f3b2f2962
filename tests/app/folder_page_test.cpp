#include "app/folder_page.h"

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "services/configer.h"
#include "test_util.h"

namespace {

// One application object for every widget test of this program.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "test_folderpage";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(std::make_unique<QtEnvironment>().release());

void MakeFolder(const std::string& path) { ASSERT_TRUE(ForceFolders("", path, false)) << path; }

Qt::CheckState StateOf(const QModelIndex& index) {
    return static_cast<Qt::CheckState>(index.data(Qt::CheckStateRole).toInt());
}

QModelIndex ListRow(TCheckboxDriveTree& page, const std::string& name) {
    QAbstractItemModel* model = page.SysList().model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QModelIndex i = model->index(r, 0);
        if (i.data().toString().toStdString() == name) return i;
    }
    return {};
}

QModelIndex TreeChild(TCheckboxDriveTree& page, const QModelIndex& parent, const std::string& name) {
    QAbstractItemModel* model = page.SysTree().model();
    for (int r = 0; r < model->rowCount(parent); ++r) {
        QModelIndex i = model->index(r, 0, parent);
        if (i.data().toString().toStdString() == name) return i;
    }
    return {};
}

// Clicks an item's check box the way a user does: press and release on it.
void ClickCheckBox(QTreeView& view, const QModelIndex& index) {
    view.scrollTo(index);
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.rect = view.visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                      QStyleOptionViewItem::HasDecoration;
    option.decorationSize = view.iconSize().isValid() ? view.iconSize()
                                                      : QSize(view.style()->pixelMetric(QStyle::PM_SmallIconSize),
                                                              view.style()->pixelMetric(QStyle::PM_SmallIconSize));
    QPoint at = view.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &view).center();
    QPoint global = view.viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &press);
    QApplication::sendEvent(view.viewport(), &release);
}

void PressSpace(QTreeView& view) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(&view, &press);
    QApplication::sendEvent(&view, &release);
}

template <class Condition>
bool WaitFor(Condition done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

class FolderPage : public ::testing::Test {
protected:
    void SetUp() override {
        dir.Write("Music/Rock/a.mp3", "aaaa");
        dir.Write("Music/Rock/c.mp3", "cc");
        dir.Write("Music/Jazz/b.mp3", "b");
        MakeFolder(dir / "Music/Pop");
        dir.Write("Music/cover.jpg", "jpeg");
        MakeFolder(dir / "Other");
        page.resize(820, 420);
    }

    void Open(const std::string& relative) {
        ASSERT_TRUE(page.OpenFolder(relative.empty() ? dir.Path() : dir / relative));
        page.show();
        QApplication::processEvents();
    }

    TempDir dir;
    TCheckboxDriveTree page;
};

TEST_F(FolderPage, TickInListExpandInTreeAndListShowsTickedChildren) {
    Open("");
    QModelIndex musicInList = ListRow(page, "Music");
    ASSERT_TRUE(musicInList.isValid());
    ClickCheckBox(page.SysList(), musicInList);
    EXPECT_EQ(StateOf(ListRow(page, "Music")), Qt::Checked);

    TCheckNode* music = page.Synchronizer().Rules().Locate(dir / "Music", false);
    ASSERT_NE(music, nullptr);
    EXPECT_FALSE(music->Loaded()) << "a tick never lists the folder below it";
    QModelIndex top = page.SysTree().currentIndex();
    EXPECT_EQ(StateOf(top), Qt::PartiallyChecked);
    QModelIndex musicInTree = TreeChild(page, top, "Music");
    EXPECT_EQ(StateOf(musicInTree), Qt::Checked);

    page.GetResolvedPaths();
    EXPECT_EQ(page.Paths, TStringList{dir / "Music"});

    page.SysTree().expand(musicInTree);
    QApplication::processEvents();
    ASSERT_EQ(page.SysTree().model()->rowCount(musicInTree), 3) << "folders only in the tree";
    for (const char* name : {"Jazz", "Pop", "Rock"})
        EXPECT_EQ(StateOf(TreeChild(page, musicInTree, name)), Qt::Checked) << name;

    page.SysTree().setCurrentIndex(musicInTree);
    QApplication::processEvents();
    ASSERT_EQ(page.SysList().model()->rowCount(), 4);
    for (int r = 0; r < 4; ++r) EXPECT_EQ(StateOf(page.SysList().model()->index(r, 0)), Qt::Checked);

    // Untick one file in the list: the folder and the one above turn mixed.
    ClickCheckBox(page.SysList(), ListRow(page, "cover.jpg"));
    EXPECT_EQ(StateOf(musicInTree), Qt::PartiallyChecked);
    EXPECT_EQ(StateOf(top), Qt::PartiallyChecked);
    page.GetResolvedPaths();
    EXPECT_EQ(page.Paths, (TStringList{dir / "Music/Jazz", dir / "Music/Pop", dir / "Music/Rock"}));
}

TEST_F(FolderPage, SpaceInTreeTicksFolderAndTheListFollows) {
    Open("Music");
    QModelIndex music = page.SysTree().currentIndex();
    ASSERT_EQ(music.data().toString(), "Music");
    PressSpace(page.SysTree());
    EXPECT_EQ(StateOf(music), Qt::Checked);
    for (int r = 0; r < page.SysList().model()->rowCount(); ++r)
        EXPECT_EQ(StateOf(page.SysList().model()->index(r, 0)), Qt::Checked);
    PressSpace(page.SysTree());
    EXPECT_EQ(StateOf(ListRow(page, "Rock")), Qt::Unchecked);

    // A tick in the list on an item the tree hides (a file) mixes the folder.
    ClickCheckBox(page.SysList(), ListRow(page, "cover.jpg"));
    EXPECT_EQ(StateOf(music), Qt::PartiallyChecked);
    page.GetResolvedPaths();
    EXPECT_EQ(page.Paths, TStringList{dir / "Music/cover.jpg"});

    // Opening a folder in the list browses into it; a link opens its target.
    emit page.SysList().activated(ListRow(page, "Rock"));
    EXPECT_EQ(page.SysTree().currentIndex().data().toString(), "Rock");
    EXPECT_TRUE(ListRow(page, "a.mp3").isValid());
    ASSERT_EQ(::symlink((dir / "Music/Jazz").c_str(), (dir / "Music/Rock/to-jazz").c_str()), 0);
    page.Synchronizer().Rules().Refresh(page.Synchronizer().ListModel().Folder());
    emit page.SysList().activated(ListRow(page, "to-jazz"));
    EXPECT_EQ(page.SysTree().currentIndex().data(Qt::ToolTipRole).toString().toStdString(), dir / "Music/Jazz");
    EXPECT_TRUE(ListRow(page, "b.mp3").isValid());
}

TEST_F(FolderPage, PathsRoundTripThroughText) {
    Open("");
    page.SetPathsText(dir / "music/rock" + "\r\n" + dir / "Gone" + "\r\n\r\n" + dir / "Music/Jazz" + "\n");
    EXPECT_EQ(page.Paths.size(), 3u);
    page.SetPaths();
    page.GetResolvedPaths();
    EXPECT_EQ(page.PathsText(), dir / "Music/Jazz" + "\r\n" + dir / "Music/Rock" + "\r\n");
    EXPECT_EQ(StateOf(ListRow(page, "Music")), Qt::PartiallyChecked);
}

TEST_F(FolderPage, ListFollowsTheFolderOnDisk) {
    Open("Music");
    ClickCheckBox(page.SysList(), ListRow(page, "Pop"));
    dir.Write("Music/new.mp3", "n");
    ASSERT_TRUE(WaitFor([&] { return ListRow(page, "new.mp3").isValid(); }));
    EXPECT_EQ(StateOf(ListRow(page, "Pop")), Qt::Checked);

    // The folder shown in the list disappears: the list empties, nothing dangles.
    page.OpenFolder(dir / "Music/Pop");
    QApplication::processEvents();
    ASSERT_EQ(::rmdir((dir / "Music/Pop").c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return page.SysList().model()->rowCount() > 0 && !ListRow(page, "Pop").isValid(); }))
        << "the tree moves on and the list shows the new current folder";
    page.GetResolvedPaths();
    EXPECT_TRUE(page.Paths.empty());
}

TEST_F(FolderPage, ListSortsFoldersFirstAndSizesAsNumbers) {
    dir.Write("Music/big.mp3", std::string(1000, 'x'));
    Open("Music");
    page.SysList().sortByColumn(TFolderListModel::SizeColumn, Qt::DescendingOrder);
    QAbstractItemModel* model = page.SysList().model();
    std::vector<std::string> names;
    for (int r = 0; r < model->rowCount(); ++r) names.push_back(model->index(r, 0).data().toString().toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{"Rock", "Pop", "Jazz", "big.mp3", "cover.jpg"}));
    EXPECT_EQ(model->index(0, TFolderListModel::SizeColumn).data().toString(), "");
    EXPECT_EQ(model->index(3, TFolderListModel::SizeColumn).data(Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignRight | Qt::AlignVCenter));
}

TEST_F(FolderPage, OpensAtTheHomeFolderWhenFirstShown) {
    QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(dir / "Music"));
    TCheckboxDriveTree fresh;
    fresh.show();
    QApplication::processEvents();
    qputenv("HOME", oldHome);
    EXPECT_EQ(fresh.SysTree().currentIndex().data(Qt::ToolTipRole).toString().toStdString(), dir / "Music");
    EXPECT_EQ(fresh.SysList().model()->rowCount(), 4);
    EXPECT_TRUE(fresh.SysTree().isExpanded(fresh.SysTree().currentIndex().parent()));
}

TEST(ColumnLayout, KeptInTheConfigurationBetweenRuns) {
    SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
    {
        TCheckboxDriveTree page;
        QHeaderView* header = page.SysList().header();
        header->moveSection(header->visualIndex(TFolderListModel::TypeColumn), 0);
        header->resizeSection(TFolderListModel::NameColumn, 333);
        header->hideSection(TFolderListModel::ModifiedColumn);
        page.SysList().sortByColumn(TFolderListModel::SizeColumn, Qt::DescendingOrder);
    }
    EXPECT_EQ(AppConfiger()->ReadString("SizeAndPos", "CheckboxDriveTree.SysList.Columns"),
              "2:100,0:333,1:70,3:0,;1:1");
    {
        TCheckboxDriveTree page;
        QHeaderView* header = page.SysList().header();
        EXPECT_EQ(header->logicalIndex(0), TFolderListModel::TypeColumn);
        EXPECT_EQ(header->sectionSize(TFolderListModel::NameColumn), 333);
        EXPECT_TRUE(header->isSectionHidden(TFolderListModel::ModifiedColumn));
        EXPECT_EQ(header->sortIndicatorSection(), TFolderListModel::SizeColumn);
        EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    }
    SetAppConfiger(nullptr);
}

TEST(ColumnLayout, DamagedValuesAreIgnored) {
    std::vector<int> order, widths;
    int column = -1, direction = -1;
    for (const char* bad :
         {"", "0:10,1:20", "0:10,0:20,1:5,2:5", "0:10,1:x,2:5,3:5", "0:10,1:20,2:5,9:5", "0:-4,1:20,2:5,3:5"})
        EXPECT_FALSE(ParseColumnLayout(bad, 4, order, widths, column, direction)) << bad;
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(ParseColumnLayout("3:10,2:20,1:30,0:40,;junk", 4, order, widths, column, direction));
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(widths, (std::vector<int>{40, 30, 20, 10}));
    EXPECT_EQ(column, 0);
    EXPECT_EQ(direction, 0);
}

// Renders the page; with ORVALIS_SCREENSHOT set the picture is saved there.
TEST_F(FolderPage, RendersTreeAndListWithCheckBoxes) {
    Open("Music");
    ClickCheckBox(page.SysList(), ListRow(page, "Rock"));
    ClickCheckBox(page.SysList(), ListRow(page, "Jazz"));
    QModelIndex music = page.SysTree().currentIndex();
    page.SysTree().expand(music);
    page.SysTree().scrollTo(TreeChild(page, music, "Rock"), QAbstractItemView::PositionAtBottom);
    QApplication::processEvents();
    QPixmap shot = page.grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), page.size() * shot.devicePixelRatio());
    EXPECT_GE(page.SysTree().width(), 200);
    if (const char* out = std::getenv("ORVALIS_SCREENSHOT")) {
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(out)));
    }
}

}  // namespace
