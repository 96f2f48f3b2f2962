#pragma once
// How a page links to a track's audio file: a file:// address, or a path
// relative to the folder the web pages end up in.
#include <string>
#include <string_view>

// "file://" and the absolute path, every byte but letters, digits, "-._~/"
// percent-encoded (UTF-8 names byte by byte).
std::string FileUrl(std::string_view path);
// The bytes of a path as a URL path, encoded as in FileUrl.
std::string PercentEncodePath(std::string_view path);
// The way from folder to the file at path ("../Music/a.mp3"), both absolute;
// empty when they share nothing but the root, or either is not absolute,
// where a file:// address serves better.
std::string RelativeFilePath(std::string_view path, std::string_view folder);

// How the pages of one output link to the audio files.
struct TPlayLinks {
    // Empty: file:// addresses (the compiled file). Otherwise the folder the
    // pages end up in, which relative links start from.
    std::string SiteFolder;
    // The address a page puts into href, percent-encoded.
    std::string Href(std::string_view path) const;
    // The reference a playlist beside the pages holds: the plain relative
    // path, or the file:// address when no relative path serves.
    std::string PlaylistEntry(std::string_view path) const;
};
