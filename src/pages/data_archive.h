#pragma once
// The `data` archive beside the program: the page template and the shared
// files every catalogue carries (style sheet, start page, logo).
#include <string>

#include "base/exceptions.h"
#include "base/shared_functions.h"

// The data archive beside the program is missing, unreadable or incomplete.
ORVALIS_DECLARE_ERROR(EDataArchiveError, Exception);

// The archive's path beside the executable.
std::string DataArchivePath();
// "template.html" of the data archive; raises EDataArchiveError naming the
// archive and the cause.
std::string LoadArchivedTemplate();
// A member of the archive by its name ("site.css"); raises EDataArchiveError
// when it is missing or unreadable.
std::string LoadArchivedFile(const std::string& name);
// Reads every member of the data archive, so a damaged or unsafe one is
// refused before a run starts; raises EDataArchiveError naming the member.
void CheckDataArchive();
// Extracts the shared files ("Need\*.*") into folder, flat and with their
// paths, translating the shared pages; returns the flat copies, in archive order.
TStringList ExtractNeedFiles(const std::string& folder);
