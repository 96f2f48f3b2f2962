#pragma once
// WMA: the objects of the ASF header, walked for stream properties and tags.
#include <cstdint>
#include <string>

#include "audio/stream_props.h"
#include "audio/tag_fields.h"

class TBufferedFile;

// The tags (TTagFields, UTF-8, trimmed) come from the content description
// objects; the stream values (TStreamProps) from the file and stream
// properties, the playing time estimated from the file size and the
// maximum bit rate.
class TWMAfile : public TTagFields, public TStreamProps {
public:
    // True when the header could be walked through; false when the file
    // could not be opened or ended inside the header. The tags found are kept
    // either way; the stream values are set only when they fit together
    // (Valid). Never raises.
    bool ReadFromFile(const std::string& path);
    bool ReadFrom(TBufferedFile& file);

    bool Valid = false;
    std::int64_t FileSize = 0;

private:
    void Reset();
};
