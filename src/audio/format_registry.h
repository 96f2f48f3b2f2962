#pragma once
// The audio formats the program reads. Each format is one unit that knows its
// file name extensions, recognises its own first bytes and reads the tags,
// stream values and embedded picture of a file. The informer, the scan's
// extension filter and the cover finder all ask this registry, so a new
// format is one unit (and its tests) plus one line in AudioFormats().
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_info.h"
#include "audio/stream_props.h"
#include "audio/tag_fields.h"

class TBufferedFile;

// No format recognises the file's bytes.
ORVALIS_DECLARE_ERROR(EUnknownFormat, EAudioError);

// The start of a file as the recognisers see it: the first bytes, and the
// first bytes after a leading ID3v2 tag (some encoders put one in front of
// FLAC, Ogg, TrueAudio and others).
class TFileHead {
public:
    static constexpr std::size_t kStartSize = 64;
    static constexpr std::size_t kHeadSize = 16384;

    explicit TFileHead(TBufferedFile& file);
    // For tests and recognisers fed from memory.
    TFileHead(std::string bytes, std::uint64_t fileSize);

    std::string_view Start() const { return start_; }  // up to kStartSize bytes from 0
    // At least 512 bytes from TagSize() where the file has them: as many as
    // the block the reader fetches anyway holds, so telling formats apart
    // costs no extra read. Magic numbers are found there.
    std::string_view AfterTag() const { return afterTag_; }
    // Up to want bytes from TagSize() (at most kHeadSize), read on demand:
    // for MPEG audio, whose first frame may follow some junk.
    std::string_view AfterTag(std::size_t want) const;
    std::uint64_t TagSize() const { return tagSize_; }        // 0 when there is no leading ID3v2 tag
    std::uint64_t FileSize() const { return fileSize_; }

private:
    void Split(std::string_view whole);

    TBufferedFile* file_ = nullptr;
    std::string start_;
    mutable std::string afterTag_;
    mutable bool complete_ = true;  // afterTag_ holds all there is up to kHeadSize
    std::uint64_t tagSize_ = 0;
    std::uint64_t fileSize_ = 0;
};

// How sure a format is that a file is its own. Only a magic number counts
// whatever the file is called; the weaker kinds count only under one of the
// format's own extensions.
enum class TMatch {
    No = 0,
    Weak = 1,   // e.g. an MP3 whose only sign of life is its ID3v2 tag
    Frames = 2, // frame headers that follow each other (MPEG audio has no magic)
    Magic = 3,
};

// What a format unit reads from one file.
struct TFormatRead {
    TTagFields tags;
    // The record's numbers (see TAudioNumber): 5 of them, 7 for MPEG audio.
    std::vector<std::int32_t> numbers;
    // No tag of any kind: the file-name templates may name the file.
    bool untagged = false;
};

class TAudioFormat {
public:
    virtual ~TAudioFormat() = default;
    virtual std::string_view Name() const = 0;
    // Upper-case, with the dot: ".FLAC".
    virtual std::vector<std::string_view> Extensions() const = 0;
    virtual TMatch Recognise(const TFileHead& head) const = 0;
    // Reads a file this format recognised; raises an Exception (EAudioError,
    // EReadError, ...) when it turns out unreadable.
    virtual TFormatRead Read(TBufferedFile& file, const TFileHead& head) const = 0;
    // The embedded front cover (else the first picture); empty when there is
    // none. Never raises.
    virtual std::string Cover(TBufferedFile& file) const = 0;
};

// Every format, in the order they are asked.
const std::vector<std::unique_ptr<TAudioFormat>>& AudioFormats();

// True when the name ends in an extension some format claims (any case).
bool IsAudioExtension(std::string_view name);

// The format of a file by its bytes. When several claim them, the strongest
// match wins, and among equals the one the name's extension belongs to.
// nullptr when none does.
const TAudioFormat* FormatOf(const TFileHead& head, std::string_view name);

// The record's first five numbers from a reader's stream values: the playing
// time rounded once to whole seconds, the bit rate to kbit/s.
std::vector<std::int32_t> RecordNumbers(const TStreamProps& stream, std::uint64_t fileSize);

// The units, one per format (each defined beside its reader).
std::unique_ptr<TAudioFormat> MakeMpegFormat();
std::unique_ptr<TAudioFormat> MakeFlacFormat();
std::unique_ptr<TAudioFormat> MakeOggFormat();
std::unique_ptr<TAudioFormat> MakeWmaFormat();
std::unique_ptr<TAudioFormat> MakeMp4Format();
std::unique_ptr<TAudioFormat> MakeAiffFormat();
std::unique_ptr<TAudioFormat> MakeWavFormat();
std::unique_ptr<TAudioFormat> MakeDsfFormat();
std::unique_ptr<TAudioFormat> MakeWavPackFormat();
std::unique_ptr<TAudioFormat> MakeMonkeysFormat();
std::unique_ptr<TAudioFormat> MakeMusepackFormat();
std::unique_ptr<TAudioFormat> MakeTrueAudioFormat();
