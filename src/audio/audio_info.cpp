#include "audio/audio_info.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

#include "audio/buffered_file.h"
#include "audio/flac.h"
#include "audio/id3.h"
#include "audio/m4a.h"
#include "audio/mpeg.h"
#include "audio/ogg_vorbis.h"
#include "audio/stream_props.h"
#include "audio/tag_fields.h"
#include "audio/text_codec.h"
#include "audio/wma.h"
#include "base/exe_dir.h"
#include "services/configer.h"

namespace {

const std::string kEmpty;

struct TCodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};

struct TTemplate {
    std::unique_ptr<pcre2_code, TCodeDeleter> code;  // null when the expression does not compile
    int artistGroup = 0;
    int titleGroup = 0;
    // Groups of the expression itself: slots past them in the match data
    // hold whatever an earlier match left there.
    std::uint32_t captureCount = 0;
};

struct TTemplateStore {
    std::mutex lock;
    bool loaded = false;
    TStringList lines;
    std::vector<TTemplate> compiled;
};

TTemplateStore& Store() {
    static TTemplateStore store;
    return store;
}

int GroupNumber(const TStringList& lines, std::size_t i) {
    long long n;
    if (i >= lines.size() || !ParseWholeNumber(lines[i], n) || n < INT_MIN || n > INT_MAX) return 0;
    return static_cast<int>(n);
}

// Callers hold the store's lock.
void Install(TTemplateStore& store, TStringList lines) {
    store.lines = std::move(lines);
    store.compiled.clear();
    for (std::size_t i = 0; i < store.lines.size(); i += 3) {
        TTemplate t;
        int error;
        PCRE2_SIZE offset;
        const std::string& pattern = store.lines[i];
        t.code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                   PCRE2_CASELESS | PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr));
        if (t.code) pcre2_pattern_info(t.code.get(), PCRE2_INFO_CAPTURECOUNT, &t.captureCount);
        t.artistGroup = GroupNumber(store.lines, i + 1);
        t.titleGroup = GroupNumber(store.lines, i + 2);
        store.compiled.push_back(std::move(t));
    }
    store.loaded = true;
}

// Lines split at CR LF, CR or LF; a line break at the very end adds no line.
TStringList SplitLines(const std::string& text) {
    TStringList lines;
    std::size_t p = 0;
    while (p < text.size()) {
        std::size_t e = text.find_first_of("\r\n", p);
        if (e == std::string::npos) {
            lines.push_back(text.substr(p));
            break;
        }
        lines.push_back(text.substr(p, e - p));
        p = e + ((text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

TTemplateStore& LoadedStore() {
    TTemplateStore& store = Store();
    std::lock_guard<std::mutex> guard(store.lock);
    if (!store.loaded) Install(store, SplitLines(LoadTextFile(JoinPath(ExeDir(), "fnametemplates.txt"))));
    return store;
}

std::string CleanTemplateText(std::string text) {
    for (char& c : text)
        if (c == '_') c = ' ';
    ReplaceAll(text, "  ", " ", true);
    return Trim(text);
}

void MarkSetting(const char* key) {
    if (TConfiger* configer = AppConfiger()) configer->WriteString("Session", key, "1");
}

std::string Decimal(long long n) { return std::to_string(n); }

std::int32_t FileSizeNumber(std::uint64_t size) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(size & 0xFFFFFFFFu));
}

// What a tag text becomes in the record: its first line, without control
// characters.
std::string TagText(std::string_view value) { return StripControlChars(value.substr(0, value.find('\r'))); }

// Numbers 0 to 4 from a reader's stream values: seconds and kbit/s, rounded.
std::vector<std::int32_t> StreamNumbers(const TStreamProps& stream, std::uint64_t fileSize) {
    return {RoundHalfEven(double(stream.Duration) / 1000), stream.SampleRate, RoundHalfEven(stream.BitRate / 1000.0),
            ChannelCodeOf(stream.Channels), FileSizeNumber(fileSize)};
}

// The record's text number of each tag text but the track.
struct TTextSlot {
    int number;
    std::string TTagFields::*field;
};
const TTextSlot kTextSlots[] = {{atArtist, &TTagFields::Artist},   {atTitle, &TTagFields::Title},
                                {atAlbum, &TTagFields::Album},     {atYear, &TTagFields::Year},
                                {atComment, &TTagFields::Comment}, {atGenre, &TTagFields::Genre}};

}  // namespace

int ChannelCodeOf(int channels) {
    if (channels == 1) return ccMono;
    if (channels == 2) return ccStereo;
    return ccUnknown;
}

std::int32_t RoundHalfEven(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(std::nearbyint(value));  // the default mode rounds halves to even
}

const TStringList& FileNameTemplates() { return LoadedStore().lines; }

void SetFileNameTemplates(TStringList lines) {
    TTemplateStore& store = Store();
    std::lock_guard<std::mutex> guard(store.lock);
    Install(store, std::move(lines));
}

void LoadFileNameTemplates(const std::string& fileName) { SetFileNameTemplates(SplitLines(LoadTextFile(fileName))); }

TAudioInfo::TAudioInfo() : Texts(kAudioTextCount) {}

const std::string& TAudioInfo::GetText(int i) const {
    return i >= 0 && i < static_cast<int>(Texts.size()) ? Texts[static_cast<std::size_t>(i)] : kEmpty;
}

void TAudioInfo::SetText(int i, std::string_view value) {
    if (i < 0 || i >= static_cast<int>(Texts.size())) return;
    Texts[static_cast<std::size_t>(i)] = std::string(value.substr(0, value.find('\r')));
}

int TAudioInfo::GetTextAsNumber(int i) const {
    long long n;
    if (!ParseWholeNumber(GetText(i), n) || n < INT_MIN || n > INT_MAX) return 0;
    return static_cast<int>(n);
}

std::int32_t TAudioInfo::GetNumber(int i) const {
    return i >= 0 && i < NumberCount() ? Numbers[static_cast<std::size_t>(i)] : 0;
}

void TAudioInfo::SetTagText(int i, std::string_view value) { SetText(i, TagText(value)); }

void TAudioInfo::SetTags(const TTagFields& tags) {
    for (const TTextSlot& slot : kTextSlots) SetTagText(slot.number, tags.*slot.field);
    SetText(atTrack, Decimal(tags.Track));
    albumArtist_ = TagText(tags.AlbumArtist);
    disc_ = tags.Disc > 0 ? Decimal(tags.Disc) : std::string();
}

void TAudioInfo::FillEmptyTags(const TTagFields& tags) {
    for (const TTextSlot& slot : kTextSlots)
        if (GetText(slot.number).empty()) SetTagText(slot.number, tags.*slot.field);
    if (GetText(atTrack) == "0") SetText(atTrack, Decimal(tags.Track));
    if (albumArtist_.empty()) albumArtist_ = TagText(tags.AlbumArtist);
    if (disc_.empty() && tags.Disc > 0) disc_ = Decimal(tags.Disc);
}

void TAudioInfo::ResetFor(const std::string& path) {
    Texts.assign(kAudioTextCount, std::string());
    Texts[atFileName] = path;
    Numbers.clear();
    albumArtist_.clear();
    disc_.clear();
}

void TMP3Informer::ApplyFileNameTemplates(const std::string& path) {
    TTemplateStore& store = LoadedStore();
    std::unique_ptr<pcre2_match_data, void (*)(pcre2_match_data*)> match(pcre2_match_data_create(15, nullptr),
                                                                         pcre2_match_data_free);
    for (const TTemplate& t : store.compiled) {
        // An expression that does not compile is passed over, so one bad
        // line cannot cost every untagged file its numbers.
        if (!t.code || !match) continue;
        int rc = pcre2_match(t.code.get(), reinterpret_cast<PCRE2_SPTR>(path.data()), path.size(), 0, 0, match.get(),
                             nullptr);
        if (rc < 0) continue;
        PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match.get());
        const int pairs = static_cast<int>(pcre2_get_ovector_count(match.get()));
        auto group = [&](int n) -> std::string {
            if (n <= 0 || n > 14 || n >= pairs || static_cast<std::uint32_t>(n) > t.captureCount) return {};
            PCRE2_SIZE b = ovector[2 * n], e = ovector[2 * n + 1];
            if (b == PCRE2_UNSET || e == PCRE2_UNSET || e < b || e > path.size()) return {};
            return path.substr(b, e - b);
        };
        SetTagText(atArtist, CleanTemplateText(group(t.artistGroup)));
        SetTagText(atTitle, CleanTemplateText(group(t.titleGroup)));
        break;
    }
    MarkSetting("EmptyTags");
}

bool TMP3Informer::ReadMpegTags(TBufferedFile* file, const std::string& path) {
    TID3v2 v2;
    if (file) v2.ReadFrom(*file);
    SetTags(v2);

    bool v1Found = false;
    // A track of 0 means the ID3v2 tag had none, so the ID3v1.1 track number
    // may still fill it.
    bool anyEmpty = v2.Track == 0;
    for (int i = atArtist; i <= atGenre; ++i) anyEmpty = anyEmpty || GetText(i).empty();
    if (anyEmpty) {
        if (!file) return false;  // unreadable: nothing more to learn from it
        TID3v1Tag v1;
        v1.ReadFrom(*file);
        v1Found = v1.Exists;
        if (v1.Exists) FillEmptyTags(v1);
    }
    if (!v2.Exists && !v1Found) ApplyFileNameTemplates(path);
    return file != nullptr;
}

void TMP3Informer::ReadMpegFile(const std::string& path) {
    ResetFor(path);
    if (!FileExists(path)) {
        ApplyFileNameTemplates(path);
        return;
    }
    try {
        // One open file serves the tag readers and the stream analysis.
        std::optional<TBufferedFile> file;
        try {
            file.emplace(path);
        } catch (const Exception&) {
        }
        if (!ReadMpegTags(file ? &*file : nullptr, path)) return;

        TAudInfo info;
        info.ReadFrom(*file);
        const TMpegFrameHdr& h = info.Header;
        Numbers = StreamNumbers(info, file->Size());
        Numbers[anChannelCode] = h.Valid ? h.ChannelMode() + 1 : ccUnknown;
        Numbers.push_back(h.Valid ? h.Version : 0);
        Numbers.push_back(h.Valid ? h.Layer : 0);
    } catch (const std::exception&) {
        // MPEG files stay in the collection with what was read so far.
    }
}

bool TAudioInformer::IsAudioFile(std::string_view name) {
    const std::string ext = UpperCase(ExtractFileExt(name));
    return ext == ".MP3" || ext == ".WMA" || ext == ".OGG" || ext == ".FLAC" || ext == ".M4A";
}

void TAudioInformer::ReadFile(const std::string& path) {
    const std::string ext = UpperCase(ExtractFileExt(path));
    if (ext == ".MP3") {
        ReadMpegFile(path);
        return;
    }
    ResetFor(path);
    if (ext == ".WMA")
        ReadWmaFile(path);
    else if (ext == ".OGG")
        ReadOggFile(path);
    else if (ext == ".FLAC")
        ReadFlacFile(path);
    else if (ext == ".M4A")
        ReadM4aFile(path);
}

void TAudioInformer::ReadWmaFile(const std::string& path) {
    TWMAfile wma;
    std::uint64_t size = 0;
    try {
        TBufferedFile file(path);
        size = file.Size();
        wma.ReadFrom(file);
    } catch (const Exception&) {
        // The WMA reader absorbs every failure and delivers empty values.
    }
    SetTags(wma);
    Numbers = StreamNumbers(wma, size);
}

void TAudioInformer::ReadOggFile(const std::string& path) {
    TBufferedFile file(path);
    TOggVorbis ogg;
    ogg.ReadFrom(file);
    SetTags(ogg);
    Numbers = StreamNumbers(ogg, file.Size());
    Numbers[anBitRate] &= 0xFFFF;
}

void TAudioInformer::ReadFlacFile(const std::string& path) {
    TBufferedFile file(path);
    TFlacFile flac;
    flac.ReadFrom(file);
    SetTags(flac);
    Numbers = StreamNumbers(flac, file.Size());
    // Whole seconds, cut, not rounded. The bit rate is an estimate: 5 % allowed
    // for the container, 1024 bits to the kilobit; an unknown playing time
    // leaves it unknown instead of dropping the file.
    const std::int64_t seconds = std::min<std::int64_t>(flac.Duration / 1000, INT32_MAX);
    const double size = static_cast<double>(file.Size());
    Numbers[anPlayingTime] = static_cast<std::int32_t>(seconds);
    Numbers[anBitRate] = seconds > 0 ? RoundHalfEven(size / double(seconds) * 8 * 0.95 / 1024) : 0;
}

void TAudioInformer::ReadM4aFile(const std::string& path) {
    MarkSetting("iTunesInstalled");
    TBufferedFile file(path);
    TM4AFile m4a;
    m4a.ReadFrom(file);
    SetTags(m4a);
    Numbers = StreamNumbers(m4a, file.Size());
}
