// The table of catalogue kinds.
#include "run/output_kinds.h"

#include <algorithm>

#include "base/language.h"
#include "base/shared_functions.h"
#include "output/site/site_destination.h"
#include "output/site/web_site.h"
#include "platform/special_folders.h"
#include "run/build_run.h"
#include "services/configer.h"

namespace {

std::string CompiledTarget(const std::string& chosen, int placeTo) {
    return DatabaseDestination(WithChmExtension(chosen), placeTo);
}

TDestination ResolveCompiled(const std::string& chosen, int placeTo, const std::vector<std::string>& catalogued) {
    return ResolveDestination(WithChmExtension(chosen), placeTo, catalogued);
}

std::string ItSelf(const std::string& path) { return path; }

void NothingToPrepare(int) {}

const std::vector<TOutputKindRow> kRows = {
    {TOutputKind::CompiledHelp, "chm", Translatable("Compiled help file (.chm)"),
     Translatable("Filename for database"), Translatable("The catalogue will be written to: $1"),
     Translatable("Compiling: $1%"), false, &CompiledTarget, &ResolveCompiled, &OverwriteQuestion, &ItSelf,
     &PrepareCompiledHelp, &MakeCompiledHelp},
    {TOutputKind::WebPages, "html", Translatable("Web pages (folder)"), Translatable("Folder for the web pages"),
     Translatable("The web pages will be written to the folder: $1"), Translatable("Writing the web pages: $1%"),
     true, &SiteDestination, &ResolveSiteDestination, &SiteOverwriteQuestion, &SiteStartPage,
     &NothingToPrepare, &MakeWebSite},
};

}  // namespace

const std::vector<TOutputKindRow>& OutputKinds() { return kRows; }

const TOutputKindRow& OutputKindRowOf(TOutputKind kind) {
    const auto row = std::find_if(kRows.begin(), kRows.end(), [&](const TOutputKindRow& r) { return r.Kind == kind; });
    return row != kRows.end() ? *row : kRows.front();
}

TOutputKind ConfiguredOutputKind() {
    TConfiger* configer = AppConfiger();
    const std::string stored = configer ? configer->ReadString("Session", "OutputKind") : std::string();
    for (const TOutputKindRow& row : kRows)
        if (stored == row.Value) return row.Kind;
    return TOutputKind::CompiledHelp;
}

std::string OutputKindValue(TOutputKind kind) { return OutputKindRowOf(kind).Value; }

std::string ConfiguredSiteFolder() {
    TConfiger* configer = AppConfiger();
    const std::string folder = configer ? configer->ReadString("Session", "SiteFolder") : std::string();
    return folder.empty() ? JoinPath(DocumentsFolder(), kSiteFolderName) : folder;
}
