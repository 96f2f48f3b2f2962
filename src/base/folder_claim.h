#pragma once
// Folders a run makes for itself (its working folder, a site being built,
// an old site on its way out) carry a claim: a small file that names this
// user, locked (flock) by the run for as long as it lives. The kernel drops
// the lock however the run ends, so a later run can tell a folder left by an
// ended run (claim of this user, lock free) from one in use (lock held) and
// from anyone else's folder (no claim), and removes only the first kind.
#include <functional>
#include <string>
#include <string_view>

inline constexpr const char* kClaimFileName = ".orvalis-claim";

class TFolderClaim {
public:
    TFolderClaim() = default;
    // Writes the claim into folder and takes its lock; raises EOSError.
    explicit TFolderClaim(const std::string& folder);
    // Lets the lock go; the claim file stays (see Drop).
    ~TFolderClaim();
    TFolderClaim(TFolderClaim&& other) noexcept;
    TFolderClaim& operator=(TFolderClaim&& other) noexcept;
    TFolderClaim(const TFolderClaim&) = delete;
    TFolderClaim& operator=(const TFolderClaim&) = delete;

    bool Held() const { return fd_ >= 0; }
    // Removes the claim file, then lets the lock go.
    void Drop();

private:
    int fd_ = -1;
    std::string file_;
};

// Whether folder (not a link) belongs to this user and holds a claim of this
// user that no living process holds: a folder an ended run left behind.
bool IsAbandonedFolder(const std::string& folder);

// Removes, with DeleteTree, every folder directly inside parent whose name
// matches and that IsAbandonedFolder; how many went.
int RemoveAbandonedFolders(const std::string& parent, const std::function<bool(std::string_view name)>& matches,
                           const std::function<void(const std::string& folder)>& remove = {});
