#pragma once
// APEv2 tags: the tag of WavPack, Monkey's Audio, Musepack and TrueAudio
// files, and sometimes of MP3 files, stored at the end of the file (before
// an ID3v1 tag when there is one).
#include <cstdint>
#include <string>

#include "audio/tag_fields.h"

class TBufferedFile;

// The tag values (TTagFields) are UTF-8.
class TApeTag : public TTagFields {
public:
    // Reads the tag whose footer ends the file or stands right before an
    // ID3v1 tag; false when there is none. Never raises.
    bool ReadTrailing(TBufferedFile& file);

    bool Exists = false;
    std::uint64_t Offset = 0;  // where the tag (its header, when it has one) starts
    std::uint64_t Size = 0;    // the tag's bytes, header and footer included
    // The embedded front cover ("Cover Art (Front)", else the first "Cover
    // Art" item), empty when there is none.
    std::string CoverFront;
};

// The front cover of a file's trailing APEv2 tag; empty when there is none.
std::string ApeCover(TBufferedFile& file);
