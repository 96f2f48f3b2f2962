#include "audio/apev2.h"

// Placeholder until the APEv2 reader lands: no tag is ever found.
bool TApeTag::ReadTrailing(TBufferedFile&) {
    Exists = false;
    return false;
}

std::string ApeCover(TBufferedFile&) { return {}; }
