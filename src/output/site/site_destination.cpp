// Checks of the folder a web site goes to, made before the scan.
#include "output/site/site_destination.h"

#include "base/language.h"
#include "output/site/site_folder.h"
#include "output/site/web_site.h"

TDestination ResolveSiteDestination(const std::string& chosenFolder, int placeTo,
                                    const std::vector<std::string>& catalogued) {
    TDestination result;
    result.Path = SiteDestination(chosenFolder, placeTo);
    while (result.Path.size() > 1 && result.Path.back() == '/') result.Path.pop_back();
    result.Problem = MusicOverlapProblem(result.Path, catalogued);
    if (result.Problem.empty()) result.Problem = SiteReplaceProblem(result.Path);
    if (!result.Problem.empty()) {
        result.State = TDestinationState::Refused;
        return result;
    }
    if (IsOurSite(result.Path)) result.State = TDestinationState::ExistingFile;
    // The site is built beside its folder, so the folder above must take files.
    CheckWritableFolder(result);
    return result;
}

std::string SiteOverwriteQuestion(const std::string& folder) {
    return Translate("The web site \"$1\" already exists. Do you want to replace it?", Params({folder}));
}
