#include "base/run_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/exceptions.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

std::string& ActiveSlot() {
    static std::string active;
    return active;
}

}  // namespace

TRunFolder::TRunFolder() {
    std::string pattern = JoinPath(GetUserTempFolder(), "run-XXXXXX");
    if (!::mkdtemp(pattern.data()))
        throw EOSError(
            Translate("Cannot create the working folder \"$1\": $2", Params({pattern, std::strerror(errno)})));
    path_ = pattern;
    previous_ = ActiveSlot();
    ActiveSlot() = path_;
}

TRunFolder::~TRunFolder() {
    ActiveSlot() = previous_;
    DeleteTree(path_, false);
}

std::string ActiveRunFolder() { return ActiveSlot(); }
