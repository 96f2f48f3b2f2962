// Finds a front cover in an audio file's tags or beside it in its folder.
#include "audio/cover_art.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "audio/buffered_file.h"
#include "audio/format_registry.h"
#include "audio/id3.h"
#include "audio/ogg_packets.h"
#include "base/byte_order.h"
#include "base/exceptions.h"
#include "base/shared_functions.h"

namespace {

using TBytes = std::span<const unsigned char>;
using byte_order_detail::Fits;

// n bytes from offset, or empty when they are not all there or too many.
std::string ReadBlock(TBufferedFile& file, std::uint64_t offset, std::uint64_t n) {
    if (n == 0 || n > kMaxCoverBytes * 2 || offset > file.Size() || n > file.Size() - offset) return {};
    std::string data(static_cast<std::size_t>(n), '\0');
    if (file.ReadAt(offset, data.data(), data.size()) != data.size()) return {};
    return data;
}

TBytes Bytes(const std::string& s) { return {reinterpret_cast<const unsigned char*>(s.data()), s.size()}; }

std::string Capped(std::string picture) {
    if (picture.size() > kMaxCoverBytes) picture.clear();
    return picture;
}

// Keeps the first picture and replaces it by the first front cover.
struct TPick {
    std::string picture;
    bool front = false;
    // True once a front cover is held: the search may stop.
    bool Offer(std::string candidate, bool isFront) {
        if (candidate.empty() || candidate.size() > kMaxCoverBytes) return front;
        if (picture.empty() || (isFront && !front)) {
            picture = std::move(candidate);
            front = isFront;
        }
        return front;
    }
};

// The picture of a FLAC PICTURE block body; type receives the picture type.
std::string FlacPictureBody(TBytes b, std::uint32_t& type) {
    std::size_t at = 0;
    if (!Fits(b, at, 8)) return {};
    type = GetU32BE(b, 0);
    const std::uint32_t mimeLength = GetU32BE(b, 4);
    at = 8;
    if (mimeLength > b.size() || !Fits(b, at, mimeLength + std::size_t{4})) return {};
    at += mimeLength;
    const std::uint32_t descLength = GetU32BE(b, at);
    at += 4;
    if (descLength > b.size() || !Fits(b, at, descLength + std::size_t{20})) return {};
    at += descLength + 16;  // width, height, depth, colours
    const std::uint32_t dataLength = GetU32BE(b, at);
    at += 4;
    if (dataLength > b.size() || !Fits(b, at, dataLength)) return {};
    return std::string(reinterpret_cast<const char*>(b.data() + at), dataLength);
}

// Removes the 0x00 stuffed after every 0xFF.
std::string Resync(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        out.push_back(data[i]);
        if (static_cast<unsigned char>(data[i]) == 0xFF && i + 1 < data.size() && data[i + 1] == 0) ++i;
    }
    return out;
}

// Position after a text in the given ID3 encoding ends with its terminator.
std::size_t SkipId3Text(TBytes b, std::size_t at, unsigned encoding) {
    if (encoding == 1 || encoding == 2) {
        for (; at + 1 < b.size(); at += 2)
            if (b[at] == 0 && b[at + 1] == 0) return at + 2;
        return b.size();
    }
    for (; at < b.size(); ++at)
        if (b[at] == 0) return at + 1;
    return b.size();
}

// The picture of an APIC (v2.3/v2.4) or PIC (v2.2) frame body.
std::string Id3PictureBody(TBytes b, bool v22, unsigned& type) {
    if (b.size() < 2) return {};
    const unsigned encoding = b[0];
    std::size_t at = 1;
    if (v22) {
        at += 3;  // image format
    } else {
        while (at < b.size() && b[at] != 0) ++at;
        ++at;
    }
    if (at >= b.size()) return {};
    type = b[at++];
    at = SkipId3Text(b, at, encoding);
    if (at >= b.size()) return {};
    return std::string(reinterpret_cast<const char*>(b.data() + at), b.size() - at);
}

bool IsBase64(unsigned char c) { return std::isalnum(c) || c == '+' || c == '/'; }

}  // namespace

std::string DecodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t acc = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '=') {
            ++padding;
            continue;
        }
        if (c == '\r' || c == '\n') continue;
        if (!IsBase64(c) || padding > 0) return {};
        const unsigned value = c >= 'A' && c <= 'Z'   ? c - 'A'
                               : c >= 'a' && c <= 'z' ? c - 'a' + 26
                               : c >= '0' && c <= '9' ? c - '0' + 52
                               : c == '+'             ? 62
                                                      : 63;
        acc = (acc << 6) | value;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return padding > 2 ? std::string() : out;
}

std::string Id3Cover(TBufferedFile& file) { return Id3CoverAt(file, 0); }

std::string Id3CoverAt(TBufferedFile& file, std::uint64_t offset) {
    unsigned char bytes[TID3v2Header::kSize];
    if (file.ReadAt(offset, bytes, sizeof bytes) != sizeof bytes) return {};
    const std::optional<TID3v2Header> header = ParseID3v2Header(bytes, sizeof bytes);
    if (!header) return {};
    const unsigned version = header->Version;
    if (version < 2 || version > 4) return {};
    const unsigned flags = header->Flags;
    std::string tag = ReadBlock(file, offset + TID3v2Header::kSize, header->BodySize);
    if (tag.empty()) return {};
    if (version < 4 && (flags & 0x80)) tag = Resync(tag);
    TBytes b = Bytes(tag);
    std::size_t at = 0;
    if (version >= 3 && (flags & 0x40) && Fits(b, 0, 4)) {
        const std::uint32_t ext = version == 4 ? GetSyncSafe28(b, 0) : GetU32BE(b, 0) + 4;
        at = ext;
    }
    const bool v22 = version == 2;
    const std::size_t headerSize = v22 ? 6 : 10;
    TPick pick;
    while (Fits(b, at, headerSize) && b[at] != 0) {
        const std::string id(reinterpret_cast<const char*>(b.data() + at), v22 ? 3 : 4);
        const std::uint32_t size = v22            ? GetU24BE(b, at + 3)
                                   : version == 4 ? GetSyncSafe28(b, at + 4)
                                                  : GetU32BE(b, at + 4);
        const unsigned formatFlags = v22 ? 0 : b[at + 9];
        at += headerSize;
        if (size > b.size() - at) break;
        if (id == (v22 ? "PIC" : "APIC")) {
            std::string body = tag.substr(at, size);
            // Compressed or encrypted frames are left alone.
            const bool packed = version == 3 ? (formatFlags & 0xC0) != 0 : version == 4 && (formatFlags & 0x0C) != 0;
            if (!packed) {
                if (version == 4 && (formatFlags & 0x01) && body.size() >= 4) body.erase(0, 4);
                if (version == 4 && (formatFlags & 0x02)) body = Resync(body);
                unsigned type = 0;
                std::string picture = Id3PictureBody(Bytes(body), v22, type);
                if (pick.Offer(std::move(picture), type == 3)) break;
            }
        }
        at += size;
    }
    return pick.picture;
}

std::string FlacCover(TBufferedFile& file) {
    std::uint64_t at = 0;
    unsigned char head[TID3v2Header::kSize];
    // An ID3v2 tag may precede the stream.
    if (file.ReadAt(0, head, sizeof head) == sizeof head)
        if (const std::optional<TID3v2Header> tag = ParseID3v2Header(head, sizeof head)) at = tag->TotalSize();
    unsigned char magic[4];
    if (file.ReadAt(at, magic, 4) != 4 || std::memcmp(magic, "fLaC", 4) != 0) return {};
    at += 4;
    TPick pick;
    for (int blocks = 0; blocks < 1024; ++blocks) {
        unsigned char block[4];
        if (file.ReadAt(at, block, 4) != 4) break;
        const unsigned type = block[0] & 0x7F;
        const std::uint32_t length = GetU24BE(block + 1);
        at += 4;
        if (type == 6) {
            std::uint32_t pictureType = 0;
            std::string picture = FlacPictureBody(Bytes(ReadBlock(file, at, length)), pictureType);
            if (pick.Offer(std::move(picture), pictureType == 3)) break;
        }
        at += length;
        if (block[0] & 0x80) break;
    }
    return pick.picture;
}

std::string PictureFromVorbisComments(TByteSource& in) {
    static const char kKey[] = "METADATA_BLOCK_PICTURE=";
    const std::size_t keyLength = sizeof kKey - 1;
    unsigned char word[4];
    if (in.Read(word, 4) != 4) return {};
    const std::uint32_t vendor = GetU32LE(word);
    if (in.Skip(vendor) != vendor || in.Read(word, 4) != 4) return {};
    const std::uint32_t count = GetU32LE(word);
    TPick pick;
    std::string key(keyLength, '\0');
    for (std::uint32_t i = 0; i < count; ++i) {
        if (in.Read(word, 4) != 4) break;
        const std::uint32_t length = GetU32LE(word);
        if (length <= keyLength) {
            if (in.Skip(length) != length) break;
            continue;
        }
        if (in.Read(key.data(), keyLength) != keyLength) break;
        std::uint64_t rest = length - keyLength;
        // Base64 takes 4 bytes for 3.
        if (SameText(key, kKey) && rest <= kMaxCoverBytes / 3 * 4 + 4) {
            std::string text(static_cast<std::size_t>(rest), '\0');
            if (in.Read(text.data(), text.size()) != text.size()) break;
            const std::string block = DecodeBase64(text);
            std::uint32_t type = 0;
            std::string picture = FlacPictureBody(Bytes(block), type);
            if (pick.Offer(std::move(picture), type == 3)) break;
            continue;
        }
        if (in.Skip(rest) != rest) break;
    }
    return pick.picture;
}

std::string FlacPictureBlock(std::string_view body, bool& front) {
    std::uint32_t type = 0;
    std::string picture = FlacPictureBody({reinterpret_cast<const unsigned char*>(body.data()), body.size()}, type);
    front = type == 3;
    return Capped(std::move(picture));
}

namespace {

// Finds the child box of the given name between begin and end; sets the
// body's range.
bool FindBox(TBufferedFile& file, std::uint64_t begin, std::uint64_t end, const char* name, std::uint64_t& bodyBegin,
             std::uint64_t& bodyEnd) {
    std::uint64_t at = begin;
    while (at + 8 <= end) {
        unsigned char head[16];
        if (file.ReadAt(at, head, 8) != 8) return false;
        std::uint64_t size = GetU32BE(head);
        std::uint64_t headerSize = 8;
        if (size == 1) {
            if (file.ReadAt(at + 8, head + 8, 8) != 8) return false;
            size = GetU64BE(head + 8);
            headerSize = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < headerSize || size > end - at) return false;
        if (std::memcmp(head + 4, name, 4) == 0) {
            bodyBegin = at + headerSize;
            bodyEnd = at + size;
            return true;
        }
        at += size;
    }
    return false;
}

}  // namespace

std::string M4aCover(TBufferedFile& file) {
    std::uint64_t b = 0, e = file.Size();
    for (const char* name : {"moov", "udta", "meta"})
        if (!FindBox(file, b, e, name, b, e)) return {};
    b += 4;  // the meta box carries a version and flags
    if (!FindBox(file, b, e, "ilst", b, e) || !FindBox(file, b, e, "covr", b, e) || !FindBox(file, b, e, "data", b, e))
        return {};
    if (e - b < 8) return {};
    return Capped(ReadBlock(file, b + 8, e - b - 8));  // type and locale first
}

namespace {

const unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfExtendedContent[16] = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                               0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
const unsigned char kAsfHeaderExtension[16] = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const unsigned char kAsfMetadataLibrary[16] = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                               0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};

// "WM/Picture" in UTF-16LE, with or without its terminator.
bool IsPictureName(TBytes name) {
    static const char kName[] = "WM/Picture";
    const std::size_t n = sizeof kName - 1;
    if (name.size() < n * 2) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (name[2 * i] != static_cast<unsigned char>(kName[i]) || name[2 * i + 1] != 0) return false;
    return name.size() == n * 2 || (name.size() == n * 2 + 2 && name[n * 2] == 0 && name[n * 2 + 1] == 0);
}

// The picture of a WM/Picture value: type, length, MIME and description
// (UTF-16LE, terminated), data.
std::string AsfPictureValue(TBytes v, unsigned& type) {
    if (!Fits(v, 0, 5)) return {};
    type = v[0];
    const std::uint32_t length = GetU32LE(v, 1);
    std::size_t at = 5;
    for (int text = 0; text < 2; ++text) {
        while (Fits(v, at, 2) && (v[at] != 0 || v[at + 1] != 0)) at += 2;
        at += 2;
    }
    if (length > v.size() || !Fits(v, at, length)) return {};
    return std::string(reinterpret_cast<const char*>(v.data() + at), length);
}

// Offers a binary WM/Picture value, whichever ASF object holds it; true
// when the pick is settled.
bool OfferAsfPicture(TBytes name, unsigned valueType, TBytes value, TPick& pick) {
    if (valueType != 1 || !IsPictureName(name)) return false;
    unsigned type = 0;
    std::string picture = AsfPictureValue(value, type);
    return pick.Offer(std::move(picture), type == 3);
}

void ScanExtendedContent(TBytes b, TPick& pick) {
    if (!Fits(b, 0, 2)) return;
    const unsigned count = GetU16LE(b, 0);
    std::size_t at = 2;
    for (unsigned i = 0; i < count && Fits(b, at, 2); ++i) {
        const unsigned nameLength = GetU16LE(b, at);
        at += 2;
        if (!Fits(b, at, nameLength + std::size_t{4})) return;
        const TBytes name = b.subspan(at, nameLength);
        at += nameLength;
        const unsigned valueType = GetU16LE(b, at);
        const unsigned valueLength = GetU16LE(b, at + 2);
        at += 4;
        if (!Fits(b, at, valueLength)) return;
        if (OfferAsfPicture(name, valueType, b.subspan(at, valueLength), pick)) return;
        at += valueLength;
    }
}

void ScanMetadataLibrary(TBytes b, TPick& pick) {
    if (!Fits(b, 0, 2)) return;
    const unsigned count = GetU16LE(b, 0);
    std::size_t at = 2;
    for (unsigned i = 0; i < count && Fits(b, at, 12); ++i) {
        const unsigned nameLength = GetU16LE(b, at + 4);
        const unsigned valueType = GetU16LE(b, at + 6);
        const std::uint32_t valueLength = GetU32LE(b, at + 8);
        at += 12;
        if (!Fits(b, at, nameLength) || valueLength > b.size()) return;
        const TBytes name = b.subspan(at, nameLength);
        at += nameLength;
        if (!Fits(b, at, valueLength)) return;
        if (OfferAsfPicture(name, valueType, b.subspan(at, valueLength), pick)) return;
        at += valueLength;
    }
}

}  // namespace

std::string WmaCover(TBufferedFile& file) {
    unsigned char head[30];
    if (file.ReadAt(0, head, 30) != 30 || std::memcmp(head, kAsfHeader, 16) != 0) return {};
    const std::uint64_t headerEnd = std::min<std::uint64_t>(GetU64LE(head + 16), file.Size());
    const std::uint32_t objects = GetU32LE(head + 24);
    std::uint64_t at = 30;
    TPick pick;
    for (std::uint32_t i = 0; i < objects && at + 24 <= headerEnd && !pick.front; ++i) {
        unsigned char object[24];
        if (file.ReadAt(at, object, 24) != 24) break;
        const std::uint64_t size = GetU64LE(object + 16);
        if (size < 24 || size > headerEnd - at) break;
        if (std::memcmp(object, kAsfExtendedContent, 16) == 0) {
            ScanExtendedContent(Bytes(ReadBlock(file, at + 24, size - 24)), pick);
        } else if (std::memcmp(object, kAsfHeaderExtension, 16) == 0 && size > 46) {
            // Reserved GUID, reserved word and data size, then child objects.
            const std::string ext = ReadBlock(file, at + 46, size - 46);
            TBytes e = Bytes(ext);
            for (std::size_t p = 0; Fits(e, p, 24) && !pick.front;) {
                const std::uint64_t childSize = GetU64LE(e, p + 16);
                if (childSize < 24 || childSize > e.size() - p) break;
                if (std::memcmp(e.data() + p, kAsfMetadataLibrary, 16) == 0)
                    ScanMetadataLibrary(e.subspan(p + 24, static_cast<std::size_t>(childSize - 24)), pick);
                p += static_cast<std::size_t>(childSize);
            }
        }
        at += size;
    }
    return pick.picture;
}

std::string EmbeddedCover(const std::string& path) {
    try {
        TBufferedFile file(path);
        const TFileHead head(file);
        if (const TAudioFormat* format = FormatOf(head, path)) return format->Cover(file);
    } catch (const Exception&) {
        // An unreadable file simply has no cover.
    }
    return {};
}

std::string FolderCoverFile(const std::string& folder) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return {};
    std::vector<std::string> images;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string ext = UpperCase(ExtractFileExt(name));
        if (ext == ".JPG" || ext == ".JPEG" || ext == ".PNG") images.push_back(name);
    }
    ::closedir(dir);
    std::sort(images.begin(), images.end());
    for (const char* stem : {"COVER", "FOLDER", "FRONT"})
        for (const char* ext : {".JPG", ".JPEG", ".PNG"})
            for (const std::string& name : images)
                if (UpperCase(name) == std::string(stem) + ext) return JoinPath(folder, name);
    return images.size() == 1 ? JoinPath(folder, images[0]) : std::string();
}
