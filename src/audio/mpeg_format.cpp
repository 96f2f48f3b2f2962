// MPEG audio (MP3, MP2): ID3v2 first, then ID3v1 and APEv2 for what is
// still empty; stream values from the first frame.
#include <optional>

#include "audio/apev2.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "audio/id3.h"
#include "audio/mpeg.h"

namespace {

bool AnyEmpty(const TTagFields& t) {
    return t.Artist.empty() || t.Title.empty() || t.Album.empty() || t.Year.empty() || t.Comment.empty() ||
           t.Genre.empty() || t.Track == 0;
}

class TMpegFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "MPEG audio"; }
    std::vector<std::string_view> Extensions() const override { return {".MP3", ".MP2"}; }

    // Two frame headers one frame apart; an ID3v2 tag alone is a weak sign
    // (a tagged file whose audio is damaged or missing).
    TMatch Recognise(const TFileHead& head) const override {
        if (FramesIn(head.AfterTag()) || FramesIn(head.AfterTag(TFileHead::kHeadSize))) return TMatch::Frames;
        // Also a tag whose size runs past the end of a cut file.
        return head.TagSize() > 0 || head.Start().substr(0, 3) == "ID3" ? TMatch::Weak : TMatch::No;
    }

private:
    static bool FramesIn(std::string_view bytes) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
        const int count = static_cast<int>(bytes.size());
        TMpegFrameHdr first;
        for (int i = first.Find(b, count); i >= 0; i = first.Find(b, count, i + 1)) {
            const std::int64_t next = std::int64_t(i) + first.FrameLength;
            // A frame running past the bytes at hand is believed when it
            // is the first thing after the tag.
            if (next + 4 > count) {
                if (i == 0 && first.FrameLength > 4) return true;
                break;
            }
            TMpegFrameHdr second;
            if (first.FrameLength > 4 && second.Parse(b + next, count - next) && second.Layer == first.Layer &&
                second.Version == first.Version)
                return true;
        }
        return false;
    }

public:
    // MPEG files stay in the collection with what could be read. The end of
    // the file is read first (both trailing tags), then the stream after the
    // ID3v2 tag, then that tag: so each block of the file is fetched once.
    TFormatRead Read(TBufferedFile& file, const TFileHead&) const override {
        TFormatRead r;
        TApeTag ape;
        TID3v1Tag v1;
        try {
            ape.ReadTrailing(file);
            v1.ReadFrom(file);
        } catch (const std::exception&) {
        }
        try {
            // An APEv2 tag (and an ID3v1 tag after it) is no audio: a cover
            // in it would lengthen a constant-bit-rate file.
            TAudInfo info;
            TBinaryReader reader(file);
            info.Analyse(reader, ape.Exists && ape.Offset > 0 ? ape.Offset : file.Size());
            const TMpegFrameHdr& h = info.Header;
            r.numbers = RecordNumbers(info, file.Size());
            r.numbers[anChannelCode] = h.Valid ? h.ChannelMode() + 1 : ccUnknown;
            r.numbers.push_back(h.Valid ? h.Version : 0);
            r.numbers.push_back(h.Valid ? h.Layer : 0);
        } catch (const std::exception&) {
        }
        TID3v2 v2;
        try {
            v2.ReadFrom(file);
        } catch (const std::exception&) {
        }
        r.tags = v2;
        if (v1.Exists && AnyEmpty(r.tags)) FillEmpty(r.tags, v1);
        if (ape.Exists && AnyEmpty(r.tags)) FillEmpty(r.tags, ape);
        r.untagged = !v2.Exists && !v1.Exists && !ape.Exists;
        return r;
    }

    std::string Cover(TBufferedFile& file) const override {
        std::string picture = Id3Cover(file);
        return !picture.empty() ? picture : ApeCover(file);
    }
};

}  // namespace

std::unique_ptr<TAudioFormat> MakeMpegFormat() { return std::make_unique<TMpegFormat>(); }
