#include "app/folder_page.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QShowEvent>
#include <QStyleFactory>
#include <algorithm>
#include <map>

#include "services/configer.h"
#include "base/language.h"

namespace {

const char* const kLayoutSection = "SizeAndPos";
const char* const kLayoutKey = "CheckboxDriveTree.SysList.Columns";
const int kTreeWidth = 241;
// Name narrow enough that Size still shows in the list at the design size.
const int kDefaultWidths[TFolderListModel::ColumnCount] = {150, 70, 100, 120};

Qt::CheckState ToQt(TCheckState state) {
    switch (state) {
        case TCheckState::Checked: return Qt::Checked;
        case TCheckState::Mixed: return Qt::PartiallyChecked;
        case TCheckState::Unchecked: break;
    }
    return Qt::Unchecked;
}

// A click on a mixed box ticks it, like a click on an empty one.
TCheckState FromQt(const QVariant& value) {
    return static_cast<Qt::CheckState>(value.toInt()) == Qt::Unchecked ? TCheckState::Unchecked : TCheckState::Checked;
}

QString FromBytes(const std::string& bytes) { return QString::fromStdString(bytes); }
QString Translated(const char* text) { return QString::fromStdString(Translate(text)); }
QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

// ---------------------------------------------------------------------------

QIcon TItemLook::Icon(const TCheckNode* node) {
    if (!node->Parent()) return provider_.icon(QAbstractFileIconProvider::Computer);
    if (node->IsFolder()) return provider_.icon(QAbstractFileIconProvider::Folder);
    QMimeType mime = mimes_.mimeTypeForFile(FromBytes(node->Name()), QMimeDatabase::MatchExtension);
    auto it = icons_.find(mime.name());
    if (it != icons_.end()) return *it;
    QIcon icon = QIcon::fromTheme(
        mime.iconName(), QIcon::fromTheme(mime.genericIconName(), provider_.icon(QAbstractFileIconProvider::File)));
    icons_.insert(mime.name(), icon);
    return icon;
}

QString TItemLook::TypeName(const TCheckNode* node) {
    QMimeType mime = node->IsFolder() ? mimes_.mimeTypeForName(QStringLiteral("inode/directory"))
                                      : mimes_.mimeTypeForFile(FromBytes(node->Name()), QMimeDatabase::MatchExtension);
    QString comment = mime.comment();
    return comment.isEmpty() ? mime.name() : comment;
}

// ---------------------------------------------------------------------------

TFolderTreeModel::TFolderTreeModel(TCheckRules& rules, TItemLook& look, QObject* parent)
    : QAbstractItemModel(parent), rules_(rules), look_(look) {}

int TFolderTreeModel::ShownCount(const TCheckNode* node) const {
    if (!node->Loaded()) return 0;
    return hideFiles_ ? node->FolderCount() : node->Count();
}

QModelIndex TFolderTreeModel::IndexOf(const TCheckNode* node) const {
    if (!node || !Shown(node)) return {};
    return createIndex(node->Parent() ? node->Row() : 0, 0, const_cast<TCheckNode*>(node));
}

TCheckNode* TFolderTreeModel::NodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<TCheckNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TFolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (!parent.isValid()) return row == 0 ? IndexOf(rules_.Root()) : QModelIndex();
    TCheckNode* node = NodeOf(parent);
    if (row >= ShownCount(node)) return {};
    return createIndex(row, 0, node->Child(row));
}

QModelIndex TFolderTreeModel::parent(const QModelIndex& child) const {
    TCheckNode* node = NodeOf(child);
    return node && node->Parent() ? IndexOf(node->Parent()) : QModelIndex();
}

int TFolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    if (!parent.isValid()) return 1;
    return ShownCount(NodeOf(parent));
}

int TFolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool TFolderTreeModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) return true;
    TCheckNode* node = NodeOf(parent);
    if (!node->Parent()) return true;  // the computer always opens
    // A folder without subfolders shows no expand button.
    if (hideFiles_) return rules_.HasSubfolders(node);
    return node->CanExpand() && (!node->Loaded() || node->Count() > 0);
}

bool TFolderTreeModel::canFetchMore(const QModelIndex& parent) const {
    TCheckNode* node = NodeOf(parent);
    return node && node->CanExpand() && !node->Loaded();
}

void TFolderTreeModel::fetchMore(const QModelIndex& parent) {
    if (TCheckNode* node = NodeOf(parent)) rules_.LoadChildren(node);
}

QVariant TFolderTreeModel::data(const QModelIndex& index, int role) const {
    TCheckNode* node = NodeOf(index);
    if (!node) return {};
    switch (role) {
        case Qt::DisplayRole: return FromBytes(node->Name());
        case Qt::DecorationRole: return look_.Icon(node);
        case Qt::CheckStateRole: return ToQt(node->State());
        case Qt::ToolTipRole: return PathText(node->Path());
        default: return {};
    }
}

bool TFolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TCheckNode* node = NodeOf(index);
    if (!node || role != Qt::CheckStateRole) return false;
    rules_.SetCheck(node, FromQt(value));
    return true;
}

Qt::ItemFlags TFolderTreeModel::flags(const QModelIndex& index) const {
    TCheckNode* node = NodeOf(index);
    if (!node) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    if (!node->CanExpand()) f |= Qt::ItemNeverHasChildren;
    return f;
}

void TFolderTreeModel::BeginInsert(TCheckNode* parent, int first, int last, bool folders) {
    bool shown = folders || !hideFiles_;
    if (shown) beginInsertRows(IndexOf(parent), first, last);
    open_.push_back(shown);
}

void TFolderTreeModel::EndInsert() {
    bool shown = open_.back();
    open_.pop_back();
    if (shown) endInsertRows();
}

void TFolderTreeModel::BeginRemove(TCheckNode* parent, int index) {
    bool shown = Shown(parent->Child(index));
    if (shown) beginRemoveRows(IndexOf(parent), index, index);
    open_.push_back(shown);
}

void TFolderTreeModel::EndRemove() {
    bool shown = open_.back();
    open_.pop_back();
    if (shown) endRemoveRows();
}

void TFolderTreeModel::StatesChanged(const std::vector<TCheckNode*>& nodes) {
    // One signal per folder whose children changed, not one per node.
    std::map<TCheckNode*, std::pair<int, int>> spans;
    for (TCheckNode* n : nodes) {
        if (!Shown(n)) continue;
        if (!n->Parent()) {
            QModelIndex root = IndexOf(n);
            emit dataChanged(root, root, {Qt::CheckStateRole});
            continue;
        }
        auto [it, added] = spans.try_emplace(n->Parent(), n->Row(), n->Row());
        if (!added) {
            it->second.first = std::min(it->second.first, n->Row());
            it->second.second = std::max(it->second.second, n->Row());
        }
    }
    for (const auto& [parent, span] : spans) {
        QModelIndex p = IndexOf(parent);
        emit dataChanged(index(span.first, 0, p), index(span.second, 0, p), {Qt::CheckStateRole});
    }
}

// ---------------------------------------------------------------------------

TFolderListModel::TFolderListModel(TCheckRules& rules, TItemLook& look, QObject* parent)
    : QAbstractItemModel(parent), rules_(rules), look_(look) {}

void TFolderListModel::SetFolder(TCheckNode* folder) {
    if (folder == folder_) return;
    // List first, so the rules' insertions are not taken for this list's own.
    if (folder) rules_.LoadChildren(folder);
    beginResetModel();
    folder_ = folder;
    rows_.clear();
    if (folder_) {
        rows_.reserve(static_cast<std::size_t>(folder_->Count()));
        for (int i = 0; i < folder_->Count(); ++i) rows_.emplace_back(folder_->Child(i));
        std::stable_sort(rows_.begin(), rows_.end(), [this](const Row& a, const Row& b) { return RowLess(a, b); });
    }
    endResetModel();
}

TCheckNode* TFolderListModel::NodeOf(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return nullptr;
    return rows_[static_cast<std::size_t>(index.row())].node;
}

QModelIndex TFolderListModel::IndexOf(const TCheckNode* node, int column) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].node == node) return index(static_cast<int>(i), column);
    return {};
}

QModelIndex TFolderListModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= ColumnCount)
        return {};
    return createIndex(row, column);
}

QModelIndex TFolderListModel::parent(const QModelIndex&) const { return {}; }

int TFolderListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TFolderListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

bool TFolderListModel::hasChildren(const QModelIndex& parent) const { return !parent.isValid() && !rows_.empty(); }

const QString& TFolderListModel::TypeOf(const Row& row) const {
    if (!row.typed) {
        row.type = look_.TypeName(row.node);
        row.typed = true;
    }
    return row.type;
}

QVariant TFolderListModel::data(const QModelIndex& index, int role) const {
    TCheckNode* node = NodeOf(index);
    if (!node) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const TFileEntry& e = node->Entry();
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case NameColumn: return FromBytes(e.name);
                case SizeColumn:
                    if (e.isFolder) return QString();
                    return QLocale().formattedDataSize(e.size, 1, QLocale::DataSizeSIFormat);
                case TypeColumn: return TypeOf(row);
                case ModifiedColumn:
                    return QLocale().toString(QDateTime::fromSecsSinceEpoch(e.modified), QLocale::ShortFormat);
            }
            return {};
        case Qt::DecorationRole: return index.column() == NameColumn ? QVariant(look_.Icon(node)) : QVariant();
        case Qt::CheckStateRole: return index.column() == NameColumn ? QVariant(ToQt(node->State())) : QVariant();
        case Qt::TextAlignmentRole:
            if (index.column() == SizeColumn) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        case Qt::ToolTipRole: return index.column() == NameColumn ? QVariant(PathText(node->Path())) : QVariant();
        default: return {};
    }
}

bool TFolderListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TCheckNode* node = NodeOf(index);
    if (!node || role != Qt::CheckStateRole || index.column() != NameColumn) return false;
    // The list's item is the tree's node: the tick runs through the same rules.
    rules_.SetCheck(node, FromQt(value));
    return true;
}

Qt::ItemFlags TFolderListModel::flags(const QModelIndex& index) const {
    if (!NodeOf(index)) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == NameColumn) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TFolderListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole && section == SizeColumn) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case NameColumn: return Translated("Name");
        case SizeColumn: return Translated("Size");
        case TypeColumn: return Translated("Type");
        case ModifiedColumn: return Translated("Date modified");
    }
    return {};
}

bool TFolderListModel::RowLess(const Row& a, const Row& b) const {
    // Folders stay above files in either direction.
    if (a.node->IsFolder() != b.node->IsFolder()) return a.node->IsFolder();
    const TFileEntry& x = a.node->Entry();
    const TFileEntry& y = b.node->Entry();
    int c = 0;
    switch (sortColumn_) {
        case SizeColumn: c = x.size < y.size ? -1 : (x.size > y.size ? 1 : 0); break;
        case TypeColumn: c = QString::compare(TypeOf(a), TypeOf(b), Qt::CaseInsensitive); break;
        case ModifiedColumn: c = x.modified < y.modified ? -1 : (x.modified > y.modified ? 1 : 0); break;
        default: break;
    }
    if (c == 0) c = LessNoCase(x.name, y.name) ? -1 : (LessNoCase(y.name, x.name) ? 1 : 0);
    return sortOrder_ == Qt::AscendingOrder ? c < 0 : c > 0;
}

void TFolderListModel::Resort() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QModelIndexList before = persistentIndexList();
    std::vector<std::pair<TCheckNode*, int>> held;
    held.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& i : before) held.emplace_back(NodeOf(i), i.column());
    std::stable_sort(rows_.begin(), rows_.end(), [this](const Row& a, const Row& b) { return RowLess(a, b); });
    QModelIndexList after;
    after.reserve(before.size());
    for (const auto& [node, column] : held) after.push_back(node ? IndexOf(node, column) : QModelIndex());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TFolderListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount) return;
    sortColumn_ = column;
    sortOrder_ = order;
    Resort();
}

void TFolderListModel::Inserted(TCheckNode* parent, int first, int last) {
    if (parent != folder_) return;
    for (int i = first; i <= last; ++i) {
        Row row(parent->Child(i));
        auto at = std::upper_bound(rows_.begin(), rows_.end(), row,
                                   [this](const Row& a, const Row& b) { return RowLess(a, b); });
        int pos = static_cast<int>(at - rows_.begin());
        beginInsertRows({}, pos, pos);
        rows_.insert(at, row);
        endInsertRows();
    }
}

void TFolderListModel::Removing(TCheckNode* parent, int index) {
    TCheckNode* gone = parent->Child(index);
    for (TCheckNode* n = folder_; n; n = n->Parent()) {
        if (n == gone) {  // the shown folder itself goes away
            SetFolder(nullptr);
            return;
        }
    }
    if (parent != folder_) return;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].node != gone) continue;
        beginRemoveRows({}, static_cast<int>(i), static_cast<int>(i));
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(i));
        endRemoveRows();
        return;
    }
}

void TFolderListModel::Refreshed(TCheckNode* parent) {
    if (parent != folder_ || rows_.empty()) return;
    for (Row& r : rows_) r.typed = false;
    Resort();
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, ColumnCount - 1));
}

void TFolderListModel::StatesChanged(const std::vector<TCheckNode*>& nodes) {
    if (!folder_ || rows_.empty()) return;
    for (TCheckNode* n : nodes) {
        if (n->Parent() == folder_) {
            emit dataChanged(index(0, NameColumn), index(static_cast<int>(rows_.size()) - 1, NameColumn),
                             {Qt::CheckStateRole});
            return;
        }
    }
}

// ---------------------------------------------------------------------------

TVirtualCheckboxesSynchronizer::TVirtualCheckboxesSynchronizer(QObject* parent)
    : QObject(parent), treeModel_(rules_, look_), listModel_(rules_, look_) {
    rules_.SetObserver(this);
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(300);  // a copy into a folder changes it many times
    connect(&refreshTimer_, &QTimer::timeout, this, &TVirtualCheckboxesSynchronizer::RefreshChanged);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &TVirtualCheckboxesSynchronizer::FolderChanged);
}

TVirtualCheckboxesSynchronizer::~TVirtualCheckboxesSynchronizer() {
    rules_.SetObserver(nullptr);
    if (tree_) tree_->setModel(nullptr);
    if (list_) list_->setModel(nullptr);
}

void TVirtualCheckboxesSynchronizer::Bind(QTreeView* tree, QTreeView* list) {
    tree_ = tree;
    list_ = list;
    treeModel_.SetHideFiles(HideTreeFiles);
    tree_->setModel(&treeModel_);
    list_->setModel(&listModel_);
    if (AutoSetupEvents) {
        connect(tree_, &QTreeView::expanded, this, &TVirtualCheckboxesSynchronizer::TreeExpanded);
        connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& current) { TreeCurrentChanged(current); });
        connect(list_, &QAbstractItemView::activated, this, &TVirtualCheckboxesSynchronizer::ListActivated);
    }
    // The computer is open from the start, so its folders show at once.
    tree_->expand(treeModel_.IndexOf(rules_.Root()));
}

bool TVirtualCheckboxesSynchronizer::Browse(TCheckNode* folder) {
    if (!folder || !folder->CanExpand()) return false;
    rules_.LoadChildren(folder);
    if (tree_) {
        std::vector<TCheckNode*> chain;
        for (TCheckNode* n = folder->Parent(); n; n = n->Parent()) chain.push_back(n);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) tree_->expand(treeModel_.IndexOf(*it));
        QModelIndex at = treeModel_.IndexOf(folder);
        tree_->setCurrentIndex(at);
        tree_->scrollTo(at);
    }
    listModel_.SetFolder(folder);
    Watch(folder);
    return true;
}

void TVirtualCheckboxesSynchronizer::TreeExpanded(const QModelIndex& index) {
    TCheckNode* node = treeModel_.NodeOf(index);
    if (!node) return;
    rules_.LoadChildren(node);  // its children take its state when they come in
    Watch(node);
}

void TVirtualCheckboxesSynchronizer::TreeCurrentChanged(const QModelIndex& current) {
    if (changing_ > 0) {
        // The tree moves its current item while rows are being removed; the
        // list must not load another folder in the middle of that.
        QPersistentModelIndex later(current);
        QTimer::singleShot(0, this, [this, later] { TreeCurrentChanged(later); });
        return;
    }
    TCheckNode* node = treeModel_.NodeOf(current);
    if (node && !node->CanExpand()) return;  // a file or a link: the list stays
    listModel_.SetFolder(node);
    if (node) Watch(node);
}

void TVirtualCheckboxesSynchronizer::ListActivated(const QModelIndex& index) {
    TCheckNode* node = listModel_.NodeOf(index);
    if (!node || !node->IsFolder()) return;
    if (node->IsLink()) {
        // A link opens its target at the target's own place in the tree.
        QString target = QFileInfo(PathText(node->Path())).canonicalFilePath();
        node = target.isEmpty() ? nullptr : rules_.Locate(PathBytes(target), true);
    }
    Browse(node);
}

void TVirtualCheckboxesSynchronizer::Watch(const TCheckNode* folder) {
    QString path = PathText(folder->Path());
    if (!watcher_.directories().contains(path)) watcher_.addPath(path);
}

void TVirtualCheckboxesSynchronizer::FolderChanged(const QString& path) {
    changed_.insert(path);
    refreshTimer_.start();
}

void TVirtualCheckboxesSynchronizer::RefreshChanged() {
    QSet<QString> paths;
    paths.swap(changed_);
    for (const QString& path : paths) {
        TCheckNode* node = rules_.Locate(PathBytes(path), false);
        if (node && node->Loaded()) rules_.Refresh(node);
    }
}

void TVirtualCheckboxesSynchronizer::BeginInsertChildren(TCheckNode* parent, int first, int last, bool folders) {
    ++changing_;
    treeModel_.BeginInsert(parent, first, last, folders);
    inserts_.push_back({parent, first, last});
}

void TVirtualCheckboxesSynchronizer::EndInsertChildren(TCheckNode*) {
    treeModel_.EndInsert();
    Pending p = inserts_.back();
    inserts_.pop_back();
    listModel_.Inserted(p.parent, p.first, p.last);
    --changing_;
}

void TVirtualCheckboxesSynchronizer::BeginRemoveChild(TCheckNode* parent, int index) {
    ++changing_;
    listModel_.Removing(parent, index);
    treeModel_.BeginRemove(parent, index);
}

void TVirtualCheckboxesSynchronizer::EndRemoveChild(TCheckNode*) {
    treeModel_.EndRemove();
    --changing_;
}

void TVirtualCheckboxesSynchronizer::ChildrenRefreshed(TCheckNode* parent) { listModel_.Refreshed(parent); }

void TVirtualCheckboxesSynchronizer::StatesChanged(const std::vector<TCheckNode*>& nodes) {
    treeModel_.StatesChanged(nodes);
    listModel_.StatesChanged(nodes);
}

// ---------------------------------------------------------------------------

std::string FormatColumnLayout(const std::vector<int>& order, const std::vector<int>& widths, int sortColumn,
                               int sortOrder) {
    std::string out;
    for (int logical : order)
        out += std::to_string(logical) + ":" + std::to_string(widths.at(static_cast<std::size_t>(logical))) + ",";
    out += ";" + std::to_string(sortColumn) + ":" + std::to_string(sortOrder);
    return out;
}

bool ParseColumnLayout(const std::string& text, int count, std::vector<int>& order, std::vector<int>& widths,
                       int& sortColumn, int& sortOrder) {
    std::string columns, sorting;
    SplitFirst(text, ";", columns, sorting);
    TStringList fields;
    SplitToList(columns, ",", fields);
    while (!fields.empty() && Trim(fields.back()).empty()) fields.pop_back();
    if (static_cast<int>(fields.size()) != count) return false;

    std::vector<int> newOrder, newWidths(static_cast<std::size_t>(count), -1);
    for (const auto& field : fields) {
        std::string l, w;
        SplitFirst(field, ":", l, w);
        long long logical = 0, width = 0;
        if (!TryStrToInt(l, logical) || !TryStrToInt(w, width)) return false;
        if (logical < 0 || logical >= count || width < 0 || width > 10000) return false;
        if (newWidths[static_cast<std::size_t>(logical)] >= 0) return false;  // named twice
        newOrder.push_back(static_cast<int>(logical));
        newWidths[static_cast<std::size_t>(logical)] = static_cast<int>(width);
    }
    order = newOrder;
    widths = newWidths;

    // A damaged sort field only loses the sorting.
    std::string c, o;
    SplitFirst(sorting, ":", c, o);
    long long column = 0, direction = 0;
    bool ok = TryStrToInt(c, column) && TryStrToInt(o, direction) && column >= 0 && column < count &&
              (direction == 0 || direction == 1);
    sortColumn = ok ? static_cast<int>(column) : 0;
    sortOrder = ok ? static_cast<int>(direction) : 0;
    return true;
}

// ---------------------------------------------------------------------------

TTreeLineStyle::TTreeLineStyle() : lines_(QStyleFactory::create(QStringLiteral("Windows"))) {}

TTreeLineStyle::~TTreeLineStyle() = default;

void TTreeLineStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const {
    if (element == PE_IndicatorBranch && lines_)
        lines_->drawPrimitive(element, option, painter, widget);
    else
        QProxyStyle::drawPrimitive(element, option, painter, widget);
}

// ---------------------------------------------------------------------------

TCheckboxDriveTree::TCheckboxDriveTree(QWidget* parent) : QWidget(parent), layout_(this) {
    setObjectName(QStringLiteral("CheckboxDriveTree"));
    layout_.setContentsMargins(0, 0, 0, 0);
    layout_.addWidget(&splitter_);
    splitter_.setChildrenCollapsible(false);
    splitter_.addWidget(&sysTree_);
    splitter_.addWidget(&sysList_);
    splitter_.setStretchFactor(0, 0);
    splitter_.setStretchFactor(1, 1);
    splitter_.setSizes({kTreeWidth, 400});

    sysTree_.setObjectName(QStringLiteral("SysTree"));
    sysTree_.setStyle(&treeStyle_);
    sysTree_.setHeaderHidden(true);
    sysTree_.setRootIsDecorated(true);
    sysTree_.setUniformRowHeights(true);
    sysTree_.setExpandsOnDoubleClick(true);
    sysTree_.setSelectionMode(QAbstractItemView::SingleSelection);

    sysList_.setObjectName(QStringLiteral("SysList"));
    sysList_.setRootIsDecorated(false);
    sysList_.setItemsExpandable(false);
    sysList_.setUniformRowHeights(true);
    sysList_.setAllColumnsShowFocus(true);
    sysList_.setSelectionMode(QAbstractItemView::ExtendedSelection);

    synchronizer_.Bind(&sysTree_, &sysList_);

    QHeaderView* header = sysList_.header();
    header->setSectionsMovable(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, &TCheckboxDriveTree::ShowColumnMenu);
    for (int c = 0; c < TFolderListModel::ColumnCount; ++c) header->resizeSection(c, kDefaultWidths[c]);
    sysList_.setSortingEnabled(true);
    sysList_.sortByColumn(TFolderListModel::NameColumn, Qt::AscendingOrder);
    RestoreColumnLayout();
}

TCheckboxDriveTree::~TCheckboxDriveTree() { SaveColumnLayout(); }

std::string TCheckboxDriveTree::PathsText() const {
    std::string text;
    for (const auto& p : Paths) text += p + "\r\n";
    return text;
}

void TCheckboxDriveTree::SetPathsText(std::string_view text) {
    Paths.clear();
    TStringList lines;
    SplitToList(text, "\n", lines);
    for (auto& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) Paths.push_back(line);
    }
}

void TCheckboxDriveTree::SetPaths() { synchronizer_.Rules().SetPaths(Paths); }

void TCheckboxDriveTree::GetResolvedPaths() { Paths = synchronizer_.Rules().ResolvedPaths(); }

bool TCheckboxDriveTree::OpenFolder(const std::string& path) {
    return synchronizer_.Browse(synchronizer_.Rules().Locate(path, true));
}

void TCheckboxDriveTree::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    if (sysTree_.currentIndex().isValid()) return;
    // The home folder's real path: links on the way are not opened in the tree.
    QString home = QFileInfo(QDir::homePath()).canonicalFilePath();
    if (home.isEmpty() || !OpenFolder(PathBytes(home))) synchronizer_.Browse(synchronizer_.Rules().Root());
}

void TCheckboxDriveTree::SaveColumnLayout() {
    TConfiger* config = AppConfiger();
    if (!config) return;
    const QHeaderView* header = sysList_.header();
    int count = header->count();
    std::vector<int> order, widths(static_cast<std::size_t>(count), 0);
    for (int v = 0; v < count; ++v) {
        int logical = header->logicalIndex(v);
        order.push_back(logical);
        widths[static_cast<std::size_t>(logical)] = header->isSectionHidden(logical) ? 0 : header->sectionSize(logical);
    }
    int sortOrder = header->sortIndicatorOrder() == Qt::DescendingOrder ? 1 : 0;
    config->WriteString(kLayoutSection, kLayoutKey,
                        FormatColumnLayout(order, widths, std::max(0, header->sortIndicatorSection()), sortOrder));
}

void TCheckboxDriveTree::RestoreColumnLayout() {
    TConfiger* config = AppConfiger();
    if (!config) return;
    QHeaderView* header = sysList_.header();
    std::vector<int> order, widths;
    int sortColumn = 0, sortOrder = 0;
    if (!ParseColumnLayout(config->ReadString(kLayoutSection, kLayoutKey), header->count(), order, widths, sortColumn,
                           sortOrder))
        return;
    for (int v = 0; v < static_cast<int>(order.size()); ++v) header->moveSection(header->visualIndex(order[v]), v);
    for (int c = 0; c < header->count(); ++c) {
        int width = widths[static_cast<std::size_t>(c)];
        // The name column carries the check boxes and never hides.
        if (width == 0 && c != TFolderListModel::NameColumn) {
            header->hideSection(c);
        } else {
            header->showSection(c);
            header->resizeSection(c, std::max(width, 20));
        }
    }
    sysList_.sortByColumn(sortColumn, sortOrder == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TCheckboxDriveTree::ShowColumnMenu(const QPoint& at) {
    QHeaderView* header = sysList_.header();
    QMenu menu(this);
    for (int c = 0; c < header->count(); ++c) {
        QAction* action = menu.addAction(header->model()->headerData(c, Qt::Horizontal).toString());
        action->setCheckable(true);
        action->setChecked(!header->isSectionHidden(c));
        action->setEnabled(c != TFolderListModel::NameColumn);
        connect(action, &QAction::toggled, header, [header, c](bool on) {
            header->setSectionHidden(c, !on);
            if (on && header->sectionSize(c) < 20) header->resizeSection(c, kDefaultWidths[c]);
        });
    }
    menu.exec(header->mapToGlobal(at));
}
