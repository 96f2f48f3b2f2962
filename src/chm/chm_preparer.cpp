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
#include "base/atomic_file.h"
#include "chm/html_escape.h"
#include "chm/keywords.h"
#include "chm/page_names.h"
#include "chm/zip_reader.h"
#include "collection/collection.h"
#include "collection/mount_table.h"
#include "collection/string_index.h"
#include "base/exe_dir.h"
#include "platform/special_folders.h"
#include "services/configer.h"
#include "base/language.h"

namespace {

const char* const kDefaultHelpLanguage = "0x409 English (United States)";

const char* const kChannelTexts[] = {"", Translatable("Stereo"), Translatable("Joint Stereo"),
                                     Translatable("Dual Channel"), Translatable("Mono")};

std::string ChannelText(std::int32_t code) {
    const int low = static_cast<int>(static_cast<std::uint32_t>(code) & 0x7Fu);
    // Codes the readers never produce show nothing rather than a guess.
    return low >= 1 && low < 5 ? Translate(kChannelTexts[low]) : "";
}

std::string PageText(std::string_view text, std::initializer_list<std::string_view> params) {
    return Translate(text, Params(params));
}

bool IsPageFile(const std::string& fileName) {
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    return ext == ".HTML" || ext == ".HTM";
}

std::string ArchiveFileName() { return JoinPath(ExeDir(), "data"); }

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

std::string LoadArchivedTemplate() {
    const std::string archive = ArchiveFileName();
    try {
        TKAZip zip;
        zip.Open(archive);
        const int at = zip.IndexOf("template.html");
        if (at < 0)
            throw EDataArchiveError(
                Translate("The data archive \"$1\" holds no page template (\"template.html\").", Params({archive})));
        std::ostringstream text;
        zip.ExtractToStream(zip.Entries().Items(at), text);
        zip.Close();
        return text.str();
    } catch (const EDataArchiveError&) {
        throw;
    } catch (const Exception& e) {
        throw EDataArchiveError(Translate("The data archive \"$1\" cannot be read: $2", Params({archive, e.Message()})));
    }
}

void TChmPreparer::LoadTemplate() {
    const std::string text = LoadArchivedTemplate();
    // Viewers read compiled pages in the code page of their language, so the
    // template's own letters go in as character references, like the values.
    TPageTemplates parts = CutPageTemplate(NonAsciiToCharRefs(TranslatePageText(text)));
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
    if (FullTextSearch)
        Compiler->Ini->WriteValue("Options.HHP.Options", "Full-text search", *FullTextSearch ? "Yes" : "No");
    else if (!configer || configer->ReadString("Options.HHP.Options", "Full-text search").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Full-text search", "Yes");
}

void TChmPreparer::CompileAndPlace() {
    placed_ = false;
    failureReason_.clear();
    std::string compiled;
    Compiler->Compile(compiled);

    if (compiled.empty() || !FileExists(compiled)) {
        failureReason_ = Translate("The help compiler did not produce the database.");
        return;
    }
    try {
        CopyFileAtomic(compiled, OutputPath);
    } catch (const EOSError& e) {
        failureReason_ = e.what();
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
