#pragma once
// Tri-state check rules of the folder page, kept apart from any widget so
// they can be exercised without a display.
//
// The rules hold the part of the file system that the panes have loaded (a
// tree of nodes rooted at "/") and the check store: every item whose state is
// checked or mixed, keyed by path. The store is the source of the path lists;
// a node's state always equals its store entry (absent means unchecked).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/shared_functions.h"

enum class TCheckState { Unchecked, Checked, Mixed };

// One entry of a folder as the page lists it.
struct TFileEntry {
    std::string name;
    bool isFolder = false;  // a folder, or a link to one
    bool isLink = false;    // a symbolic link (to a folder or a file)
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since the epoch
};

// The folder's entries that the page shows: files and folders, dot-names
// included; devices, sockets, fifos and dangling links are left out. Links are
// listed as what they point to. An unreadable folder gives an empty list.
std::vector<TFileEntry> ListFolderEntries(const std::string& folder);
// Whether the folder holds at least one entry that ListFolderEntries would
// list as a folder. Stops at the first one.
bool FolderHasSubfolders(const std::string& folder);

class TCheckNode {
public:
    TCheckNode(TCheckNode* parent, std::string path, TFileEntry entry);

    const std::string& Path() const { return path_; }
    const std::string& Name() const { return entry_.name; }
    const TFileEntry& Entry() const { return entry_; }
    bool IsFolder() const { return entry_.isFolder; }
    bool IsLink() const { return entry_.isLink; }
    // Links to folders are shown but never opened, so a folder is never
    // listed twice under two names and a link loop cannot be walked.
    bool CanExpand() const { return entry_.isFolder && !entry_.isLink; }
    TCheckState State() const { return state_; }

    TCheckNode* Parent() const { return parent_; }
    // Position among the parent's children.
    int Row() const { return row_; }
    bool Loaded() const { return loaded_; }
    int Count() const { return static_cast<int>(children_.size()); }
    TCheckNode* Child(int index) const { return children_.at(static_cast<std::size_t>(index)).get(); }
    // Children are ordered folders first, so the folders are Child(0) to
    // Child(FolderCount() - 1).
    int FolderCount() const { return folderCount_; }

private:
    friend class TCheckRules;
    enum class Probe { Unknown, Yes, No };

    TCheckNode* parent_;
    std::string path_;
    TFileEntry entry_;
    TCheckState state_ = TCheckState::Unchecked;
    int row_ = 0;
    bool loaded_ = false;
    int folderCount_ = 0;
    Probe subfolders_ = Probe::Unknown;
    std::vector<std::unique_ptr<TCheckNode>> children_;
};

// Told about every change the rules make, so views over the nodes can follow.
class TCheckRulesObserver {
public:
    virtual ~TCheckRulesObserver() = default;
    // Children first..last (positions after the insertion) are about to be
    // added to parent; they are all folders or all files.
    virtual void BeginInsertChildren(TCheckNode* /*parent*/, int /*first*/, int /*last*/, bool /*folders*/) {}
    virtual void EndInsertChildren(TCheckNode* /*parent*/) {}
    // The child at index is about to be destroyed with everything below it.
    virtual void BeginRemoveChild(TCheckNode* /*parent*/, int /*index*/) {}
    virtual void EndRemoveChild(TCheckNode* /*parent*/) {}
    // A reload of parent's children has finished (sizes and dates may differ).
    virtual void ChildrenRefreshed(TCheckNode* /*parent*/) {}
    // The states of these nodes have changed.
    virtual void StatesChanged(const std::vector<TCheckNode*>& /*nodes*/) {}
};

class TCheckRules {
public:
    TCheckRules();
    ~TCheckRules();
    TCheckRules(const TCheckRules&) = delete;
    TCheckRules& operator=(const TCheckRules&) = delete;

    void SetObserver(TCheckRulesObserver* observer) { observer_ = observer; }

    // The file-system root "/", which stands for the whole computer.
    TCheckNode* Root() const { return root_.get(); }

    // Lists the node's children once. A checked or unchecked node hands its
    // state to the children it has just gained.
    void LoadChildren(TCheckNode* node);
    // Lists a loaded folder again: vanished children go, new ones come in,
    // surviving ones keep their subtree and state.
    void Refresh(TCheckNode* node);
    // Whether the folder shows an expand button: known from its children once
    // loaded, otherwise probed on disk (once).
    bool HasSubfolders(TCheckNode* node);

    // A tick on node (by the user, in either pane): stores the state, pushes a
    // checked or unchecked state down to the loaded nodes below, derives the
    // ancestors' states from their loaded children. Never lists a folder.
    void SetCheck(TCheckNode* node, TCheckState state);

    // The child named name: the exact name if there is one, otherwise one
    // that differs only in letter case. Null when there is none.
    TCheckNode* FindChild(TCheckNode* parent, const std::string& name) const;
    // The node of an absolute path, loading folders on the way when load is
    // true. Null when some part is not found.
    TCheckNode* Locate(const std::string& path, bool load);

    // Clears every tick, then ticks each path that still exists. Paths that
    // cannot be found are skipped without a word.
    void SetPaths(const TStringList& paths);
    // The checked items that still exist, sorted with letter case ignored,
    // without those that lie below another kept item.
    TStringList ResolvedPaths() const;

    TCheckState StoredState(const std::string& path) const;
    const std::map<std::string, TCheckState>& Store() const { return store_; }

private:
    void Assign(TCheckNode* node, TCheckState state, std::vector<TCheckNode*>& changed);
    void PushDown(TCheckNode* node, TCheckState state, std::vector<TCheckNode*>& changed);
    void DeriveUpward(TCheckNode* node, std::vector<TCheckNode*>& changed);
    static TCheckState Derive(const TCheckNode* node);
    void Notify(const std::vector<TCheckNode*>& changed);
    std::unique_ptr<TCheckNode> MakeChild(TCheckNode* parent, TFileEntry entry);
    void InsertChild(TCheckNode* parent, std::unique_ptr<TCheckNode> child);
    void RemoveChild(TCheckNode* parent, int index);
    static void Renumber(TCheckNode* parent);

    std::unique_ptr<TCheckNode> root_;
    std::map<std::string, TCheckState> store_;
    TCheckRulesObserver* observer_ = nullptr;
};

// Splits an absolute path into its parts ("/a//b/" gives a, b); false for a
// path that does not start with "/".
bool SplitAbsolutePath(const std::string& path, TStringList& parts);
// Order of the panes and of the resolved list: letter case ignored, then bytes.
bool LessNoCase(const std::string& a, const std::string& b);
