#pragma once
// The first wizard page: a folder tree and a folder contents list over the
// file system, both with tri-state check boxes kept in step by the check
// rules. The page turns the ticks into a list of paths and back.
#include <QAbstractItemModel>
#include <QFileIconProvider>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHash>
#include <QMimeDatabase>
#include <QProxyStyle>
#include <QSet>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/check_rules.h"

// Icons and type names of items, looked up once per kind.
class TItemLook {
public:
    QIcon Icon(const TCheckNode* node);
    QString TypeName(const TCheckNode* node);

private:
    QFileIconProvider provider_;
    QMimeDatabase mimes_;
    QHash<QString, QIcon> icons_;
};

// The tree pane's model: "/" as the single top item and the folders below it.
class TFolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    TFolderTreeModel(TCheckRules& rules, TItemLook& look, QObject* parent = nullptr);

    // Files are kept out of the tree unless this is switched off.
    void SetHideFiles(bool hide) { hideFiles_ = hide; }
    bool HideFiles() const { return hideFiles_; }

    QModelIndex IndexOf(const TCheckNode* node) const;
    TCheckNode* NodeOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Followed from the check rules.
    void BeginInsert(TCheckNode* parent, int first, int last, bool folders);
    void EndInsert();
    void BeginRemove(TCheckNode* parent, int index);
    void EndRemove();
    void StatesChanged(const std::vector<TCheckNode*>& nodes);

private:
    bool Shown(const TCheckNode* node) const { return !hideFiles_ || node->IsFolder(); }
    int ShownCount(const TCheckNode* node) const;

    TCheckRules& rules_;
    TItemLook& look_;
    bool hideFiles_ = true;
    std::vector<bool> open_;  // whether each pending Begin started a row change
};

// The list pane's model: the contents of one folder in four columns.
class TFolderListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { NameColumn, SizeColumn, TypeColumn, ModifiedColumn, ColumnCount };

    TFolderListModel(TCheckRules& rules, TItemLook& look, QObject* parent = nullptr);

    // Shows the children of folder (listing it first when needed); null clears.
    void SetFolder(TCheckNode* folder);
    TCheckNode* Folder() const { return folder_; }
    TCheckNode* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const TCheckNode* node, int column = NameColumn) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    // Followed from the check rules.
    void Inserted(TCheckNode* parent, int first, int last);
    void Removing(TCheckNode* parent, int index);
    void Refreshed(TCheckNode* parent);
    void StatesChanged(const std::vector<TCheckNode*>& nodes);

private:
    struct Row {
        explicit Row(TCheckNode* n) : node(n) {}
        TCheckNode* node;
        mutable QString type;  // looked up on first use
        mutable bool typed = false;
    };
    bool RowLess(const Row& a, const Row& b) const;
    void Resort();
    const QString& TypeOf(const Row& row) const;

    TCheckRules& rules_;
    TItemLook& look_;
    TCheckNode* folder_ = nullptr;
    std::vector<Row> rows_;
    int sortColumn_ = NameColumn;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

// Keeps the check boxes of the tree and the list in step: binds the check
// rules to both panes and follows folder changes on disk.
class TVirtualCheckboxesSynchronizer : public QObject, public TCheckRulesObserver {
    Q_OBJECT
public:
    explicit TVirtualCheckboxesSynchronizer(QObject* parent = nullptr);
    ~TVirtualCheckboxesSynchronizer() override;

    // Both options take effect when the panes are bound.
    bool HideTreeFiles = true;    // the tree shows folders only
    bool AutoSetupEvents = true;  // follow the panes' expand, choose and open signals

    void Bind(QTreeView* tree, QTreeView* list);

    TCheckRules& Rules() { return rules_; }
    TFolderTreeModel& TreeModel() { return treeModel_; }
    TFolderListModel& ListModel() { return listModel_; }

    // Expands the tree down to folder, makes it the current tree item and
    // shows it in the list. False when the node is not a folder that opens.
    bool Browse(TCheckNode* folder);

public slots:
    void TreeExpanded(const QModelIndex& index);
    void TreeCurrentChanged(const QModelIndex& current);
    void ListActivated(const QModelIndex& index);
    // Lists again the loaded folders that changed on disk.
    void RefreshChanged();

private:
    void BeginInsertChildren(TCheckNode* parent, int first, int last, bool folders) override;
    void EndInsertChildren(TCheckNode* parent) override;
    void BeginRemoveChild(TCheckNode* parent, int index) override;
    void EndRemoveChild(TCheckNode* parent) override;
    void ChildrenRefreshed(TCheckNode* parent) override;
    void StatesChanged(const std::vector<TCheckNode*>& nodes) override;
    void Watch(const TCheckNode* folder);
    void FolderChanged(const QString& path);

    TCheckRules rules_;
    TItemLook look_;
    TFolderTreeModel treeModel_;
    TFolderListModel listModel_;
    QTreeView* tree_ = nullptr;
    QTreeView* list_ = nullptr;
    QFileSystemWatcher watcher_;
    QSet<QString> changed_;
    QTimer refreshTimer_;
    struct Pending {
        TCheckNode* parent;
        int first, last;
    };
    std::vector<Pending> inserts_;
    int changing_ = 0;  // structural changes under way: views must not reload now
};

// Draws the tree's expand buttons with connecting lines, whatever the
// application style; everything else is left to that style.
class TTreeLineStyle : public QProxyStyle {
public:
    TTreeLineStyle();
    ~TTreeLineStyle() override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

private:
    std::unique_ptr<QStyle> lines_;
};

class TCheckboxDriveTree : public QWidget {
    Q_OBJECT
public:
    explicit TCheckboxDriveTree(QWidget* parent = nullptr);
    ~TCheckboxDriveTree() override;

    // Exchange area of SetPaths and GetResolvedPaths, one path per entry.
    TStringList Paths;
    // Paths as one text, each path on a line of its own ended by CR LF.
    std::string PathsText() const;
    void SetPathsText(std::string_view text);

    // Clears every tick and ticks the items named in Paths that still exist.
    void SetPaths();
    // Replaces Paths with the minimal list of ticked paths.
    void GetResolvedPaths();

    QTreeView& SysTree() { return sysTree_; }
    QTreeView& SysList() { return sysList_; }
    TVirtualCheckboxesSynchronizer& Synchronizer() { return synchronizer_; }

    // Opens the tree at the folder (letter case may differ) and lists it.
    bool OpenFolder(const std::string& path);

    // The list's column order, widths and sorting, kept in the configuration.
    void SaveColumnLayout();
    void RestoreColumnLayout();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowColumnMenu(const QPoint& at);

    TTreeLineStyle treeStyle_;
    QHBoxLayout layout_;
    QSplitter splitter_;
    QTreeView sysTree_;
    QTreeView sysList_;
    TVirtualCheckboxesSynchronizer synchronizer_;
    bool shown_ = false;
};

// Column layout as stored: "logical:width," for each column in screen order,
// then "sort column:order" (0 ascending, 1 descending).
std::string FormatColumnLayout(const std::vector<int>& order, const std::vector<int>& widths, int sortColumn,
                               int sortOrder);
// False (and nothing filled) unless text holds every column of count exactly once.
bool ParseColumnLayout(const std::string& text, int count, std::vector<int>& order, std::vector<int>& widths,
                       int& sortColumn, int& sortOrder);
