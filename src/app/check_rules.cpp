#include "app/check_rules.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Folders first, then by name.
bool EntryLess(const TFileEntry& a, const TFileEntry& b) {
    if (a.isFolder != b.isFolder) return a.isFolder;
    return LessNoCase(a.name, b.name);
}

// The prefix every path below folder starts with.
std::string BelowPrefix(const std::string& folder) { return folder == "/" ? folder : folder + "/"; }

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool LessNoCase(const std::string& a, const std::string& b) {
    int c = CompareText(a, b);
    return c != 0 ? c < 0 : a < b;
}

bool SplitAbsolutePath(const std::string& path, TStringList& parts) {
    parts.clear();
    if (path.empty() || path[0] != '/') return false;
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        if (end > at) parts.emplace_back(path, at, end - at);
        at = end + 1;
    }
    return true;
}

std::vector<TFileEntry> ListFolderEntries(const std::string& folder) {
    std::vector<TFileEntry> out;
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir) return out;
    int fd = ::dirfd(dir.get());
    while (const dirent* e = ::readdir(dir.get())) {
        if (IsDotOrDotDot(e->d_name)) continue;
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        TFileEntry entry;
        entry.name = e->d_name;
        if (S_ISLNK(st.st_mode)) {
            entry.isLink = true;
            if (::fstatat(fd, e->d_name, &st, 0) != 0) continue;  // dangling
        }
        if (S_ISDIR(st.st_mode)) {
            entry.isFolder = true;
        } else if (S_ISREG(st.st_mode)) {
            entry.size = static_cast<std::int64_t>(st.st_size);
        } else {
            continue;  // devices, sockets and fifos hold no music and can block a reader
        }
        entry.modified = static_cast<std::int64_t>(st.st_mtime);
        out.push_back(std::move(entry));
    }
    std::sort(out.begin(), out.end(), EntryLess);
    return out;
}

bool FolderHasSubfolders(const std::string& folder) {
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir) return false;
    int fd = ::dirfd(dir.get());
    while (const dirent* e = ::readdir(dir.get())) {
        if (IsDotOrDotDot(e->d_name)) continue;
        if (e->d_type == DT_DIR) return true;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode)) return true;
        }
    }
    return false;
}

TCheckNode::TCheckNode(TCheckNode* parent, std::string path, TFileEntry entry)
    : parent_(parent), path_(std::move(path)), entry_(std::move(entry)) {}

TCheckRules::TCheckRules() {
    TFileEntry root;
    root.name = "/";
    root.isFolder = true;
    root_ = std::make_unique<TCheckNode>(nullptr, "/", std::move(root));
}

TCheckRules::~TCheckRules() = default;

TCheckState TCheckRules::StoredState(const std::string& path) const {
    auto it = store_.find(path);
    return it == store_.end() ? TCheckState::Unchecked : it->second;
}

std::unique_ptr<TCheckNode> TCheckRules::MakeChild(TCheckNode* parent, TFileEntry entry) {
    std::string path = JoinPath(parent->path_, entry.name);
    auto child = std::make_unique<TCheckNode>(parent, std::move(path), std::move(entry));
    child->state_ = StoredState(child->path_);
    return child;
}

void TCheckRules::Renumber(TCheckNode* parent) {
    int row = 0;
    for (auto& c : parent->children_) c->row_ = row++;
}

void TCheckRules::LoadChildren(TCheckNode* node) {
    if (!node || !node->CanExpand() || node->loaded_) return;
    std::vector<TFileEntry> entries = ListFolderEntries(node->path_);
    node->loaded_ = true;
    auto firstFile = std::find_if(entries.begin(), entries.end(), [](const TFileEntry& e) { return !e.isFolder; });
    int folders = static_cast<int>(firstFile - entries.begin());
    int total = static_cast<int>(entries.size());

    if (folders > 0) {
        if (observer_) observer_->BeginInsertChildren(node, 0, folders - 1, true);
        for (auto it = entries.begin(); it != firstFile; ++it)
            node->children_.push_back(MakeChild(node, std::move(*it)));
        node->folderCount_ = folders;
        Renumber(node);
        if (observer_) observer_->EndInsertChildren(node);
    }
    if (total > folders) {
        if (observer_) observer_->BeginInsertChildren(node, folders, total - 1, false);
        for (auto it = firstFile; it != entries.end(); ++it) node->children_.push_back(MakeChild(node, std::move(*it)));
        Renumber(node);
        if (observer_) observer_->EndInsertChildren(node);
    }
    node->subfolders_ = folders > 0 ? TCheckNode::Probe::Yes : TCheckNode::Probe::No;

    // Children loaded below a ticked or cleared folder take its state.
    if (node->state_ != TCheckState::Mixed && total > 0) {
        std::vector<TCheckNode*> changed;
        PushDown(node, node->state_, changed);
        Notify(changed);
    }
}

void TCheckRules::InsertChild(TCheckNode* parent, std::unique_ptr<TCheckNode> child) {
    auto& kids = parent->children_;
    bool folder = child->IsFolder();
    auto begin = folder ? kids.begin() : kids.begin() + parent->folderCount_;
    auto end = folder ? kids.begin() + parent->folderCount_ : kids.end();
    auto at = std::lower_bound(begin, end, child,
                               [](const std::unique_ptr<TCheckNode>& a, const std::unique_ptr<TCheckNode>& b) {
                                   return LessNoCase(a->Name(), b->Name());
                               });
    int pos = static_cast<int>(at - kids.begin());
    if (observer_) observer_->BeginInsertChildren(parent, pos, pos, folder);
    kids.insert(at, std::move(child));
    if (folder) ++parent->folderCount_;
    Renumber(parent);
    if (observer_) observer_->EndInsertChildren(parent);
}

void TCheckRules::RemoveChild(TCheckNode* parent, int index) {
    if (observer_) observer_->BeginRemoveChild(parent, index);
    auto& kids = parent->children_;
    // Keep the node alive until the list no longer refers to it.
    std::unique_ptr<TCheckNode> gone = std::move(kids[static_cast<std::size_t>(index)]);
    kids.erase(kids.begin() + index);
    if (index < parent->folderCount_) --parent->folderCount_;
    Renumber(parent);
    if (observer_) observer_->EndRemoveChild(parent);
}

void TCheckRules::Refresh(TCheckNode* node) {
    if (!node || !node->CanExpand() || !node->loaded_) return;
    std::vector<TFileEntry> entries = ListFolderEntries(node->path_);
    std::unordered_map<std::string, TFileEntry*> byName;
    for (auto& e : entries) byName[e.name] = &e;

    for (int i = node->Count() - 1; i >= 0; --i) {
        TCheckNode* child = node->Child(i);
        auto it = byName.find(child->Name());
        if (it == byName.end() || it->second->isFolder != child->IsFolder() || it->second->isLink != child->IsLink()) {
            RemoveChild(node, i);
        } else {
            child->entry_ = *it->second;  // sizes and dates may have changed
            byName.erase(it);
        }
    }

    std::vector<TCheckNode*> changed;
    for (auto& e : entries) {
        if (!byName.count(e.name)) continue;  // already shown
        auto child = MakeChild(node, std::move(e));
        TCheckNode* raw = child.get();
        InsertChild(node, std::move(child));
        // A new item in a ticked folder is ticked with it.
        if (node->state_ == TCheckState::Checked && raw->state_ != TCheckState::Checked)
            Assign(raw, TCheckState::Checked, changed);
    }
    node->subfolders_ = node->folderCount_ > 0 ? TCheckNode::Probe::Yes : TCheckNode::Probe::No;

    // Items that came or went can change what a partly ticked folder is.
    if (node->state_ == TCheckState::Mixed && node->Count() > 0) {
        Assign(node, Derive(node), changed);
        DeriveUpward(node, changed);
    }
    if (observer_) observer_->ChildrenRefreshed(node);
    Notify(changed);
}

bool TCheckRules::HasSubfolders(TCheckNode* node) {
    if (!node || !node->CanExpand()) return false;
    if (node->loaded_) return node->folderCount_ > 0;
    if (node->subfolders_ == TCheckNode::Probe::Unknown)
        node->subfolders_ = FolderHasSubfolders(node->path_) ? TCheckNode::Probe::Yes : TCheckNode::Probe::No;
    return node->subfolders_ == TCheckNode::Probe::Yes;
}

void TCheckRules::Assign(TCheckNode* node, TCheckState state, std::vector<TCheckNode*>& changed) {
    if (state == TCheckState::Unchecked)
        store_.erase(node->path_);
    else
        store_[node->path_] = state;
    if (node->state_ != state) {
        node->state_ = state;
        changed.push_back(node);
    }
}

void TCheckRules::PushDown(TCheckNode* node, TCheckState state, std::vector<TCheckNode*>& changed) {
    // Entries below the folder that no loaded node stands for (items gone from
    // disk since they were ticked) are dropped too: the folder's state now
    // speaks for everything below it.
    std::string prefix = BelowPrefix(node->path_);
    for (auto it = store_.lower_bound(prefix); it != store_.end() && StartsWith(it->first, prefix);)
        it = it->first == node->path_ ? std::next(it) : store_.erase(it);  // "/" is its own prefix

    std::vector<TCheckNode*> pending(1, node);
    while (!pending.empty()) {
        TCheckNode* n = pending.back();
        pending.pop_back();
        for (auto& c : n->children_) {
            Assign(c.get(), state, changed);
            if (c->Count() > 0) pending.push_back(c.get());
        }
    }
}

TCheckState TCheckRules::Derive(const TCheckNode* node) {
    int checked = 0, unchecked = 0;
    for (const auto& c : node->children_) {
        switch (c->state_) {
            case TCheckState::Mixed: return TCheckState::Mixed;
            case TCheckState::Checked: ++checked; break;
            case TCheckState::Unchecked: ++unchecked; break;
        }
    }
    if (unchecked == 0) return TCheckState::Checked;
    return checked > 0 ? TCheckState::Mixed : TCheckState::Unchecked;
}

void TCheckRules::DeriveUpward(TCheckNode* node, std::vector<TCheckNode*>& changed) {
    // "/" stands for the computer and gets a state like any folder; nothing
    // lies above it.
    TCheckNode* below = node;
    for (TCheckNode* p = node->parent_; p; p = p->parent_) {
        TCheckState state = below->state_ == TCheckState::Mixed ? TCheckState::Mixed : Derive(p);
        Assign(p, state, changed);
        below = p;
    }
}

void TCheckRules::Notify(const std::vector<TCheckNode*>& changed) {
    if (observer_ && !changed.empty()) observer_->StatesChanged(changed);
}

void TCheckRules::SetCheck(TCheckNode* node, TCheckState state) {
    if (!node) return;
    std::vector<TCheckNode*> changed;
    Assign(node, state, changed);
    if (state != TCheckState::Mixed) PushDown(node, state, changed);
    DeriveUpward(node, changed);
    Notify(changed);
}

TCheckNode* TCheckRules::FindChild(TCheckNode* parent, const std::string& name) const {
    if (!parent) return nullptr;
    TCheckNode* folded = nullptr;
    for (const auto& c : parent->children_) {
        if (c->Name() == name) return c.get();
        if (!folded && SameText(c->Name(), name)) folded = c.get();
    }
    return folded;
}

TCheckNode* TCheckRules::Locate(const std::string& path, bool load) {
    TStringList parts;
    if (!SplitAbsolutePath(path, parts)) return nullptr;
    TCheckNode* current = root_.get();
    for (const auto& part : parts) {
        if (!current->CanExpand()) return nullptr;
        if (!current->loaded_) {
            if (!load) return nullptr;
            LoadChildren(current);
        }
        TCheckNode* next = FindChild(current, part);
        if (!next && load) {
            // The listing may be older than the item; look once more.
            Refresh(current);
            next = FindChild(current, part);
        }
        if (!next) return nullptr;
        current = next;
    }
    return current;
}

void TCheckRules::SetPaths(const TStringList& paths) {
    SetCheck(root_.get(), TCheckState::Unchecked);
    for (const auto& path : paths) {
        TCheckNode* node = Locate(path, true);
        if (!node) continue;
        if (!DirectoryExists(node->path_) && !FileExists(node->path_)) continue;
        SetCheck(node, TCheckState::Checked);
    }
}

TStringList TCheckRules::ResolvedPaths() const {
    TStringList checked;
    for (const auto& [path, state] : store_)
        if (state == TCheckState::Checked) checked.push_back(path);
    std::sort(checked.begin(), checked.end(), LessNoCase);

    // An entry below any kept entry is left out, not only one below the
    // previous kept entry: "/A", "/A B", "/A/B" sort in that order, and keeping
    // "/A/B" would scan its files twice.
    TStringList out;
    std::unordered_set<std::string> kept;
    auto underKept = [&](const std::string& path) {
        if (kept.count("/") && path != "/") return true;
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
            if (kept.count(path.substr(0, slash))) return true;
        return false;
    };
    for (const auto& path : checked) {
        if (underKept(path)) continue;
        if (!DirectoryExists(path) && !FileExists(path)) continue;
        out.push_back(path);
        kept.insert(path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path);
    }
    return out;
}
