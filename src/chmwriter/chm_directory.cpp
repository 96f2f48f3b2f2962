// Lays out the directory chunks (PMGL listings, PMGI index) of a compiled help file.
#include "chmwriter/chm_directory.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr std::uint32_t kListingHeaderSize = 0x14;
constexpr std::uint32_t kIndexHeaderSize = 0x08;
constexpr std::uint32_t kQuickrefStep = 1 + (1u << kChmQuickrefDensity);
constexpr TGuid kDirectoryGuid = {0x5D02926A, 0x212E, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};

unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

std::string LowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
    return s;
}

// One chunk's worth of encoded entries before the header and quickref are added.
struct TChunkFill {
    TBytes Entries;
    std::vector<std::uint16_t> EntryOffsets;  // from the first entry
    std::string FirstName;
};

std::size_t QuickrefBytes(std::size_t entryCount) {
    const std::size_t slots = entryCount > 0 ? (entryCount - 1) / kQuickrefStep : 0;
    return 2 + 2 * slots;
}

// Packs encoded entries into chunks so that header, entries and quickref
// area fit into kChmChunkSize.
std::vector<TChunkFill> PackChunks(const std::vector<TBytes>& encoded, const std::vector<std::string>& names,
                                   std::uint32_t headerSize) {
    std::vector<TChunkFill> chunks;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const TBytes& entry = encoded[i];
        auto fits = [&](const TChunkFill& chunk) {
            return headerSize + chunk.Entries.size() + entry.size() + QuickrefBytes(chunk.EntryOffsets.size() + 1) <=
                   kChmChunkSize;
        };
        if (chunks.empty() || !fits(chunks.back())) {
            chunks.emplace_back();
            chunks.back().FirstName = names[i];
            if (!fits(chunks.back())) throw std::invalid_argument("name too long for a directory chunk: " + names[i]);
        }
        TChunkFill& chunk = chunks.back();
        chunk.EntryOffsets.push_back(static_cast<std::uint16_t>(chunk.Entries.size()));
        chunk.Entries.insert(chunk.Entries.end(), entry.begin(), entry.end());
    }
    return chunks;
}

// Writes the entries, the free space and the quickref area of one chunk
// whose header (headerSize bytes) is already in out.
void FinishChunk(TBytes& out, std::size_t chunkStart, const TChunkFill& chunk, std::uint32_t headerSize) {
    TByteWriter w(out);
    w.Raw(chunk.Entries);
    const std::size_t used = headerSize + chunk.Entries.size();
    w.PutU32At(chunkStart + 4, static_cast<std::uint32_t>(kChmChunkSize - used));
    w.Zeros(kChmChunkSize - used);
    const std::size_t end = chunkStart + kChmChunkSize;
    w.PutU16At(end - 2, static_cast<std::uint16_t>(chunk.EntryOffsets.size()));
    std::size_t slot = end - 4;
    for (std::size_t i = kQuickrefStep; i < chunk.EntryOffsets.size(); i += kQuickrefStep, slot -= 2)
        w.PutU16At(slot, chunk.EntryOffsets[i]);
}

}  // namespace

bool ChmNameLess(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

TChmDirectoryLayout BuildChmDirectory(std::vector<TChmDirectoryEntry> entries, std::uint32_t languageId) {
    std::sort(entries.begin(), entries.end(),
              [](const TChmDirectoryEntry& x, const TChmDirectoryEntry& y) { return ChmNameLess(x.Name, y.Name); });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Name.empty()) throw std::invalid_argument("empty name in the directory");
        if (entries[i].Name.size() > kChmMaxNameBytes)
            throw std::invalid_argument("name longer than " + std::to_string(kChmMaxNameBytes) +
                                        " bytes in the directory: " + entries[i].Name.substr(0, 80) + "...");
        // Sorted case-folded, so twins that differ only in case are neighbours.
        if (i > 0 && LowerAscii(entries[i - 1].Name) == LowerAscii(entries[i].Name))
            throw std::invalid_argument("name twice in the directory (letter case aside): " + entries[i].Name);
    }

    std::vector<TBytes> encoded;
    std::vector<std::string> names;
    encoded.reserve(entries.size());
    names.reserve(entries.size());
    for (const auto& e : entries) {
        TBytes bytes;
        TByteWriter w(bytes);
        w.EncInt(e.Name.size());
        w.Text(e.Name);
        w.EncInt(e.Section);
        w.EncInt(e.Offset);
        w.EncInt(e.Length);
        encoded.push_back(std::move(bytes));
        names.push_back(e.Name);
    }
    std::vector<TChunkFill> listing = PackChunks(encoded, names, kListingHeaderSize);
    if (listing.empty()) listing.emplace_back();

    // Index levels, lowest first; each names the first entry of every chunk below.
    std::vector<std::vector<TChunkFill>> levels;
    std::uint32_t nextChunk = static_cast<std::uint32_t>(listing.size());
    std::uint32_t levelFirst = 0;
    std::vector<std::string> childNames;
    for (const auto& c : listing) childNames.push_back(c.FirstName);
    while (childNames.size() > 1) {
        std::vector<TBytes> indexEntries;
        for (std::size_t i = 0; i < childNames.size(); ++i) {
            TBytes bytes;
            TByteWriter w(bytes);
            w.EncInt(childNames[i].size());
            w.Text(childNames[i]);
            w.EncInt(levelFirst + i);
            indexEntries.push_back(std::move(bytes));
        }
        levels.push_back(PackChunks(indexEntries, childNames, kIndexHeaderSize));
        // Bounded names make every level smaller than the one below; never build another otherwise.
        if (levels.back().size() >= childNames.size())
            throw std::logic_error("a directory index level does not shrink");
        levelFirst = nextChunk;
        nextChunk += static_cast<std::uint32_t>(levels.back().size());
        childNames.clear();
        for (const auto& c : levels.back()) childNames.push_back(c.FirstName);
    }

    TChmDirectoryLayout layout;
    layout.ListingChunks = static_cast<std::uint32_t>(listing.size());
    layout.IndexChunks = nextChunk - layout.ListingChunks;
    layout.Depth = 1 + static_cast<std::uint32_t>(levels.size());
    layout.RootIndexChunk = levels.empty() ? -1 : static_cast<std::int32_t>(nextChunk - 1);

    TBytes& out = layout.Bytes;
    out.reserve(kChmDirectoryHeaderSize + static_cast<std::size_t>(nextChunk) * kChmChunkSize);
    TByteWriter w(out);
    w.Text("ITSP");
    w.U32(1);
    w.U32(kChmDirectoryHeaderSize);
    w.U32(0x0A);
    w.U32(kChmChunkSize);
    w.U32(kChmQuickrefDensity);
    w.U32(layout.Depth);
    w.U32(static_cast<std::uint32_t>(layout.RootIndexChunk));
    w.U32(0);                         // first listing chunk
    w.U32(layout.ListingChunks - 1);  // last listing chunk
    w.U32(0xFFFFFFFF);
    w.U32(nextChunk);
    w.U32(languageId);
    w.Guid(kDirectoryGuid);
    w.U32(kChmDirectoryHeaderSize);
    w.U32(0xFFFFFFFF);
    w.U32(0xFFFFFFFF);
    w.U32(0xFFFFFFFF);

    for (std::size_t i = 0; i < listing.size(); ++i) {
        const std::size_t start = out.size();
        w.Text("PMGL");
        w.U32(0);  // free space, set by FinishChunk
        w.U32(0);
        w.U32(i == 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>(i - 1));
        w.U32(i + 1 == listing.size() ? 0xFFFFFFFF : static_cast<std::uint32_t>(i + 1));
        FinishChunk(out, start, listing[i], kListingHeaderSize);
    }
    for (const auto& level : levels)
        for (const auto& chunk : level) {
            const std::size_t start = out.size();
            w.Text("PMGI");
            w.U32(0);
            FinishChunk(out, start, chunk, kIndexHeaderSize);
        }
    return layout;
}
