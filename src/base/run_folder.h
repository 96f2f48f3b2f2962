#pragma once
// Each run works in a folder of its own inside the per-user folder, so two
// runs at the same time never touch each other's files, and the folder goes
// away with the run however it ends.
#include <string>

#include "base/folder_claim.h"

class TRunFolder {
public:
    // Creates a fresh folder (mkdtemp) inside the per-user folder, claims it
    // and makes it the working folder of this process; raises EOSError
    // naming the folder when it cannot be created. First removes the folders
    // of this user's runs that ended without removing theirs (killed).
    TRunFolder();
    // Removes the folder with everything in it.
    ~TRunFolder();
    TRunFolder(const TRunFolder&) = delete;
    TRunFolder& operator=(const TRunFolder&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
    TFolderClaim claim_;
};

// The folder of the run in progress in this process, or empty text.
std::string ActiveRunFolder();
