// Reading the template and the shared files from the data archive.
#include "pages/data_archive.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "base/exe_dir.h"
#include "base/language.h"
#include "base/zip_reader.h"
#include "pages/page_template.h"

namespace {

bool IsPageFile(const std::string& fileName) {
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    return ext == ".HTML" || ext == ".HTM";
}

}  // namespace

std::string DataArchivePath() { return JoinPath(ExeDir(), "data"); }

// One member's bytes; missing() gives the message for a member not there.
template <class Missing>
std::string ReadMember(const std::string& name, Missing missing) {
    const std::string archive = DataArchivePath();
    try {
        TKAZip zip;
        zip.Open(archive);
        const int at = zip.IndexOf(name);
        if (at < 0) throw EDataArchiveError(missing(archive));
        std::ostringstream text;
        zip.ExtractToStream(zip.Entries().Items(at), text);
        zip.Close();
        return text.str();
    } catch (const EDataArchiveError&) {
        throw;
    } catch (const Exception& e) {
        throw EDataArchiveError(
            Translate("The data archive \"$1\" cannot be read: $2", Params({archive, e.Message()})));
    }
}

std::string LoadArchivedFile(const std::string& name) {
    return ReadMember(name, [&](const std::string& archive) {
        return Translate("The data archive \"$1\" cannot be used: member \"$2\": $3",
                         Params({archive, name, std::strerror(ENOENT)}));
    });
}

std::string LoadArchivedTemplate() {
    return ReadMember("template.html", [](const std::string& archive) {
        return Translate("The data archive \"$1\" holds no page template (\"template.html\").", Params({archive}));
    });
}

void CheckDataArchive() {
    LoadArchivedTemplate();
    const std::string archive = DataArchivePath();
    TKAZip zip;
    try {
        zip.Open(archive);
    } catch (const Exception& e) {
        throw EDataArchiveError(Translate("The data archive \"$1\" cannot be read: $2", Params({archive, e.Message()})));
    }
    for (const TKAZipEntriesEntry& entry : zip.Entries())
        if (const std::string problem = zip.EntryProblem(entry); !problem.empty())
            throw EDataArchiveError(Translate("The data archive \"$1\" cannot be used: member \"$2\": $3",
                                              Params({archive, entry.FileName, problem})));
}

TStringList ExtractNeedFiles(const std::string& folder) {
    TStringList flat;
    TKAZip zip;
    zip.Open(DataArchivePath());
    zip.SelectMatching("Need\\*.*");
    zip.SetOverwriteAction(oaOverwriteAll);
    for (const TKAZipEntriesEntry& entry : zip.Entries()) {
        // A folder has no flat copy; its files come on their own.
        if (!entry.Selected || entry.IsFolder()) continue;
        const std::string target = JoinPath(folder, ExtractFileName(entry.ArchiveName()));
        zip.ExtractToFile(entry, target);
        flat.push_back(target);
    }
    zip.ExtractSelected(folder);
    zip.Close();
    // The shared pages speak the user's language as the generated ones do.
    for (const std::string& file : flat)
        if (IsPageFile(file)) SaveTextFile(TranslatePageText(LoadTextFile(file)), file);
    return flat;
}
