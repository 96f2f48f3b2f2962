#pragma once
// Front-cover pictures: the picture embedded in an audio file's tags, or an
// image file in the album's folder. Only read while pages are written, never
// during the scan; every read goes through a bounded reader and nothing here
// raises for a broken file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TBufferedFile;

// Larger pictures are skipped: a cover is a few hundred kilobytes at most.
inline constexpr std::size_t kMaxCoverBytes = std::size_t{16} << 20;

// The picture bytes (empty when there is none). Front covers win over the
// other pictures; otherwise the first picture is taken.
std::string Id3Cover(TBufferedFile& file);     // ID3v2 APIC / PIC at the start
std::string Id3CoverAt(TBufferedFile& file, std::uint64_t offset);  // the same for a tag at offset
std::string FlacCover(TBufferedFile& file);    // METADATA_BLOCK_PICTURE
std::string VorbisCover(TBufferedFile& file);  // Ogg METADATA_BLOCK_PICTURE comment (Vorbis, Opus, Speex, FLAC)
std::string M4aCover(TBufferedFile& file);     // moov/udta/meta/ilst/covr
std::string WmaCover(TBufferedFile& file);     // WM/Picture attribute

// The embedded cover of an audio file, picking the reader by what its bytes
// say (see the format registry).
std::string EmbeddedCover(const std::string& path);

// The cover image in a folder: "cover", "folder" or "front" with .jpg, .jpeg
// or .png in any letter case (in that order), else the only image there.
// Empty when there is none.
std::string FolderCoverFile(const std::string& folder);

class TByteSource;
// The first front cover (else the first picture) among the
// METADATA_BLOCK_PICTURE entries of a Vorbis comment list.
std::string PictureFromVorbisComments(TByteSource& in);
// The picture of a FLAC PICTURE block's body; front tells whether it is the front cover.
std::string FlacPictureBlock(std::string_view body, bool& front);

// The decoded bytes of base64 text; empty when it is not valid base64.
std::string DecodeBase64(std::string_view text);
