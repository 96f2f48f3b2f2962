// The mount point that holds a file, for the "Hard disk" column.
#include "pages/disk_names.h"

#include <algorithm>

#include "collection/mount_table.h"

TMountTable::TMountTable() {
    for (const TMountEntry& m : ReadMountTable()) points_.push_back(m.mountPoint);
    Normalize();
}

TMountTable::TMountTable(std::vector<std::string> mountPoints) : points_(std::move(mountPoints)) { Normalize(); }

void TMountTable::Normalize() {
    for (std::string& p : points_)
        while (p.size() > 1 && p.back() == '/') p.pop_back();
    std::stable_sort(points_.begin(), points_.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string TMountTable::MountPointOf(std::string_view fileName) const {
    for (const std::string& p : points_) {
        if (p == "/") {
            if (!fileName.empty() && fileName[0] == '/') return p;
            continue;
        }
        if (fileName.size() > p.size() && fileName.compare(0, p.size(), p) == 0 && fileName[p.size()] == '/') return p;
    }
    return {};
}
