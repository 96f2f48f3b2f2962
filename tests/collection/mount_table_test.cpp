#include "collection/mount_table.h"

#include <gtest/gtest.h>

#include "test_util.h"

// Blanks and backslashes in mount points come escaped; a mount point that
// kept "\040" would never match a file's path.
TEST(MountTable, EscapesAreUndoneAndShortLinesSkipped) {
    TempDir dir;
    const std::string table = dir.Write("mounts",
                                        "/dev/sda1 / ext4 rw 0 0\n"
                                        "/dev/sdb1 /media/My\\040Music ext4 rw 0 0\n"
                                        "server:/a\\134b /mnt/net\\011tab nfs4 rw 0 0\n"
                                        "broken-line\n"
                                        "/dev/sdc1 /mnt/odd\\09x vfat rw 0 0\n");
    const std::vector<TMountEntry> mounts = ReadMountTable(table);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].type, "ext4");
    EXPECT_EQ(mounts[1].mountPoint, "/media/My Music");
    EXPECT_EQ(mounts[2].device, "server:/a\\b");
    EXPECT_EQ(mounts[2].mountPoint, "/mnt/net\ttab");
    EXPECT_EQ(mounts[2].type, "nfs4");
    EXPECT_EQ(mounts[3].mountPoint, "/mnt/odd\\09x");  // not an octal escape: kept

    EXPECT_TRUE(ReadMountTable(dir / "missing").empty());
}
