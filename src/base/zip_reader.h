#pragma once
// Read-only access to PKZIP archives such as the `data` file beside the
// executable: list the entries, find one by name, select entries by a file
// mask and extract them to memory or to files. Stored and deflated entries
// are supported; every offset and size read from the archive is checked
// against the file before use, so a damaged archive gives an error or no
// bytes, never a read outside the file.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"

// The archive cannot be opened or read, or an entry cannot be processed.
ORVALIS_DECLARE_ERROR(EZipError, Exception);

enum TOverwriteAction { oaSkip, oaSkipAll, oaOverwrite, oaOverwriteAll };

// One entry as the central directory describes it.
struct TKAZipEntriesEntry {
    std::string FileName;  // stored name, as written ("/" or "\" separated)
    std::uint16_t VersionMadeBy = 0;
    std::uint16_t GeneralPurposeFlags = 0;
    std::uint16_t CompressionMethod = 0;
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint64_t LocalHeaderOffset = 0;
    bool Selected = false;

    bool IsEncrypted() const { return (GeneralPurposeFlags & 1u) != 0; }
    // Folder attribute, a Unix folder mode, or a name ending in a separator
    // (Unix archivers set no DOS attributes at all).
    bool IsFolder() const;
    // Read-only attribute, or a Unix mode without the owner's write bit.
    bool IsReadOnly() const;
    bool IsHidden() const { return (ExternalAttributes & 2u) != 0; }
    bool IsSystem() const { return (ExternalAttributes & 4u) != 0; }
    // Name with "/" separators, drive and host/share prefixes removed.
    std::string ArchiveName() const;
    // Name as a path below a target folder; on this platform it is the
    // archive form, since "/" is the folder separator.
    std::string FolderFileName() const;
};

// The entries in central-directory order.
class TKAZipEntries {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    // Raises EListError "List index out of bounds (%d)" outside 0..Count-1.
    TKAZipEntriesEntry& Items(int index);
    const TKAZipEntriesEntry& Items(int index) const;
    TKAZipEntriesEntry& operator[](int index) { return Items(index); }
    const TKAZipEntriesEntry& operator[](int index) const { return Items(index); }

    std::vector<TKAZipEntriesEntry>::iterator begin() { return items_.begin(); }
    std::vector<TKAZipEntriesEntry>::iterator end() { return items_.end(); }
    std::vector<TKAZipEntriesEntry>::const_iterator begin() const { return items_.begin(); }
    std::vector<TKAZipEntriesEntry>::const_iterator end() const { return items_.end(); }

private:
    friend class TKAZip;
    std::vector<TKAZipEntriesEntry> items_;
};

class TKAZip {
public:
    TKAZip() = default;
    ~TKAZip();
    TKAZip(const TKAZip&) = delete;
    TKAZip& operator=(const TKAZip&) = delete;

    // Reads the central directory. A missing file raises
    // EZipError "File \"<name>\" not found!"; a file without a readable
    // directory raises EZipError saying the archive is damaged.
    void Open(const std::string& fileName);
    // Drops the entries and releases the file.
    void Close();
    bool Active() const { return fd_ >= 0; }

    const std::string& FileName() const { return fileName_; }
    // The archive file itself cannot be written by this user.
    bool ReadOnly() const { return readOnly_; }
    TOverwriteAction OverwriteAction() const { return overwriteAction_; }
    void SetOverwriteAction(TOverwriteAction action) { overwriteAction_ = action; }
    // Extracted files receive the archived read-only attribute (write
    // permission cleared). Hidden and system have no meaning here.
    bool ApplyAtributes() const { return applyAtributes_; }
    void SetApplyAtributes(bool apply) { applyAtributes_ = apply; }

    TKAZipEntries& Entries() { return entries_; }
    const TKAZipEntries& Entries() const { return entries_; }

    // Position of the first entry whose archive-form name equals name's
    // archive form, letter case ignored; -1 when none.
    int IndexOf(std::string_view name) const;
    // Selects every entry whose path matches the mask; earlier selections stay.
    // "\" and "/" both separate folders in the mask.
    void SelectMatching(std::string_view mask);

    // Why the entry cannot be used: a name with a backslash, an absolute one
    // or one with "..", an unsupported method, or data that do not inflate
    // to the bytes its checksum names. Empty text when it is sound.
    std::string EntryProblem(const TKAZipEntriesEntry& entry) const;

    // Writes the entry's uncompressed bytes to out. An unsupported method or an
    // encrypted entry raises EZipError "Cannot process this file: <name> ".
    // Data that are damaged or end early write nothing and raise nothing.
    void ExtractToStream(const TKAZipEntriesEntry& entry, std::ostream& out);
    // The uncompressed bytes as a text (empty when nothing could be read).
    std::string ExtractToString(const TKAZipEntriesEntry& entry);
    // Writes one entry to one file, honouring OverwriteAction. A folder entry
    // creates the folder. A file that cannot be created raises EOSError.
    void ExtractToFile(const TKAZipEntriesEntry& entry, const std::string& targetFileName);
    // Writes every selected entry below targetFolder, keeping its path. An
    // entry whose path would leave the folder ("../x", "/etc/x") is refused
    // with EZipError before anything is written.
    void ExtractSelected(const std::string& targetFolder);

private:
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;
    void ReadDirectory();
    // The entry's uncompressed bytes into data; false when they cannot be had.
    bool ReadEntryData(const TKAZipEntriesEntry& entry, std::string& data) const;
    void CheckSupported(const TKAZipEntriesEntry& entry) const;

    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::string fileName_;
    bool readOnly_ = false;
    TOverwriteAction overwriteAction_ = oaSkip;
    bool applyAtributes_ = true;
    TKAZipEntries entries_;
};

// The name forms and the file-mask match, also used on their own.
std::string ZipArchiveForm(std::string_view name);
// Letter case ignored; "*" any run (separators included), "?" one character,
// "[a-z]" / "[!a-z]" one character of a set; "\" and "/" are the same.
bool MatchesMask(std::string_view name, std::string_view mask);
// A relative path that stays below the folder it is joined to: not empty, no
// leading "/", no ".." component, no NUL byte.
bool IsSafeRelativePath(std::string_view path);
