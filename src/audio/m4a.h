#pragma once
// M4A: the atom tree of an MPEG-4 audio file, searched for the movie header,
// the first audio track's sample entry and the iTunes-style tag list.
// Files of any brand are read when they hold an audio track.
#include <cstdint>
#include <string>

#include "audio/stream_props.h"
#include "audio/tag_fields.h"

class TBufferedFile;

// The genre list of the "gnre" item: 126 names numbered from 0.
constexpr int kM4AGenreCount = 126;
const char* M4AGenreName(int index);  // nullptr outside 0 to 125

// The tags (TTagFields) are the item bytes as stored, UTF-8 in practice;
// the stream values (TStreamProps) come from the movie header and the first
// audio track.
class TM4AFile : public TTagFields, public TStreamProps {
public:
    // Nothing happens for a path of fewer than 2 characters. Raises EOSError
    // when the file cannot be opened and EReadError when a value the walk
    // needs lies past the end of the file.
    void ReadFromFile(const std::string& path);
    void ReadFrom(TBufferedFile& file);

    bool HasTags() const { return hasTags_; }
    // Setting it either way empties the tags; the stream values stay.
    void SetHasTags(bool value);

    // The file holds a video track (an .mp4 film, not audio).
    bool HasVideo() const { return hasVideo_; }

private:
    bool hasTags_ = false;
    bool hasVideo_ = false;
};
