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

void TAudioInfo::ResetFor(const std::string& path) {
    Texts.assign(kAudioTextCount, std::string());
    Texts[atFileName] = path;
    Numbers.clear();
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
            if (n <= 0 || n > 14 || n >= pairs) return {};
            PCRE2_SIZE b = ovector[2 * n], e = ovector[2 * n + 1];
            if (b == PCRE2_UNSET || e == PCRE2_UNSET || e < b) return {};
            return path.substr(b, e - b);
        };
        SetText(atArtist, CleanTemplateText(group(t.artistGroup)));
        SetText(atTitle, CleanTemplateText(group(t.titleGroup)));
        break;
    }
    MarkSetting("EmptyTags");
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
        TID3v2 v2;
        if (file) v2.ReadFrom(*file);
        SetText(atArtist, v2.Artist);
        SetText(atTitle, v2.Title);
        SetText(atAlbum, v2.Album);
        SetText(atYear, v2.Year);
        SetText(atComment, v2.Comment);
        SetText(atTrack, Decimal(v2.Track));
        SetText(atGenre, v2.Genre);

        bool v1Found = false;
        // A track of 0 means the ID3v2 tag had none, so the ID3v1.1 track
        // number may still fill it.
        const bool noTrack = v2.Track == 0;
        bool anyEmpty = noTrack;
        for (int i = atArtist; i <= atGenre; ++i) anyEmpty = anyEmpty || GetText(i).empty();
        if (anyEmpty) {
            if (!file) return;  // unreadable: nothing more to learn from it
            TID3v1Tag v1;
            v1.ReadFrom(*file);
            v1Found = v1.Exists;
            if (v1.Exists) {
                auto fill = [&](int i, const std::string& value) {
                    if (GetText(i).empty()) SetText(i, value);
                };
                fill(atArtist, v1.Artist);
                fill(atTitle, v1.Title);
                fill(atAlbum, v1.Album);
                fill(atYear, v1.Year);
                fill(atComment, v1.Comment);
                if (noTrack) SetText(atTrack, Decimal(v1.Track));
                fill(atGenre, v1.Genre);
            }
        }
        if (!v2.Exists && !v1Found) ApplyFileNameTemplates(path);

        // Tag values may carry zero bytes (several values in one frame); the
        // path is left exactly as given.
        for (int i = atArtist; i <= atGenre; ++i) {
            std::string& t = Texts[static_cast<std::size_t>(i)];
            std::erase_if(t, [](char c) { return c == '\0' || c == '\x01'; });
        }
        if (!file) return;

        TAudInfo info;
        info.ReadFrom(*file);
        const TMpegFrameHdr& h = info.Header;
        Numbers = {RoundHalfEven(info.Duration / 1000.0),
                   h.Valid ? h.SampleRate : 0,
                   RoundHalfEven(info.BitRate / 1000.0),
                   h.Valid ? h.ChannelMode() + 1 : ccUnknown,
                   FileSizeNumber(file->Size()),
                   h.Valid ? h.Version : 0,
                   h.Valid ? h.Layer : 0};
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
    if (ext == ".WMA") {
        TWMAfile wma;
        std::uint64_t size = 0;
        try {
            TBufferedFile file(path);
            size = file.Size();
            wma.ReadFrom(file);
        } catch (const Exception&) {
            // The WMA reader absorbs every failure and delivers empty values.
        }
        SetText(atArtist, wma.Artist);
        SetText(atTitle, wma.Title);
        SetText(atAlbum, wma.Album);
        SetText(atYear, wma.Year);
        SetText(atComment, wma.Comment);
        SetText(atTrack, Decimal(wma.Track));
        SetText(atGenre, wma.Genre);
        Numbers = {RoundHalfEven(wma.Duration), wma.SampleRate, wma.BitRate, ChannelCodeOf(wma.Channels),
                   FileSizeNumber(size)};
    } else if (ext == ".OGG") {
        TBufferedFile file(path);
        TOggVorbis ogg;
        ogg.ReadFrom(file);
        auto set = [&](int i, const std::string& value) { SetText(i, CutAtZero(value)); };
        set(atArtist, ogg.Artist);
        set(atTitle, ogg.Title);
        set(atAlbum, ogg.Album);
        set(atYear, ogg.Date);
        set(atComment, ogg.Comment);
        SetText(atTrack, Decimal(ogg.Track));
        set(atGenre, ogg.Genre);
        Numbers = {RoundHalfEven(ogg.Duration()), ogg.SampleRate, ogg.BitRate() & 0xFFFF,
                   ChannelCodeOf(ogg.Channels), FileSizeNumber(file.Size())};
    } else if (ext == ".FLAC") {
        TBufferedFile file(path);
        TFlacFile flac;
        flac.ReadFrom(file);
        SetText(atArtist, flac.Artist);
        SetText(atTitle, flac.Title);
        SetText(atAlbum, flac.Album);
        SetText(atYear, flac.Date);
        SetText(atComment, flac.Comment);
        SetText(atTrack, Decimal(flac.Track));
        SetText(atGenre, flac.Genre);
        // 5 % allowed for the container, 1024 bits to the kilobit; an unknown
        // playing time leaves the bit rate unknown instead of dropping the file.
        const double size = static_cast<double>(file.Size());
        const std::int32_t bitRate = flac.Duration > 0 ? RoundHalfEven(size / flac.Duration * 8 * 0.95 / 1024) : 0;
        Numbers = {flac.Duration, flac.SampleRate, bitRate, ChannelCodeOf(flac.Channels), FileSizeNumber(file.Size())};
    } else if (ext == ".M4A") {
        MarkSetting("iTunesInstalled");
        TBufferedFile file(path);
        TM4AFile m4a;
        m4a.ReadFrom(file);
        SetText(atArtist, m4a.Artist);
        SetText(atTitle, m4a.Title);
        SetText(atAlbum, m4a.Album);
        SetText(atYear, m4a.Year);
        SetText(atComment, m4a.Comment);
        SetText(atTrack, Decimal(m4a.Track));
        SetText(atGenre, m4a.Genre);
        Numbers = {m4a.Duration, m4a.SampleRate, m4a.BitRate, ChannelCodeOf(m4a.Channels), FileSizeNumber(file.Size())};
    }
}
