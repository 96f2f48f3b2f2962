// Fills the audio information record through the format registry.
#include "audio/audio_info.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
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

TAudioInfo::TAudioInfo(const TAudioInfo& other)
    : numbers_(other.numbers_),
      numberCount_(other.numberCount_),
      compilation_(other.compilation_),
      fileSize_(other.fileSize_) {
    if (other.texts_) {
        const std::size_t size = other.BlockSize();
        texts_ = std::make_unique_for_overwrite<char[]>(size);
        std::memcpy(texts_.get(), other.texts_.get(), size);
    }
}

TAudioInfo& TAudioInfo::operator=(const TAudioInfo& other) {
    if (this != &other) *this = TAudioInfo(other);
    return *this;
}

namespace {
constexpr std::size_t kEndsBytes = 12 * sizeof(std::uint32_t);

std::uint32_t EndOf(const char* block, int slot) {
    std::uint32_t end;
    std::memcpy(&end, block + static_cast<std::size_t>(slot) * sizeof end, sizeof end);
    return end;
}
}  // namespace

std::size_t TAudioInfo::BlockSize() const { return texts_ ? kEndsBytes + EndOf(texts_.get(), kSlotCount - 1) : 0; }

std::string_view TAudioInfo::Slot(int slot) const {
    if (!texts_) return {};
    const std::uint32_t begin = slot > 0 ? EndOf(texts_.get(), slot - 1) : 0;
    return {texts_.get() + kEndsBytes + begin, EndOf(texts_.get(), slot) - begin};
}

void TAudioInfo::SetSlot(int slot, std::string_view value) {
    static_assert(kSlotCount * sizeof(std::uint32_t) == kEndsBytes);
    std::string_view old[kSlotCount];
    std::size_t total = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        old[i] = i == slot ? value : Slot(i);
        total += old[i].size();
    }
    if (total > UINT32_MAX) throw EAudioError("tag texts too long");
    if (total == 0) {
        texts_.reset();
        return;
    }
    // value may lie in the old block, so the new one is filled before the old goes.
    auto block = std::make_unique_for_overwrite<char[]>(kEndsBytes + total);
    std::uint32_t end = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        if (!old[i].empty()) std::memcpy(block.get() + kEndsBytes + end, old[i].data(), old[i].size());
        end += static_cast<std::uint32_t>(old[i].size());
        std::memcpy(block.get() + static_cast<std::size_t>(i) * sizeof end, &end, sizeof end);
    }
    texts_ = std::move(block);
}

void TAudioInfo::SetText(int i, std::string_view value) {
    if (i < 0 || i >= kAudioTextCount) return;
    SetSlot(i, value.substr(0, value.find('\r')));
}

int TAudioInfo::GetTextAsNumber(int i) const {
    long long n;
    if (!ParseWholeNumber(GetText(i), n) || n < INT_MIN || n > INT_MAX) return 0;
    return static_cast<int>(n);
}

void TAudioInfo::SetNumbers(const std::vector<std::int32_t>& numbers) {
    numberCount_ = static_cast<std::uint8_t>(std::min(numbers.size(), numbers_.size()));
    std::copy_n(numbers.begin(), numberCount_, numbers_.begin());
}

void TAudioInfo::SetTagText(int i, std::string_view value) { SetText(i, TagText(value)); }

void TAudioInfo::SetTags(const TTagFields& tags) {
    for (const TTextSlot& slot : kTextSlots) SetTagText(slot.number, tags.*slot.field);
    SetText(atTrack, Decimal(tags.Track));
    SetSlot(kAlbumArtistSlot, TagText(tags.AlbumArtist));
    SetSlot(kDiscSlot, tags.Disc > 0 ? Decimal(tags.Disc) : std::string());
    SetSlot(kArtistSortSlot, TagText(tags.ArtistSort));
    SetSlot(kAlbumArtistSortSlot, TagText(tags.AlbumArtistSort));
    compilation_ = tags.Compilation;
}

void TAudioInfo::FillEmptyTags(const TTagFields& tags) {
    for (const TTextSlot& slot : kTextSlots)
        if (GetText(slot.number).empty()) SetTagText(slot.number, tags.*slot.field);
    if (GetText(atTrack) == "0") SetText(atTrack, Decimal(tags.Track));
    if (AlbumArtist().empty()) SetSlot(kAlbumArtistSlot, TagText(tags.AlbumArtist));
    if (Disc().empty() && tags.Disc > 0) SetSlot(kDiscSlot, Decimal(tags.Disc));
    if (ArtistSort().empty()) SetSlot(kArtistSortSlot, TagText(tags.ArtistSort));
    if (AlbumArtistSort().empty()) SetSlot(kAlbumArtistSortSlot, TagText(tags.AlbumArtistSort));
    compilation_ = compilation_ || tags.Compilation;
}

void TAudioInfo::ResetFor(const std::string& path) {
    texts_.reset();
    SetSlot(atFileName, path);
    numberCount_ = 0;
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
    SetNumbers(read.numbers);
    fileSize_ = file->Size();
    if (read.untagged) ApplyFileNameTemplates(path);
}
