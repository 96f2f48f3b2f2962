#include "chm/chm_preparer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sstream>

#include "audio/audio_info.h"
#include "chm/html_escape.h"
#include "chm/keywords.h"
#include "chm/zip_reader.h"
#include "collection/collection.h"
#include "collection/mount_table.h"
#include "collection/string_index.h"
#include "platform/exe_dir.h"
#include "platform/special_folders.h"
#include "services/configer.h"
#include "services/language.h"

namespace {

const char* const kItemBegin = "<!--Item.Begin-->";
const char* const kItemEnd = "<!--Item.End-->";
const char* const kGroupBegin = "<!--GroupBegin-->";
const char* const kGroupEnd = "<!--GroupEnd-->";
constexpr long long kBeginLength = 17;
constexpr long long kEndLength = 15;

// Part of text from the 1-based position start, count characters long.
std::string CopyPart(std::string_view text, long long start, long long count) {
    if (start < 1) start = 1;
    const auto size = static_cast<long long>(text.size());
    if (count <= 0 || start > size) return {};
    return std::string(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

// 1-based position of marker in text, 0 when absent.
long long PosOf(std::string_view marker, std::string_view text) {
    const std::size_t at = text.find(marker);
    return at == std::string_view::npos ? 0 : static_cast<long long>(at) + 1;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() && SameText(text.substr(at, prefix.size()), prefix);
}

const char* const kDefaultHelpLanguage = "0x409 English (United States)";

const char* const kChannelTexts[] = {"", Translatable("Stereo"), Translatable("Joint Stereo"),
                                     Translatable("Dual Channel"), Translatable("Mono")};

std::string ChannelText(std::int32_t code) {
    const int low = static_cast<int>(static_cast<std::uint32_t>(code) & 0x7Fu);
    // Codes the readers never produce show nothing rather than a guess.
    return low >= 1 && low < 5 ? Translate(kChannelTexts[low]) : "";
}

// Page texts carry numbers and names; they must read right even without a
// language table, where Translate leaves "$1" as it is.
std::string PageText(std::string_view text, std::initializer_list<std::string_view> params) {
    std::string result = Translate(text);
    SubstituteParams(result, Params(params));
    return result;
}

bool IsPageFile(const std::string& fileName) {
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    return ext == ".HTML" || ext == ".HTM";
}

std::string ArchiveFileName() { return JoinPath(ExeDir(), "data"); }

std::string ErrnoText(int error) { return std::strerror(error); }

// Writes all of data to fd; false on a write error.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

struct TGrouping {
    const char* plural;
    const char* singular;
    const char* indexPage;
    const char* prefix;
    int stage;
    int field;
};

const TGrouping kGroupings[] = {
    {Translatable("Artists"), Translatable("Artist"), "artists.htm", "art", 2, atArtist},
    {Translatable("Albums"), Translatable("Album"), "albums.htm", "alb", 3, atAlbum},
    {Translatable("Years"), Translatable("Year"), "years.htm", "year", 4, atYear},
    {Translatable("Genres"), Translatable("Genre"), "genres.htm", "gen", 5, atGenre},
};

}  // namespace

TPageTemplates CutPageTemplate(std::string_view text) {
    const long long ib = PosOf(kItemBegin, text);
    const long long ie = PosOf(kItemEnd, text);
    const long long gb = PosOf(kGroupBegin, text);
    const long long ge = PosOf(kGroupEnd, text);
    TPageTemplates parts;
    parts.Item = CopyPart(text, ib + kBeginLength, ie - ib - kBeginLength);
    parts.Group = CopyPart(text, gb + kBeginLength, ge - gb - kBeginLength);
    const std::string head = CopyPart(text, 1, std::min(ib, gb) - 1);
    const std::string tail = CopyPart(text, std::max(ie, ge) + kEndLength, LLONG_MAX);
    parts.Page = head + "$Item" + tail;
    return parts;
}

std::string FillPlaceholders(std::string_view text, const TPlaceholders& values) {
    std::string out;
    out.reserve(text.size() + 256);
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t dollar = text.find('$', i);
        if (dollar == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, dollar - i));
        i = dollar + 1;
        bool matched = false;
        for (const auto& [name, value] : values) {
            if (StartsWithNoCase(text, dollar, name)) {
                out.append(value);
                i = dollar + name.size();
                matched = true;
                break;
            }
        }
        if (!matched) out.push_back('$');
    }
    return out;
}

std::string TranslatePageText(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = html.find(kPageTextBegin, pos);
        if (open == std::string_view::npos) break;
        const std::size_t start = open + std::strlen(kPageTextBegin);
        const std::size_t close = html.find(kPageTextEnd, start);
        // An unclosed marker leaves the rest as it stands.
        if (close == std::string_view::npos) break;
        out.append(html.substr(pos, open - pos));
        out += Translate(PageTextKey(html.substr(start, close - start)));
        pos = close + std::strlen(kPageTextEnd);
    }
    out.append(html.substr(pos));
    return out;
}

std::string PageTextKey(std::string_view text) {
    std::string key;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = !key.empty();
            continue;
        }
        if (blank) key += ' ';
        blank = false;
        key += c;
    }
    return key;
}

std::string GroupPageName(std::string_view prefix, std::string_view name) {
    std::string page(prefix);
    page += '-';
    page += HexEncode(Md5Digest(name));
    page += ".htm";
    return page;
}

int LeadingYear(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) return 0;
    }
    if (!digits) return 0;
    return static_cast<int>(negative ? -value : value);
}

TMountTable::TMountTable() {
    for (const TMountEntry& m : ReadMountTable()) points_.push_back(m.mountPoint);
    Normalize();
}

TMountTable::TMountTable(std::vector<std::string> mountPoints) : points_(std::move(mountPoints)) { Normalize(); }

void TMountTable::Normalize() {
    for (std::string& p : points_)
        while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::stable_sort(points_.begin(), points_.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string TMountTable::MountPointOf(std::string_view fileName) const {
    for (const std::string& p : points_) {
        if (p == "/") {
            if (!fileName.empty() && fileName[0] == '/') return p;
            continue;
        }
        if (fileName.size() > p.size() && fileName.compare(0, p.size(), p) == 0 && fileName[p.size()] == '/')
            return p;
    }
    return {};
}

std::string DatabaseDestination(const std::string& outputPath, int placeTo) {
    const std::string folder = PlaceFolder(placeTo);
    // Without a home folder there is no such place; the chosen name stands.
    if (folder.empty()) return outputPath;
    return JoinPath(folder, kPlacedDatabaseName);
}

int ConfiguredPlaceTo() {
    TConfiger* configer = AppConfiger();
    if (!configer) return 1;
    long long value = 0;
    if (!TryStrToInt(configer->ReadString("Session", "PlaceTo"), value) || value < INT_MIN || value > INT_MAX)
        return 1;
    return static_cast<int>(value);
}

bool CopyFileAtomic(const std::string& source, const std::string& target, std::string& error) {
    error.clear();
    const std::string folder = ExtractFileDir(target);
    const std::string name = ExtractFileName(target);
    if (name.empty()) {
        error = Translate("No file name was given.");
        return false;
    }
    if (!folder.empty() && !DirectoryExists(folder) && !ForceFolders("", folder, false)) {
        error = Translate("Cannot create the folder \"$1\": $2", Params({folder, ErrnoText(errno)}));
        return false;
    }
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = Translate("Cannot read \"$1\": $2", Params({source, ErrnoText(errno)}));
        return false;
    }
    std::string temp = JoinPath(folder.empty() ? "." : folder, "." + name + ".XXXXXX");
    const int out = ::mkstemp(temp.data());
    if (out < 0) {
        error = Translate("Cannot write in the folder \"$1\": $2", Params({folder, ErrnoText(errno)}));
        ::close(in);
        return false;
    }
    bool ok = true;
    int failure = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            failure = errno;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, buffer, static_cast<std::size_t>(n))) {
            ok = false;
            failure = errno;
            break;
        }
    }
    // mkstemp makes the file private; a catalogue gets the usual mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (ok && ::fchmod(out, 0666 & ~mask) != 0) {
        ok = false;
        failure = errno;
    }
    if (ok && ::fsync(out) != 0) {
        ok = false;
        failure = errno;
    }
    if (::close(out) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    ::close(in);
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        error = Translate("Cannot write \"$1\": $2", Params({target, ErrnoText(failure)}));
    }
    return ok;
}

TChmPreparer::TChmPreparer() {
    LoadTemplate();
    Compiler = std::make_unique<TChmCompiler>();
    // The working folder already holds the pages when compiling starts.
    Compiler->ClearWorkingFolder = false;
    Compiler->Files->CheckExistence = false;
    Compiler->OnCompileProgress = [this](const std::string& status, int percent, const std::string& line) {
        return ForwardCompileProgress(status, percent, line);
    };
}

TChmPreparer::~TChmPreparer() = default;

bool TChmPreparer::ForwardCompileProgress(const std::string& status, int percent, const std::string& line) {
    return OnCompileProgress ? OnCompileProgress(status, percent, line) : false;
}

void TChmPreparer::LoadTemplate() {
    TKAZip zip;
    zip.Open(ArchiveFileName());
    const int at = zip.IndexOf("template.html");
    std::ostringstream text;
    zip.ExtractToStream(zip.Entries().Items(at), text);
    zip.Close();
    // Viewers read compiled pages in the code page of their language, so the
    // template's own letters go in as character references, like the values.
    TPageTemplates parts = CutPageTemplate(NonAsciiToCharRefs(TranslatePageText(text.str())));
    PageTemplate = std::move(parts.Page);
    GroupTemplate = std::move(parts.Group);
    ItemTemplate = std::move(parts.Item);
}

void TChmPreparer::ExtractNeedFiles(const std::string& folder) {
    TKAZip zip;
    zip.Open(ArchiveFileName());
    zip.SelectMatching("Need\\*.*");
    zip.SetOverwriteAction(oaOverwriteAll);
    for (const TKAZipEntriesEntry& entry : zip.Entries()) {
        // A folder has no flat copy; its files come on their own.
        if (!entry.Selected || entry.IsFolder()) continue;
        const std::string target = JoinPath(folder, ExtractFileName(entry.ArchiveName()));
        zip.ExtractToFile(entry, target);
        NeedFiles.push_back(target);
    }
    zip.ExtractSelected(folder);
    zip.Close();
    // The shared pages speak the user's language as the generated ones do.
    for (const std::string& file : NeedFiles)
        if (IsPageFile(file)) SaveTextFile(NonAsciiToCharRefs(TranslatePageText(LoadTextFile(file))), file);
}

void TChmPreparer::Run(TMP3Collection& collection) {
    std::vector<const TAudioInfo*> files;
    files.reserve(static_cast<std::size_t>(std::max(collection.Count(), 0)));
    for (int i = 0; i < collection.Count(); ++i) files.push_back(&collection.Items(i));
    Run(files);
}

void TChmPreparer::Run(const std::vector<const TAudioInfo*>& files) {
    placed_ = false;
    failureReason_.clear();
    if (OutputPath.empty()) {
        failureReason_ = Translate("No database file name was given.");
        return;
    }
    GeneratePages(files);
    CompileAndPlace();
}

void TChmPreparer::GeneratePages(const std::vector<const TAudioInfo*>& files) {
    workingFolder_ = GetAppTempFolder();
    ExtractNeedFiles(workingFolder_);
    mounts_ = std::make_unique<TMountTable>();

    // Files without an artist link to the artists' "Unknown" group; see
    // WriteGrouping for the name of its page.
    const std::string unknown = Translate("Unknown");
    const bool unknownTaken = std::any_of(files.begin(), files.end(),
                                          [&](const TAudioInfo* f) { return f->GetText(atArtist) == unknown; });
    unknownArtistPage_ = GroupPageName("art", unknownTaken ? std::string_view() : std::string_view(unknown));

    for (const TGrouping& g : kGroupings) {
        TCustomStrFinder index;
        index.IgnoreCase = false;
        for (std::size_t id = 0; id < files.size(); ++id) {
            if (g.field == atYear)
                index.Add(std::to_string(LeadingYear(files[id]->GetText(atYear))), static_cast<TStrId>(id));
            else
                index.Add(files[id]->GetText(g.field), static_cast<TStrId>(id));
        }
        WriteGrouping(files, index, Translate(g.plural), Translate(g.singular), g.indexPage, g.prefix, g.stage);
    }

    TChmTreeItem& root = *Compiler->Tree->Root;
    if (root.Count() > 0 && root.Item(0)->FileInfo)
        for (const std::string& need : NeedFiles) root.Item(0)->FileInfo->AddLinked(need);

    if (OnStage) OnStage(0, 0);
    Compiler->Ini->WriteValue("Options.HHP.Options", "Default topic", "main.html");
    // Viewers refuse a compiled file without a language id. Our pages are
    // pure ASCII, so any language reads them; the configuration may choose.
    TConfiger* configer = AppConfiger();
    if (!configer || configer->ReadString("Options.HHP.Options", "Language").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Language", kDefaultHelpLanguage);
}

void TChmPreparer::CompileAndPlace() {
    placed_ = false;
    failureReason_.clear();
    std::string compiled;
    Compiler->Compile(compiled);

    OutputPath = DatabaseDestination(OutputPath, PlaceTo ? *PlaceTo : ConfiguredPlaceTo());
    if (compiled.empty() || !FileExists(compiled)) {
        failureReason_ = Translate("The help compiler did not produce the database.");
        return;
    }
    std::string error;
    if (!CopyFileAtomic(compiled, OutputPath, error)) {
        failureReason_ = error;
        return;
    }
    placed_ = true;
}

void TChmPreparer::WriteGrouping(const std::vector<const TAudioInfo*>& files, TCustomStrFinder& index,
                                 const std::string& pluralCaption, const std::string& singularCaption,
                                 const std::string& indexPage, const std::string& prefix, int stage) {
    const std::string& w = workingFolder_.empty() ? (workingFolder_ = GetAppTempFolder()) : workingFolder_;
    if (!mounts_) mounts_ = std::make_unique<TMountTable>();
    const bool withKeywords = prefix == "art";

    TChmTreeItem* indexEntry = Compiler->Tree->Root->AddFileEntry(JoinPath(w, indexPage), false);
    indexEntry->Caption = pluralCaption;
    indexEntry->ImageIndex = 0;

    // The empty value is shown as "Unknown". When a real group has that very
    // name, the empty one takes the page named after the empty text, so the
    // two never share (and overwrite) one page.
    const std::string unknown = Translate("Unknown");
    const bool unknownTaken = index.Lookup(unknown) >= 0;

    std::vector<std::string> names;
    index.ForEachKey([&](std::string_view key, const TLetterTree&) { names.emplace_back(key); });

    std::string rows;
    int count = 0;
    for (const std::string& name : names) {
        const bool empty = name.empty();
        const std::string& displayed = empty ? unknown : name;
        const std::string page = GroupPageName(prefix, empty && unknownTaken ? std::string_view() : displayed);
        index.Select(name);
        const std::vector<TStrId> ids = index.SelectedIDs();
        if (ids.empty()) continue;

        const std::string shownName = HtmlEscape(displayed);
        const std::string link = "<a href=\"" + page + "\">" + shownName + "</a>";
        const std::string total = HtmlEscape(PageText("Total: $1 files", {std::to_string(ids.size())}));
        rows += FillPlaceholders(GroupTemplate,
                                 {{"$Color", count % 2 == 0 ? "odd" : "even"}, {"$Main", link}, {"$Title", total}});

        TChmTreeItem* groupEntry = indexEntry->AddFileEntry(JoinPath(w, page), false);
        groupEntry->Caption = displayed;
        groupEntry->ImageIndex = 0;

        std::string items;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const TAudioInfo& f = *files.at(static_cast<std::size_t>(ids[i]));
            const std::string& artist = f.GetText(atArtist);
            const std::string& title = f.GetText(atTitle);
            if (withKeywords) {
                AddUserKeyword(*groupEntry, artist);
                AddUserKeyword(*groupEntry, title);
                if (!f.GetText(atAlbum).empty()) AddUserKeyword(*groupEntry, f.GetText(atAlbum));
            }
            const std::string& fileName = f.GetText(atFileName);
            const std::string diskName = HtmlEscape(PageText("Hard disk ($1)", {mounts_->MountPointOf(fileName)}));
            const std::string artFile = artist.empty() ? unknownArtistPage_ : GroupPageName("art", artist);
            const std::string bitrate = std::to_string(f.GetNumber(anBitRate)) + "Kbit";
            const std::string samplerate =
                std::to_string(f.GetNumber(anSampleRate)) + "Hz " + ChannelText(f.GetNumber(anChannelCode));
            items += FillPlaceholders(ItemTemplate, {
                                                        {"$DiskName", diskName},
                                                        {"$Disk", "HDD"},
                                                        {"$ArtFilename", artFile},
                                                        {"$Artist", HtmlEscape(artist)},
                                                        {"$Title", HtmlEscape(title)},
                                                        {"$File", HtmlEscape(fileName)},
                                                        {"$Time", FormatDuration(f.GetNumber(anPlayingTime))},
                                                        {"$Bitrate", bitrate},
                                                        {"$Samplerate", samplerate},
                                                        {"$Color", i % 2 == 0 ? "odd" : "even"},
                                                    });
        }
        const std::string title = HtmlEscape(singularCaption + ": " + displayed);
        SaveTextFile(FillPlaceholders(PageTemplate, {{"$Title", title}, {"$Item", items}}), JoinPath(w, page));
        ++count;
        if (OnStage) OnStage(stage, count);
    }
    const std::string title = HtmlEscape(pluralCaption);
    SaveTextFile(FillPlaceholders(PageTemplate, {{"$Title", title}, {"$Item", rows}}), JoinPath(w, indexPage));
}
