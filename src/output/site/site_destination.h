#pragma once
// Where a run puts a web site, checked before the scan like a file destination.
#include <string>
#include <vector>

#include "output/destination.h"

// The same for a web site: the folder of the chosen place (see
// SiteDestination). A site of ours that holds only its own files is
// ExistingFile; a missing or empty folder is Free; anything else is Refused.
TDestination ResolveSiteDestination(const std::string& chosenFolder, int placeTo,
                                    const std::vector<std::string>& catalogued = {});

// The question asked before a run replaces an existing site.
std::string SiteOverwriteQuestion(const std::string& folder);
