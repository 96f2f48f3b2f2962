#pragma once
// Where a run puts its catalogue, decided once before the scan starts, so
// both front ends refuse an impossible destination before any work is done.
#include <string>
#include <vector>

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
    ExistingFile,  // a catalogue, or a site of ours, that the run would replace
    Refused,       // not ours to replace, or among the music: Problem says why
    Unwritable,    // the folder cannot be created or written
};

struct TDestination {
    std::string Path;  // the file the run writes
    TDestinationState State = TDestinationState::Free;
    std::string Problem;  // for Refused and Unwritable: the message to show
};

// A run only ever replaces what it wrote. So before the scan the target is
// refused when it is, holds or lies inside one of the catalogued paths
// (compared after links and bind mounts are resolved), and a file already
// there is only replaced when it is a compiled help file.

// Resolves the chosen name and place ("Session" / "PlaceTo" value) into the
// target file and checks what can be checked now: the catalogued paths,
// what stands at the target, and whether its folder (or the nearest existing
// one above it) can be written, by creating and removing a probe file there.
TDestination ResolveDestination(const std::string& chosenName, int placeTo,
                                const std::vector<std::string>& catalogued = {});

// Why target may not be written among the catalogued paths; empty when it may.
std::string MusicOverlapProblem(const std::string& target, const std::vector<std::string>& catalogued);

// Why the file at path may not be replaced by a catalogue: empty when nothing
// is there or it is a compiled help file (checked again just before placing).
std::string FileReplaceProblem(const std::string& path);

// Sets result to Unwritable, with the reason, when the folder that would
// hold result.Path (or the nearest existing one above it) takes no files.
void CheckWritableFolder(TDestination& result);
