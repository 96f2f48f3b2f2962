#pragma once
// The folder a web site lives in, and the only ways a run may change it: a
// site is built in a claimed staging folder beside its destination, lists
// every file it holds in a manifest, and is put in place by a rename. An
// existing folder is replaced only when it is empty or a site of ours that
// holds nothing but what its manifest lists; an old site is removed file by
// file from that list, never across a mount point, never through a link.
#include <string>

#include "base/folder_claim.h"

// The file that tells a site folder of ours from any other folder.
inline constexpr const char* kSiteMarkerName = ".orvalis-site";
// The files of the site, one relative path a line.
inline constexpr const char* kSiteManifestName = ".orvalis-manifest";

// Whether folder holds our marker.
bool IsOurSite(const std::string& folder);

// Why a run may not put a site in place of folder: empty text when folder is
// missing, empty, or a site of ours holding only what its manifest lists;
// otherwise the message to show, naming what is not ours.
std::string SiteReplaceProblem(const std::string& folder);

// Writes the manifest of the site being built in folder: every file below it.
void WriteSiteManifest(const std::string& folder);

// Removes a site of ours: the files its manifest lists, then the folders
// they leave empty and its own marker files. Anything else stays where it is,
// with the folders that hold it.
void RemoveSiteFolder(const std::string& folder);

// A claimed folder beside target, named ".<target name>.XXXXXX", removed
// with everything in it unless it was placed.
class TStagingFolder {
public:
    // Raises EOSError when the folder cannot be made.
    explicit TStagingFolder(const std::string& target);
    ~TStagingFolder();
    TStagingFolder(const TStagingFolder&) = delete;
    TStagingFolder& operator=(const TStagingFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Puts the folder in place of target (PlaceSiteFolder) and lets it go.
    void Place(const std::string& target, bool tryExchange = true);

private:
    std::string path_;
    TFolderClaim claim_;
};

// Removes what runs for target that ended by force left beside it: staging
// folders and old sites set aside, each recognised by a claim of this user
// that no living run holds.
void RemoveAbandonedStaging(const std::string& target);

// Puts the complete folder staged in place of target (missing, empty or a
// replaceable site of ours): exchanged atomically where the file system can,
// otherwise by moving the old site aside first. The old site, claimed by this
// run before it moves, is removed afterwards. Raises EOSError and leaves
// target as it was on failure.
void PlaceSiteFolder(const std::string& staged, const std::string& target, bool tryExchange = true);
