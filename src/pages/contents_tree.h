#pragma once
// The help project's contents tree (entries shown in the contents pane, each
// pointing at one file) and its file set (every file compiled in, with the
// files each one links to). Also writes the contents (.hhc) and index (.hhk)
// files.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/tree.h"
#include "collection/string_index.h"
#include "pages/keywords.h"
#include "text/pair_finder.h"

class TFiles;
class TChmTree;

// What the tree and the file set need from the project that owns them (the
// compiler). Both work without one: nothing is then marked or reported.
class TChmProjectHost {
public:
    virtual ~TChmProjectHost() = default;
    // The project changed since it was last stored.
    virtual void MarkModified() = 0;
    // Folder that file addresses are made relative to; empty before the
    // project has a root.
    virtual std::string ProjectRootFolder() const = 0;
    // Whether a compile progress handler is assigned.
    virtual bool HasCompileProgress() const = 0;
    // Passes progress to the handler; answers whether to go on.
    virtual bool ReportCompileProgress(const std::string& status, int percent, const std::string& line) = 0;
};

// One file of the project.
class TFileInfo {
public:
    TFileInfo(TFiles* owner, std::string fileName) : Owner(owner), FileName(std::move(fileName)) {}

    TFiles* Owner;
    std::string FileName;            // full name as added ("%20" already a blank)
    std::string Location;            // where the file is used from; empty for a missing file
    std::vector<TFileInfo*> Linked;  // files found through this file's links, in order
    // The part of Linked that came through AddLinked rather than a link scan;
    // a refresh rescans links and must not drop these.
    std::vector<TFileInfo*> AddedLinks;
    int RefCount = 0;      // current uses
    bool Missing = false;  // absent when existence was checked

    // Adds a file (refused when it does not exist and existence is checked)
    // and records it as linked from this one. Answers its record or null.
    TFileInfo* AddLinked(std::string_view fileName);
};

class TFiles {
public:
    explicit TFiles(TChmProjectHost* compiler = nullptr);
    ~TFiles();
    TFiles(const TFiles&) = delete;
    TFiles& operator=(const TFiles&) = delete;

    TChmProjectHost* Compiler;
    // File name -> position in Items; letter case ignored.
    std::unique_ptr<TCustomStrFinder> PathIndex;
    std::unique_ptr<TPairFinder> LinkFinder;
    std::string CachedName;
    std::string CachedText;
    // When true, missing files are refused or marked Missing.
    bool CheckExistence = true;
    std::vector<std::unique_ptr<TFileInfo>> Items;  // in the order added

    int Count() const { return static_cast<int>(Items.size()); }
    TFileInfo* Item(int index) const { return Items.at(static_cast<std::size_t>(index)).get(); }

    // Adds the file, or finds it and raises its use count. Null when verify
    // and CheckExistence are on and the file does not exist.
    TFileInfo* Add(std::string_view fileName, bool verify);
    // Add, and when scanLinks, every file the added one links to.
    TFileInfo* AddWithLinks(std::string_view fileName, bool scanLinks);
    // The file's text (empty when unreadable), through a one-file cache.
    const std::string& LoadText(const std::string& fileName);
    // Forgets the cached text, so the next LoadText reads the file again.
    void ClearCache();
    // The address of a file as written into the project files: relative to
    // the project root for a file of the set, otherwise the name itself.
    std::string AddressOf(std::string_view fileName) const;
    // One address per line (CR LF) of every used, present file.
    std::string FileList() const;
    // The project root folder: the working folder, created when missing.
    std::string PrepareRoot();

    void MarkModified();

private:
    void ScanLinks(const std::string& fileName);
};

// One contents entry. The root of a tree has no file and is never written.
class TChmTreeItem : public TTree {
public:
    // A child entry of parent (which owns it); Tree is taken from the parent.
    explicit TChmTreeItem(TTree* parent, TChmTree* tree = nullptr);
    // Withdraws the entry's keywords and lowers the use counts of its file
    // and that file's linked files; children are destroyed.
    ~TChmTreeItem() override;

    TChmTree* Tree;
    TFileInfo* FileInfo = nullptr;
    std::string Caption;
    int ImageIndex = 11;  // 0 or less: no image
    // Both changed only through AppendKeyword and ClearKeywords, which keep
    // the lookup of a long list in step.
    std::string KeywordList = ",";              // "," then each keyword followed by ","
    std::vector<TKeywordKind> KeywordKindList;  // one kind per keyword, same order
    TKeywordKindSet EnabledKinds = KindBit(kkUser);
    std::string Anchor;  // appended to the address after "#" when not empty
    // Keywords that lead to a place on the entry's page, by keyword with
    // letter case folded: the anchor there.
    std::map<std::string, std::string> KeywordAnchors;

    TChmTreeItem* Item(int index) const { return static_cast<TChmTreeItem*>(Child(index)); }

    // Adds a child entry for a file; with readFile its caption is the page
    // title and its keywords come from the page. False only without a tree or
    // file set.
    bool AddFile(const std::string& fileName, bool readFile);
    // The same, answering the new entry (null when none was added).
    TChmTreeItem* AddFileEntry(const std::string& fileName, bool readFile);
    // Rereads title, keywords and links of the entry (and of those below).
    void Refresh(bool recursive);
    // The page title of a file, or the file name when it has none.
    std::string ReadTitle(const std::string& fileName);
    // The entry's address: file address plus "#" anchor.
    std::string Address() const;
    // Where the index keyword leads: the keyword's own anchor on the page
    // when it has one, else Address().
    std::string KeywordAddress(std::string_view keyword) const;
    // Sets the anchor a keyword of the entry leads to.
    void SetKeywordAnchor(std::string_view keyword, const std::string& anchor);
    // This entry as an id of the keyword index, and back.
    TStrId KeywordId() const { return reinterpret_cast<TStrId>(this); }
    static TChmTreeItem* FromKeywordId(TStrId id) { return reinterpret_cast<TChmTreeItem*>(id); }

    void MarkModified();

    // Appends a keyword (no comma in it) to the lists.
    void AppendKeyword(std::string_view keyword, TKeywordKind kind);
    void ClearKeywords();
    // Null while the list is short enough to read through.
    const TKeywordLookup* KeywordLookup() const { return keywordLookup_.get(); }

private:
    std::unique_ptr<TKeywordLookup> keywordLookup_;
};

// The tree must be destroyed before the file set it uses: destroying entries
// lowers the use counts of their files.
class TChmTree {
public:
    explicit TChmTree(TChmProjectHost* compiler = nullptr, TFiles* files = nullptr);
    ~TChmTree();
    TChmTree(const TChmTree&) = delete;
    TChmTree& operator=(const TChmTree&) = delete;

    // Keyword -> entries holding it (ids are entries, see TChmTreeItem::KeywordId).
    std::unique_ptr<TCustomStrFinder> Keywords;
    TChmProjectHost* Compiler;
    TFiles* Files;
    std::unique_ptr<TChmTreeItem> Root;
    int MaxKeywordLength = 32;
    int MinKeywordLength = 4;
    TKeywordKindSet KeywordKinds = KindBit(kkUser);  // kinds listed in the index

    // Frees every entry and the keyword index and starts both afresh
    // (keyword letter case then folded, as after creation).
    void Clear();
    // Text of the contents file; "&Properties;" is left for the project settings.
    std::string ContentsText() const;
    // Text of the index file; "&Properties;" is left for the project settings.
    std::string IndexText() const;
    // The same texts handed to sink in pieces of about a MB, each ending
    // between two items, so a large collection's are never whole in memory.
    void WriteContents(const std::function<void(std::string_view)>& sink) const;
    void WriteIndex(const std::function<void(std::string_view)>& sink) const;

    void MarkModified();
};

// Plain text of an HTML fragment: the common entities decoded, markup removed.
std::string HtmlToText(std::string_view text);
