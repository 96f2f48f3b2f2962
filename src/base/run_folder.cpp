#include "base/run_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <unistd.h>

#include "base/exceptions.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

std::string& ActiveSlot() {
    static std::string active;
    return active;
}

bool IsRunFolderName(std::string_view name) { return name.size() == 10 && name.substr(0, 4) == "run-"; }

}  // namespace

TRunFolder::TRunFolder() {
    const std::string userFolder = GetUserTempFolder();
    RemoveAbandonedFolders(userFolder, IsRunFolderName);
    std::string pattern = JoinPath(userFolder, "run-XXXXXX");
    if (!::mkdtemp(pattern.data()))
        throw EOSError(
            Translate("Cannot create the working folder \"$1\": $2", Params({pattern, std::strerror(errno)})));
    path_ = pattern;
    try {
        claim_ = TFolderClaim(path_);
    } catch (...) {
        ::rmdir(path_.c_str());
        throw;
    }
    previous_ = ActiveSlot();
    ActiveSlot() = path_;
}

TRunFolder::~TRunFolder() {
    ActiveSlot() = previous_;
    DeleteTree(path_, false);
}

std::string ActiveRunFolder() { return ActiveSlot(); }
