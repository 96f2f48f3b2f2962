#pragma once
// The mounted file systems as the kernel lists them in /proc/self/mounts.
#include <string>
#include <vector>

struct TMountEntry {
    std::string device, mountPoint, type;
};

// Entries in table order, with the octal escapes of blanks, tabs, newlines
// and backslashes ("\040") undone in the device and the mount point. Lines
// with fewer than three fields are skipped; an unreadable table gives none.
std::vector<TMountEntry> ReadMountTable(const std::string& fileName = "/proc/self/mounts");
