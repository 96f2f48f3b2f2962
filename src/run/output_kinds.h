#pragma once
// The kinds of catalogue, one row each: what the front ends show and ask for
// a kind, where its catalogue goes and what writes it. Adding a kind adds a
// row here.
#include <string>
#include <vector>

#include "output/destination.h"
#include "output/output_kind.h"

class TMP3Collection;
struct TDatabaseRequest;
struct TDatabaseResult;

struct TOutputKindRow {
    TOutputKind Kind;
    const char* Value;         // how "Session" / "OutputKind" stores it
    const char* Caption;       // in the wizard's list of kinds (translated when shown)
    const char* NameLabel;     // the label of the wizard's name field
    const char* TargetText;    // "... written to: $1", under that field
    const char* ProgressText;  // "...: $1%" while the catalogue is written
    bool Folder;               // the catalogue is a folder: chosen with a folder dialog
    // The path the chosen name and place ("PlaceTo" value) give.
    std::string (*Target)(const std::string& chosen, int placeTo);
    // That path, checked before the scan.
    TDestination (*Resolve)(const std::string& chosen, int placeTo, const std::vector<std::string>& catalogued);
    // The question asked before an existing catalogue is replaced.
    std::string (*OverwriteQuestion)(const std::string& path);
    // What a viewer opens for the catalogue at path.
    std::string (*StartPage)(const std::string& path);
    // Called for each file the scan finds, with the tracks found so far:
    // what the writer can get ready beside the scan once that pays.
    void (*Prepare)(int tracksFound);
    // Writes the catalogue of the collection and puts it in place.
    void (*Make)(TMP3Collection& collection, const TDatabaseRequest& request, TDatabaseResult& result);
};

// Every kind, in the order the wizard lists them.
const std::vector<TOutputKindRow>& OutputKinds();
const TOutputKindRow& OutputKindRowOf(TOutputKind kind);

// The kind of catalogue the wizard chose last ("Session" / "OutputKind"): a
// .chm unless it chose another kind; how a kind is stored there.
TOutputKind ConfiguredOutputKind();
std::string OutputKindValue(TOutputKind kind);
// The site folder for the custom place ("Session" / "SiteFolder"), by default
// "Orvalis" in the documents folder.
std::string ConfiguredSiteFolder();
