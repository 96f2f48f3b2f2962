#pragma once
// Where a run puts its catalogue, decided once before the scan starts, so
// both front ends refuse an impossible destination before any work is done.
#include <string>

// The file a database of the given place ends up in: for 1 to 3 the fixed
// name in that folder, for any other value the chosen name itself.
std::string DatabaseDestination(const std::string& outputPath, int placeTo);
// "Session" / "PlaceTo" of the configuration; 1 when missing or not a number.
int ConfiguredPlaceTo();

// The chosen file name with ".chm" appended unless its extension already is
// ".chm" in any letter case.
std::string WithChmExtension(const std::string& fileName);

// The question asked before a run replaces an existing catalogue.
std::string OverwriteQuestion(const std::string& fileName);

// What stands at the file a run will write.
enum class TDestinationState {
    Free,          // nothing there; the folder is writable or can be created
    ExistingFile,  // a file (or a link), or a site of ours, that the run would replace
    Folder,        // a folder (for a site: a file, or a folder not made by us): refused
    Unwritable,    // the folder cannot be created or written
};

struct TDestination {
    std::string Path;  // the file the run writes
    TDestinationState State = TDestinationState::Free;
    std::string Problem;  // for Folder and Unwritable: the message to show
};

// Resolves the chosen name and place ("Session" / "PlaceTo" value) into the
// target file and checks what can be checked now: a folder at the target,
// and whether its folder (or the nearest existing one above it) can be
// written, by creating and removing a probe file there.
TDestination ResolveDestination(const std::string& chosenName, int placeTo);

// The same for a web site: the folder of the chosen place (see
// SiteDestination). A site of ours there is ExistingFile; a missing or empty
// folder is Free; a file or a non-empty folder without our marker is Folder,
// since a run never replaces what it did not write.
TDestination ResolveSiteDestination(const std::string& chosenFolder, int placeTo);

// The question asked before a run replaces an existing site.
std::string SiteOverwriteQuestion(const std::string& folder);
