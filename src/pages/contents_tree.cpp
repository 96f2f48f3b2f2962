// The contents tree, its file set and the keyword index of the catalogue's pages.
#include "pages/contents_tree.h"

#include "catalogue/collation.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "base/shared_functions.h"
#include "pages/html_escape.h"

namespace {

// Folder part of a file name including its trailing "/", empty without one.
std::string FolderWithSlash(std::string_view fileName) {
    std::size_t slash = fileName.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(fileName.substr(0, slash + 1));
}

// A link value naming something on the web ("http://...", "mailto:...")
// rather than a file beside the page.
bool IsUrl(std::string_view value) {
    if (value.find("://") != std::string_view::npos) return true;
    std::size_t colon = value.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    if (!std::isalpha(static_cast<unsigned char>(value[0]))) return false;
    for (std::size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

void BlankLineBreaks(std::string& text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
}

const char* const kCrLf = "\r\n";

}  // namespace

// ---------------------------------------------------------------------------
// HtmlToText

std::string HtmlToText(std::string_view html) {
    std::string text(html);
    ReplaceAll(text, "&nbsp;", " ", false);
    ReplaceAll(text, "&quot;", "\"", false);
    ReplaceAll(text, "&raquo;", "`", false);
    ReplaceAll(text, "&lt;", "<", false);
    ReplaceAll(text, "&gt;", ">", false);
    ReplaceAll(text, "&amp;", "&", false);

    std::string result;
    result.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t open = text.find('<', at);
        if (open == std::string::npos) {
            result.append(text, at, std::string::npos);
            break;
        }
        result.append(text, at, open - at);
        std::size_t close = text.find('>', open + 1);
        if (close == std::string::npos) break;  // an unclosed tag ends the text
        at = close + 1;
    }
    return result;
}

// ---------------------------------------------------------------------------
// TFileInfo

TFileInfo* TFileInfo::AddLinked(std::string_view fileName) {
    TFileInfo* r = Owner->Add(fileName, true);
    // A refused (missing) file is not recorded: a link list entry must always
    // name a file.
    if (r) {
        Linked.push_back(r);
        AddedLinks.push_back(r);
    }
    Owner->MarkModified();
    return r;
}

// ---------------------------------------------------------------------------
// TFiles

TFiles::TFiles(TChmProjectHost* compiler)
    : Compiler(compiler), PathIndex(std::make_unique<TCustomStrFinder>()), LinkFinder(std::make_unique<TPairFinder>()) {
    PathIndex->IgnoreCase = true;
    // Only the first pair registered for an opening marker is ever started,
    // so of each double/single-quote couple only the double-quote one matches;
    // single-quoted values are still found by the extension scan.
    static const char* const kLinkTags[][2] = {
        {"<link ", "href="}, {"<img ", "src="}, {"<script ", "src="}, {"<object ", "data="}, {"<applet ", "code="}};
    for (const auto& tag : kLinkTags) {
        for (const char* quote : {"\"", "'"}) {
            std::string open = std::string(tag[0]) + kCrLf + tag[1] + quote;
            LinkFinder->AddPair(open, quote, ">");
        }
    }
    LinkFinder->AddIgnore("\"", "\"");
    LinkFinder->AddIgnore("<!--", "-->");
    LinkFinder->AddIgnore("'", "'");
}

TFiles::~TFiles() = default;

void TFiles::MarkModified() {
    if (Compiler) Compiler->MarkModified();
}

TFileInfo* TFiles::Add(std::string_view fileName, bool verify) {
    std::string name(fileName);
    ReplaceAll(name, "%20", " ", false);

    TStrId found = PathIndex->Lookup(name);
    if (found >= 0 && found < Count()) {
        TFileInfo* r = Item(static_cast<int>(found));
        ++r->RefCount;
        return r;
    }
    const bool exists = !CheckExistence || FileExists(name);
    if (verify && !exists) return nullptr;

    Items.push_back(std::make_unique<TFileInfo>(this, name));
    TFileInfo* r = Items.back().get();
    PathIndex->Add(name, Count() - 1);
    if (!exists) {
        r->Missing = true;
        return r;
    }
    r->Location = name;
    r->RefCount = 1;
    MarkModified();
    return r;
}

TFileInfo* TFiles::AddWithLinks(std::string_view fileName, bool scanLinks) {
    TFileInfo* r = Add(fileName, false);
    if (!r || !scanLinks) return r;
    const int noted = Count();
    ScanLinks(r->FileName);
    for (int i = noted; i < Count(); ++i) r->Linked.push_back(Item(i));
    MarkModified();
    return r;
}

const std::string& TFiles::LoadText(const std::string& fileName) {
    if (fileName != CachedName) {
        CachedText = LoadTextFile(fileName);
        CachedName = fileName;
    }
    return CachedText;
}

void TFiles::ClearCache() {
    CachedName.clear();
    CachedText.clear();
}

void TFiles::ScanLinks(const std::string& fileName) {
    std::string text = LoadText(fileName);
    BlankLineBreaks(text);
    const std::string dir = FolderWithSlash(fileName);
    std::string root = PrepareRoot();
    if (root.empty() || root.back() != '/') root += '/';
    if (dir.compare(0, root.size(), root) != 0) root = dir;  // a page from elsewhere keeps to its folder

    // Only files of the working folder belong to the catalogue: text of a
    // page that merely names another file ("../../photo.jpg") adds nothing.
    auto addLink = [&](std::string_view value) {
        if (value.empty() || IsUrl(value)) return;
        const std::string path = std::filesystem::path(dir + std::string(value)).lexically_normal().string();
        if (path.compare(0, root.size(), root) != 0) return;
        Add(path, true);
    };

    if (LinkFinder->FindFirst(text)) {
        do addLink(LinkFinder->Content());
        while (LinkFinder->FindNext());
    }

    // Picture and movie names in any other spelling: unquoted attribute
    // values, script strings.
    static const char* const kExtensions[] = {".gif", ".jpg", ".jpeg", ".png", ".swf", ".bmp"};
    static const char kClosers[] = {'\'', '"', ' '};
    static const char* const kOpeners[] = {"'", "\"", "="};
    const int length = static_cast<int>(text.size());
    for (const char* ext : kExtensions) {
        const int extLength = static_cast<int>(std::char_traits<char>::length(ext));
        for (int p = PosFrom(ext, text, 1); p > 0; p = PosFrom(ext, text, p + 1)) {
            const int e = p + extLength;  // 1-based, just after the extension
            if (e > length || p < 2) continue;
            for (int k = 0; k < 3; ++k) {
                if (text[static_cast<std::size_t>(e - 1)] != kClosers[k]) continue;
                int o = LastPosBefore(kOpeners[k], text, p - 1);
                if (o > 0)
                    addLink(std::string_view(text).substr(static_cast<std::size_t>(o),
                                                          static_cast<std::size_t>(e - 1 - o)));
            }
        }
    }
    MarkModified();
}

std::string TFiles::AddressOf(std::string_view fileName) const {
    TStrId found = PathIndex->Lookup(fileName);
    if (found < 0 || found >= Count()) return std::string(fileName);
    const TFileInfo* r = Item(static_cast<int>(found));
    const std::string root = Compiler ? Compiler->ProjectRootFolder() : std::string();
    // Without a project root there is nothing to be relative to.
    if (root.empty()) return std::string(fileName);
    return RelativePath(r->Location.empty() ? r->FileName : r->Location, root);
}

std::string TFiles::FileList() const {
    std::string list;
    for (const auto& r : Items)
        if (r->RefCount > 0 && !r->Missing) {
            list += AddressOf(r->FileName);
            list += kCrLf;
        }
    return list;
}

std::string TFiles::PrepareRoot() { return GetAppTempFolder(); }

// ---------------------------------------------------------------------------
// TChmTreeItem

TChmTreeItem::TChmTreeItem(TTree* parent, TChmTree* tree) : TTree(parent), Tree(tree) {
    if (!Tree)
        if (auto* p = dynamic_cast<TChmTreeItem*>(parent)) Tree = p->Tree;
    if (Tree) EnabledKinds = Tree->KeywordKinds;
}

TChmTreeItem::~TChmTreeItem() {
    if (Tree && Tree->Keywords) {
        const TStrId id = KeywordId();
        ForEachListedKeyword(KeywordList, [&](std::string_view keyword, int) { Tree->Keywords->Remove(keyword, id); });
    }
    if (FileInfo) {
        --FileInfo->RefCount;
        for (TFileInfo* linked : FileInfo->Linked)
            if (linked) --linked->RefCount;
    }
}

void TChmTreeItem::AppendKeyword(std::string_view keyword, TKeywordKind kind) {
    const std::size_t start = KeywordList.size();
    KeywordList += keyword;
    KeywordList += ',';
    KeywordKindList.push_back(kind);
    // Below this many keywords reading the list is as quick as hashing.
    constexpr std::size_t kLookupFrom = 32;
    if (keywordLookup_)
        keywordLookup_->Append(KeywordList, start);
    else if (KeywordKindList.size() >= kLookupFrom)
        keywordLookup_ = std::make_unique<TKeywordLookup>(KeywordList);
}

void TChmTreeItem::ClearKeywords() {
    KeywordList = ",";
    KeywordKindList.clear();
    keywordLookup_.reset();
}

void TChmTreeItem::MarkModified() {
    if (Tree) Tree->MarkModified();
}

TChmTreeItem* TChmTreeItem::AddFileEntry(const std::string& fileName, bool readFile) {
    if (!Tree || !Tree->Files) return nullptr;
    TFileInfo* r = Tree->Files->AddWithLinks(fileName, readFile);
    TChmTreeItem* child = nullptr;
    if (r) {
        child = TTree::Make<TChmTreeItem>(this, Tree);
        child->FileInfo = r;
        if (readFile) {
            child->Caption = child->ReadTitle(fileName);
            const std::string page = Tree->Files->LoadText(fileName);
            ExtractKeywords(*child, page);
        }
    }
    MarkModified();
    return child;
}

bool TChmTreeItem::AddFile(const std::string& fileName, bool readFile) {
    if (!Tree || !Tree->Files) return false;
    AddFileEntry(fileName, readFile);
    return true;
}

std::string TChmTreeItem::ReadTitle(const std::string& fileName) {
    if (!Tree || !Tree->Files) return fileName;
    const std::string& text = Tree->Files->LoadText(fileName);
    TPairFinder finder;
    finder.AddPair("<title>", "</title>");
    if (!finder.FindFirst(text)) return fileName;
    std::string title = HtmlToText(finder.Content());
    BlankLineBreaks(title);
    return title;
}

void TChmTreeItem::Refresh(bool recursive) {
    if (FileInfo && Tree && Tree->Files) {
        TFiles& files = *Tree->Files;
        if (Tree->Compiler && Tree->Compiler->HasCompileProgress() &&
            !Tree->Compiler->ReportCompileProgress(Caption, 0, Caption))
            return;
        files.ClearCache();
        const std::string fileName = FileInfo->FileName;
        Caption = ReadTitle(fileName);
        const std::string page = files.LoadText(fileName);
        ExtractKeywords(*this, page);
        // Only the links found by scanning are counted again by the rescan;
        // files linked explicitly keep their use.
        for (TFileInfo* linked : FileInfo->Linked)
            if (linked && std::find(FileInfo->AddedLinks.begin(), FileInfo->AddedLinks.end(), linked) ==
                              FileInfo->AddedLinks.end())
                --linked->RefCount;
        files.AddWithLinks(fileName, true);
        --FileInfo->RefCount;
    }
    if (recursive)
        for (int i = 0; i < Count(); ++i) Item(i)->Refresh(true);
    MarkModified();
}

std::string TChmTreeItem::Address() const {
    if (!FileInfo) return {};
    std::string url =
        FileInfo->Missing || !Tree || !Tree->Files ? FileInfo->FileName : Tree->Files->AddressOf(FileInfo->FileName);
    if (!Anchor.empty()) url += "#" + Anchor;
    return url;
}

namespace {

std::string FoldedKeyword(std::string_view keyword) {
    std::string key(Trim(std::string(keyword)));
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return key;
}

}  // namespace

std::string TChmTreeItem::KeywordAddress(std::string_view keyword) const {
    const auto found = KeywordAnchors.find(FoldedKeyword(keyword));
    if (found == KeywordAnchors.end() || !FileInfo) return Address();
    std::string url =
        FileInfo->Missing || !Tree || !Tree->Files ? FileInfo->FileName : Tree->Files->AddressOf(FileInfo->FileName);
    return url + "#" + found->second;
}

void TChmTreeItem::SetKeywordAnchor(std::string_view keyword, const std::string& anchor) {
    KeywordAnchors[FoldedKeyword(keyword)] = anchor;
}

// ---------------------------------------------------------------------------
// TChmTree

TChmTree::TChmTree(TChmProjectHost* compiler, TFiles* files)
    : Keywords(std::make_unique<TCustomStrFinder>()), Compiler(compiler), Files(files) {
    Root = std::make_unique<TChmTreeItem>(nullptr, this);
}

TChmTree::~TChmTree() {
    // The index goes first, whole: entries then have no keywords to withdraw
    // one by one, which takes seconds for a large collection.
    Keywords.reset();
    Root.reset();
}

void TChmTree::MarkModified() {
    if (Compiler) Compiler->MarkModified();
}

void TChmTree::Clear() {
    Keywords.reset();
    Root.reset();
    Keywords = std::make_unique<TCustomStrFinder>();
    Keywords->IgnoreCase = true;
    Root = std::make_unique<TChmTreeItem>(nullptr, this);
    MarkModified();
}

namespace {

// Sitemap text on its way to a sink: handed on once a piece is this long.
class TSitemapOut {
public:
    explicit TSitemapOut(const std::function<void(std::string_view)>& sink) : sink_(sink) {}
    std::string& operator*() { return text_; }
    // Called between items, where a piece may end.
    void ItemDone() {
        if (text_.size() >= kPiece) Flush();
    }
    void Flush() {
        if (!text_.empty()) sink_(text_);
        text_.clear();
    }

private:
    static constexpr std::size_t kPiece = std::size_t{1} << 20;
    const std::function<void(std::string_view)>& sink_;
    std::string text_;
};

void AppendEntry(TSitemapOut& piece, const TChmTreeItem& entry) {
    std::string& out = *piece;
    out += "<LI> <OBJECT type=\"text/sitemap\">\r\n";
    out += "<param name=\"Name\" value=\"" + HtmlEscape(entry.Caption) + "\">\r\n";
    out += "<param name=\"Local\" value=\"" + HtmlEscape(entry.Address()) + "\">\r\n";
    if (entry.ImageIndex > 0)
        out += "<param name=\"ImageNumber\" value=\"" + std::to_string(entry.ImageIndex) + "\">\r\n";
    out += "</OBJECT>\r\n";
    piece.ItemDone();
    if (entry.Count() > 0) {
        *piece += "<UL>\r\n";
        for (int i = 0; i < entry.Count(); ++i) AppendEntry(piece, *entry.Item(i));
        *piece += "</UL>\r\n";
    }
}

void AppendIndexItem(std::string& out, std::string_view name, const std::string& address) {
    out += "<LI> <OBJECT type=\"text/sitemap\">\r\n";
    out += "<param name=\"Name\" value=\"" + HtmlEscape(name) + "\">\r\n";
    out += "<param name=\"Local\" value=\"" + HtmlEscape(address) + "\">\r\n";
    out += "</OBJECT>\r\n";
}

}  // namespace

std::string TChmTree::ContentsText() const {
    std::string text;
    WriteContents([&](std::string_view piece) { text += piece; });
    return text;
}

std::string TChmTree::IndexText() const {
    std::string text;
    WriteIndex([&](std::string_view piece) { text += piece; });
    return text;
}

void TChmTree::WriteContents(const std::function<void(std::string_view)>& sink) const {
    TSitemapOut piece(sink);
    *piece +=
        "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\r\n"
        "<HTML><BODY>\r\n"
        "&Properties;<UL>\r\n";
    if (Root)
        for (int i = 0; i < Root->Count(); ++i) AppendEntry(piece, *Root->Item(i));
    *piece += "</UL>\r\n</BODY></HTML>\r\n";
    piece.Flush();
}

// Every index item is one Name followed by one Local. Viewers differ on an
// item with several Name params (some show the last one instead of the
// keyword, and the help compiler turns the extra names into links to no
// page), so a keyword of several pages opens the first one itself and lists
// each page below it under the page's caption.
void TChmTree::WriteIndex(const std::function<void(std::string_view)>& sink) const {
    TSitemapOut piece(sink);
    std::string& out = *piece;
    out += "<HTML><HEAD></HEAD><BODY><UL>\r\n&Properties;";
    if (Keywords) {
        // The index lists its keywords in the order the contents tree uses
        // for names, not in byte order.
        struct TListed {
            std::string sortKey, key;
            std::vector<const TChmTreeItem*> entries;
        };
        std::vector<TListed> keywords;
        const TCollator collator(CollationLocaleFromEnvironment());
        Keywords->ForEachKey([&](std::string_view key, const TLetterTree& node) {
            TListed listed;
            const TID* first = node.IDs;
            const TID* id = first;
            do {
                const TChmTreeItem* entry = TChmTreeItem::FromKeywordId(id->Value);
                const int at = KeywordIndexOf(*entry, key);
                if (at >= 0 && at < static_cast<int>(entry->KeywordKindList.size()) &&
                    HasKind(entry->EnabledKinds, entry->KeywordKindList[static_cast<std::size_t>(at)]))
                    listed.entries.push_back(entry);
                id = id->NextID;
            } while (id != first);
            if (listed.entries.empty()) return;
            listed.key = Trim(std::string(key));
            listed.sortKey = collator.SortKey(listed.key);
            keywords.push_back(std::move(listed));
        });
        std::stable_sort(keywords.begin(), keywords.end(),
                         [](const TListed& a, const TListed& b) { return a.sortKey < b.sortKey; });
        for (const TListed& k : keywords) {
            AppendIndexItem(out, k.key, k.entries.front()->KeywordAddress(k.key));
            if (k.entries.size() > 1) {
                out += "<UL>\r\n";
                for (const TChmTreeItem* entry : k.entries) {
                    // A nameless item would be merged into its neighbour by some viewers.
                    const std::string caption = Trim(entry->Caption);
                    AppendIndexItem(out, caption.empty() ? entry->Address() : entry->Caption,
                                    entry->KeywordAddress(k.key));
                }
                out += "</UL>\r\n";
            }
            piece.ItemDone();
        }
    }
    out += "</UL></BODY></HTML>\r\n";
    piece.Flush();
}
