#pragma once
// The mount point that holds a file, for the "Hard disk" column.
#include <string>
#include <string_view>
#include <vector>

// "Hard disk (...)" names the mount point that holds a file. Mount points
// are taken from /proc/self/mounts once; the longest that contains the file
// wins ("/" when nothing else does).
class TMountTable {
public:
    TMountTable();  // reads /proc/self/mounts
    explicit TMountTable(std::vector<std::string> mountPoints);
    std::string MountPointOf(std::string_view fileName) const;

private:
    void Normalize();
    std::vector<std::string> points_;  // longest first
};
