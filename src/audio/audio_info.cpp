// Fills the audio information record through the format registry.
#include "audio/audio_info.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>

#include "audio/buffered_file.h"
#include "audio/format_registry.h"
#include "audio/stream_props.h"
#include "audio/tag_fields.h"
#include "audio/text_codec.h"
#include "base/exe_dir.h"
#include "base/language.h"
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

thread_local std::vector<std::string>* markSink = nullptr;

std::string Decimal(long long n) { return std::to_string(n); }

// What a tag text becomes in the record: line breaks (CR LF, CR or LF)
// become one blank each, as players show them, and other control
// characters go.
std::string TagText(std::string_view value) {
    std::string joined;
    joined.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            joined += ' ';
        } else {
            joined += value[i];
        }
    }
    return StripControlChars(joined);
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
    artistSort_ = TagText(tags.ArtistSort);
    albumArtistSort_ = TagText(tags.AlbumArtistSort);
    compilation_ = tags.Compilation;
}

void TAudioInfo::FillEmptyTags(const TTagFields& tags) {
    for (const TTextSlot& slot : kTextSlots)
        if (GetText(slot.number).empty()) SetTagText(slot.number, tags.*slot.field);
    if (GetText(atTrack) == "0") SetText(atTrack, Decimal(tags.Track));
    if (albumArtist_.empty()) albumArtist_ = TagText(tags.AlbumArtist);
    if (disc_.empty() && tags.Disc > 0) disc_ = Decimal(tags.Disc);
    if (artistSort_.empty()) artistSort_ = TagText(tags.ArtistSort);
    if (albumArtistSort_.empty()) albumArtistSort_ = TagText(tags.AlbumArtistSort);
    compilation_ = compilation_ || tags.Compilation;
}

void TAudioInfo::ResetFor(const std::string& path) {
    Texts.assign(kAudioTextCount, std::string());
    Texts[atFileName] = path;
    Numbers.clear();
    albumArtist_.clear();
    disc_.clear();
    artistSort_.clear();
    albumArtistSort_.clear();
    compilation_ = false;
    fileSize_ = 0;
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

void MarkSetting(const char* key) {
    if (markSink)
        markSink->emplace_back(key);
    else if (TConfiger* configer = AppConfiger())
        configer->WriteString("Session", key, "1");
}

void CollectSettingMarks(std::vector<std::string>* sink) { markSink = sink; }

bool TAudioInformer::IsAudioFile(std::string_view name) { return IsAudioExtension(name); }

void TAudioInformer::ReadFile(const std::string& path) {
    ResetFor(path);
    std::optional<TBufferedFile> file;
    try {
        file.emplace(path);
    } catch (const Exception&) {
        // An MP3 that vanished before it was read keeps what its name says.
        const std::string ext = UpperCase(ExtractFileExt(path));
        if (!FileExists(path) && ext == ".MP3") {
            ApplyFileNameTemplates(path);
            return;
        }
        if (ext == ".M4A") MarkSetting("iTunesInstalled");
        throw;
    }
    const TFileHead head(*file);
    const TAudioFormat* format = FormatOf(head, path);
    if (!format) throw EUnknownFormat(Translate("not an audio file of a known kind"));
    TFormatRead read = format->Read(*file, head);
    SetTags(read.tags);
    Numbers = std::move(read.numbers);
    fileSize_ = file->Size();
    if (read.untagged) ApplyFileNameTemplates(path);
}
