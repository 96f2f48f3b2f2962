#pragma once
// Text, file and path functions shared by every subsystem. Texts are byte
// strings (UTF-8); positions are 1-based; folders have no trailing "/".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"

using TStringList = std::vector<std::string>;

// Whole content of the file; empty when it is missing or cannot be read.
std::string LoadTextFile(const std::string& fileName);
// Creates or truncates the file and writes text; raises EOSError on failure.
void SaveTextFile(std::string_view text, const std::string& fileName);

// A file created or emptied, then written a piece at a time; raises EOSError
// as SaveTextFile does. Closed when it goes, silently.
class TTextFileWriter {
public:
    explicit TTextFileWriter(const std::string& fileName);
    ~TTextFileWriter();
    TTextFileWriter(const TTextFileWriter&) = delete;
    TTextFileWriter& operator=(const TTextFileWriter&) = delete;
    void Write(std::string_view text);
    // Raises when the written bytes may not have reached the file.
    void Close();

private:
    std::string fileName_;
    int fd_ = -1;
};

std::string ExtractSection(std::string_view text, std::string_view marker, int n);
void SplitFirst(std::string_view text, std::string_view sep, std::string& head, std::string& tail);
void SplitToList(std::string_view text, std::string_view sep, TStringList& list);
int GetIntField(std::string_view text, std::string_view sep, int index, int defaultValue);
void ReplaceAll(std::string& text, std::string_view find, std::string_view replacement, bool caseSensitive);
std::string TrimChar(std::string_view text, char c);

int FindCharInSet(std::string_view text, const bool (&charSet)[256], int from, bool inSet);
int FindCharFrom(std::string_view text, std::string_view chars, int from, bool inSet);
int PosFrom(std::string_view sub, std::string_view text, int from);
int PosFromNoCase(std::string_view sub, std::string_view text, int from);
int LastPosBefore(std::string_view sub, std::string_view text, int from);

std::string HexEncode(std::string_view bytes);
std::string Md5Digest(std::string_view text);  // 16 raw bytes

void SubstituteParams(std::string& text, std::string_view params);
std::string FormatDuration(std::int64_t seconds);
void LineColumnOf(std::string_view text, int position, int& column, bool forward, int& line);
std::string RemoveExtension(std::string_view fileName);

// Folder for temporary files: $XDG_RUNTIME_DIR when set, otherwise "/tmp".
std::string GetTempFolder();
// Private per-user folder, created with mode 0700: $XDG_RUNTIME_DIR/orvalis,
// else /tmp/orvalis-<uid>. A folder that is a link or belongs to another user
// is refused with EOSError, never used.
std::string GetUserTempFolder();
// The working folder: the folder of the run in progress (see TRunFolder),
// otherwise the per-user folder.
std::string GetAppTempFolder();
// Deletes the folder's contents depth first (and the folder unless keepFolder).
// Symbolic links are removed themselves, never followed; a file system
// mounted inside is never entered. Failures are ignored.
void DeleteTree(const std::string& folder, bool keepFolder);
// Which mount an entry lies on: its device and, where the kernel tells,
// its mount id (a bind mount of the same device differs only there).
struct TMountId {
    bool Known = false;
    std::uint64_t Device = 0;
    std::uint64_t Mount = 0;
    bool operator==(const TMountId&) const = default;
};
// Of name inside the open folder dirFd ("" for the folder itself), links not followed.
TMountId MountIdAt(int dirFd, const char* name);
// The whole of an open file when it is a regular file smaller than limit;
// false otherwise (a fifo, a device, a huge file) or when reading fails.
bool ReadSmallRegularFile(int fd, std::int64_t limit, std::string& text);
// DeleteTree's work on an open folder: everything inside that lies on mount.
void RemoveFolderContents(int dirFd, const TMountId& mount);
bool ForceFolders(std::string base, std::string path, bool skipLast);
std::string RelativePath(std::string_view path, std::string_view baseFolder);
std::uint32_t FileSize32(const std::string& fileName);
// Stores data as memberName in the zip archive (created when missing; a member
// of the same name is replaced; deflate level 6). Raises EOSError on failure.
void ZipBuffer(const std::string& archiveName, const std::string& memberName, std::string_view data,
               const std::string& password = {});

// Small helpers used across the program.
bool FileExists(const std::string& fileName);     // a regular file (links followed)
bool DirectoryExists(const std::string& folder);  // a folder (links followed)
std::string ExtractFileName(std::string_view path);
std::string ExtractFileDir(std::string_view path);  // without trailing "/" (except "/")
std::string ExtractFileExt(std::string_view path);  // with its dot, or empty
std::string JoinPath(std::string_view folder, std::string_view name);
std::string UpperCase(std::string_view text);           // ASCII letters only
std::string LowerCase(std::string_view text);           // ASCII letters only
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
int CompareText(std::string_view a, std::string_view b);
std::string Trim(std::string_view text);  // blanks and control characters at both ends
// Whole decimal number, or "0x"/"0X" hexadecimal; false when it is not one.
bool TryStrToInt(std::string_view text, long long& value);
int StrToIntDef(std::string_view text, int defaultValue);
