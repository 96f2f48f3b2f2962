#pragma once
// The directory of a compiled help file: the ITSP header followed by 4096
// byte listing chunks (PMGL) and, when there is more than one listing
// chunk, index chunks (PMGI) above them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chmwriter/chm_bytes.h"

inline constexpr std::uint32_t kChmChunkSize = 0x1000;
inline constexpr std::uint32_t kChmDirectoryHeaderSize = 0x54;
// Every (1 + (1 << density))th entry of a chunk gets a quickref slot.
inline constexpr std::uint32_t kChmQuickrefDensity = 2;
// The longest name a directory takes: chmlib finds nothing at all in a
// directory that holds a longer one. Seven entries of that length with the
// largest numbers fit one listing chunk (and so one index chunk), so every
// chunk but a level's last holds seven entries or more and each index level
// has a seventh of the chunks below it at most.
inline constexpr std::uint32_t kChmMaxNameBytes = 512;
// Name length, name, section, offset and length, the numbers as ENCINTs.
inline constexpr std::uint32_t kChmMaxEntryBytes = 2 + kChmMaxNameBytes + 1 + 10 + 10;
// A listing chunk's header, seven such entries and their quickref area.
static_assert(0x14 + 7 * kChmMaxEntryBytes + 4 <= kChmChunkSize);

struct TChmDirectoryEntry {
    std::string Name;           // UTF-8, "/page.html" or "::DataSpace/..."
    std::uint32_t Section = 0;  // 0 uncompressed, 1 MSCompressed
    std::uint64_t Offset = 0;   // within the (decompressed) section
    std::uint64_t Length = 0;
};

// Directory order: names compare as bytes with ASCII letters folded to
// lower case, which is how readers compare while they binary-search the
// chunks; names equal that way fall back to plain byte order.
bool ChmNameLess(std::string_view a, std::string_view b);

struct TChmDirectoryLayout {
    TBytes Bytes;  // header and chunks, ready to write
    std::uint32_t ListingChunks = 0;
    std::uint32_t IndexChunks = 0;
    std::uint32_t Depth = 1;  // 1 without index chunks
    std::int32_t RootIndexChunk = -1;
};

// Sorts entries and lays out the directory. Raises std::invalid_argument for
// names equal but for ASCII letter case (readers cannot tell them apart), an
// empty name or a name longer than kChmMaxNameBytes.
TChmDirectoryLayout BuildChmDirectory(std::vector<TChmDirectoryEntry> entries, std::uint32_t languageId);
