#pragma once
// The audio information record: eight texts and up to seven numbers that
// describe one audio file, and the reader that fills them from the file.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"
#include "base/shared_functions.h"

struct TTagFields;

// Raised by ReadFile (through its format readers) when a file cannot be read;
// the collection leaves such a file out. Files that cannot be opened raise
// EOSError; every error derives from Exception.
ORVALIS_DECLARE_ERROR(EAudioError, Exception);
// A read needed past the end of the file.
ORVALIS_DECLARE_ERROR(EReadError, EAudioError);
// A tag value that must be a number is not one.
ORVALIS_DECLARE_ERROR(EConvertError, EAudioError);

// Text field numbers.
enum TAudioText : int {
    atArtist = 0,
    atTitle = 1,
    atAlbum = 2,
    atYear = 3,
    atComment = 4,
    atTrack = 5,
    atGenre = 6,
    atFileName = 7,
};
constexpr int kAudioTextCount = 8;

// Numeric field numbers. Every audio record has the first five; MPEG records
// also have version and layer.
enum TAudioNumber : int {
    anPlayingTime = 0,  // whole seconds
    anSampleRate = 1,   // Hz
    anBitRate = 2,      // kbit/s
    anChannelCode = 3,  // see TChannelCode
    anFileSize = 4,     // bytes, low 32 bits
    anMpegVersion = 5,  // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5, 0 none
    anMpegLayer = 6,    // 1, 2, 3, 0 none
};
constexpr int kAudioNumberCount = 5;
constexpr int kMpegNumberCount = 7;

enum TChannelCode : int {
    ccUnknown = 0,
    ccStereo = 1,
    ccJointStereo = 2,
    ccDualChannel = 3,
    ccMono = 4,
};

// Channel code of a channel count: 1 mono, 2 stereo, anything else unknown.
int ChannelCodeOf(int channels);

// Nearest integer, halves to the even neighbour; NaN gives 0 and values
// outside the 32-bit range are clamped.
std::int32_t RoundHalfEven(double value);

class TAudioInfo {
public:
    TAudioInfo() = default;
    TAudioInfo(const TAudioInfo& other);
    TAudioInfo& operator=(const TAudioInfo& other);
    TAudioInfo(TAudioInfo&&) noexcept = default;
    TAudioInfo& operator=(TAudioInfo&&) noexcept = default;
    virtual ~TAudioInfo() = default;

    // Text field i (0 to 7); empty for any other i. Views stay valid until
    // the record's texts change.
    std::string_view GetText(int i) const { return i >= 0 && i < kAudioTextCount ? Slot(i) : std::string_view(); }
    // Stores the part of value before its first CR (the whole value without one).
    void SetText(int i, std::string_view value);
    // GetText(i) as a whole decimal number (leading blanks and a sign allowed),
    // 0 when it is not one.
    int GetTextAsNumber(int i) const;
    // Numeric field i; 0 when i is not below NumberCount().
    std::int32_t GetNumber(int i) const {
        return i >= 0 && i < numberCount_ ? numbers_[static_cast<std::size_t>(i)] : 0;
    }
    int NumberCount() const { return numberCount_; }
    // The numbers in field order; none, 5 or 7 of them (more are dropped).
    void SetNumbers(const std::vector<std::int32_t>& numbers);

    // A tag text: its first line without control characters (a tab becomes
    // a blank), as tag values may carry zero bytes, escapes and the like.
    void SetTagText(int i, std::string_view value);
    // Texts 0 to 6 from a reader's tags, the track number in decimal, and
    // the album artist and disc.
    void SetTags(const TTagFields& tags);
    // Only the texts that are still empty; a track text "0" counts as empty.
    void FillEmptyTags(const TTagFields& tags);

    // Beside the eight numbered texts: the album artist, and the disc number
    // in decimal (empty when the tags give none).
    std::string_view AlbumArtist() const { return Slot(kAlbumArtistSlot); }
    std::string_view Disc() const { return Slot(kDiscSlot); }
    // The names to sort the artist and the album artist by ("Beatles, The"),
    // empty when the tags give none; whether the tags mark a compilation.
    std::string_view ArtistSort() const { return Slot(kArtistSortSlot); }
    std::string_view AlbumArtistSort() const { return Slot(kAlbumArtistSortSlot); }
    bool Compilation() const { return compilation_; }
    // The file size in full; number 4 holds only its low 32 bits.
    std::uint64_t FileSize() const { return fileSize_; }

protected:
    // 8 empty texts, text 7 := path, no numbers, no album artist or disc.
    void ResetFor(const std::string& path);

private:
    // A collection keeps hundreds of thousands of records, so the twelve
    // texts live in one block: their end offsets, then their bytes. No
    // block means every text is empty.
    static constexpr int kAlbumArtistSlot = kAudioTextCount;
    static constexpr int kDiscSlot = kAudioTextCount + 1;
    static constexpr int kArtistSortSlot = kAudioTextCount + 2;
    static constexpr int kAlbumArtistSortSlot = kAudioTextCount + 3;
    static constexpr int kSlotCount = kAudioTextCount + 4;
    std::string_view Slot(int slot) const;
    void SetSlot(int slot, std::string_view value);
    std::size_t BlockSize() const;

    std::unique_ptr<char[]> texts_;
    std::array<std::int32_t, kMpegNumberCount> numbers_{};
    std::uint8_t numberCount_ = 0;
    bool compilation_ = false;

protected:
    std::uint64_t fileSize_ = 0;
};

class TMP3Info : public TAudioInfo {};

class TBufferedFile;

class TMP3Informer : public TMP3Info {
protected:
    // Artist and title from the first matching file-name template; marks
    // "Session" / "EmptyTags" in the configuration.
    void ApplyFileNameTemplates(const std::string& path);
};

class TAudioInformer : public TMP3Informer {
public:
    // True for the extensions of the formats the program reads, in any case
    // (see the format registry).
    static bool IsAudioFile(std::string_view name);
    // Fills the record from the file, read by the format its bytes show,
    // whatever its extension. Raises an Exception (EOSError, EAudioError, ...)
    // when the file cannot be read, and EUnknownFormat when no format
    // recognises it; MPEG files never raise once they are recognised.
    void ReadFile(const std::string& path);
};

// Writes "Session" / key = "1" to the configuration: a reader met something
// worth remembering (an untagged file, an MPEG-4 file). The configuration is
// not shared between threads, so a thread that collects its marks keeps them
// in the sink instead, for its owner to write in its own order.
void MarkSetting(const char* key);
// Collects the calling thread's marks into sink from now on; null writes them again.
void CollectSettingMarks(std::vector<std::string>* sink);

// The file-name templates: three lines each (regular expression, artist group,
// title group). Loaded on first use from "fnametemplates.txt" beside the
// executable unless set before; shared and read-only afterwards.
const TStringList& FileNameTemplates();
void SetFileNameTemplates(TStringList lines);
// Replaces the list with the lines of the given file (empty when missing).
void LoadFileNameTemplates(const std::string& fileName);
