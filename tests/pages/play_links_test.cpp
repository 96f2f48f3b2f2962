// Links from the pages to the audio files.
#include "pages/play_links.h"

#include <gtest/gtest.h>

TEST(PlayLinks, FileUrlsEncodeWhatAUrlCannotHold) {
    EXPECT_EQ(FileUrl("/music/a b/#1 100%?.mp3"), "file:///music/a%20b/%231%20100%25%3F.mp3");
    // Non-ASCII names byte by byte as UTF-8; quotes and ampersands too.
    EXPECT_EQ(FileUrl("/m/Zo\xC3\xAB & \"x\".mp3"), "file:///m/Zo%C3%AB%20%26%20%22x%22.mp3");
    EXPECT_EQ(PercentEncodePath("a-b_c.~d/e"), "a-b_c.~d/e");
}

TEST(PlayLinks, RelativeFromTheSiteFolderOrAFileUrl) {
    EXPECT_EQ(RelativeFilePath("/home/u/Music/a.mp3", "/home/u/Desktop/Orvalis"), "../../Music/a.mp3");
    EXPECT_EQ(RelativeFilePath("/home/u/site/music/a.mp3", "/home/u/site/"), "music/a.mp3");
    EXPECT_EQ(RelativeFilePath("/home/u/Music/x/../a.mp3", "/home/u/./Desktop"), "../Music/a.mp3");
    // Only the root in common, a relative path, or the folder itself: no relative link.
    EXPECT_EQ(RelativeFilePath("/media/disk/a.mp3", "/home/u/site"), "");
    EXPECT_EQ(RelativeFilePath("music/a.mp3", "/home/u/site"), "");
    EXPECT_EQ(RelativeFilePath("/home/u/site", "/home/u/site"), "");

    TPlayLinks site;
    site.SiteFolder = "/home/u/Desktop/Orvalis";
    EXPECT_EQ(site.Href("/home/u/Music/a b.mp3"), "../../Music/a%20b.mp3");
    EXPECT_EQ(site.PlaylistEntry("/home/u/Music/a b.mp3"), "../../Music/a b.mp3");
    EXPECT_EQ(site.Href("/media/a b.mp3"), "file:///media/a%20b.mp3");
    EXPECT_EQ(site.PlaylistEntry("/media/a b.mp3"), "file:///media/a%20b.mp3");
    const TPlayLinks compiled;
    EXPECT_EQ(compiled.Href("/home/u/Music/a.mp3"), "file:///home/u/Music/a.mp3");
}
