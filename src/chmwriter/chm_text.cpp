// Page titles and the code pages a compiled help file's texts are written in.
#include "chmwriter/chm_text.h"

#include "base/utf8.h"
#include "chmwriter/chm_spelling.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// HTML 4 names of the characters 160 to 255, in code order.
const char* const kLatin1Entities[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct TNamedEntity {
    const char* Name;
    char32_t Code;
};
const TNamedEntity kOtherEntities[] = {
    {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},     {"apos", '\''},
    {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161}, {"Yuml", 0x178},
    {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ndash", 0x2013}, {"mdash", 0x2014},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"ldquo", 0x201C}, {"rdquo", 0x201D},
    {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},  {"hellip", 0x2026},
    {"permil", 0x2030}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},  {"trade", 0x2122}};

// The character a reference between "&" and ";" stands for, or 0.
char32_t ReferenceCode(std::string_view ref) {
    if (ref.size() >= 2 && ref[0] == '#') {
        std::uint32_t value = 0;
        const bool hex = ref[1] == 'x' || ref[1] == 'X';
        const std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8) return 0;
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return 0;
            value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        }
        // No surrogates, nothing past Unicode, no NUL.
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
        return value;
    }
    for (int i = 0; i < 96; ++i)
        if (ref == kLatin1Entities[i]) return static_cast<char32_t>(160 + i);
    for (const auto& e : kOtherEntities)
        if (ref == e.Name) return e.Code;
    return 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from) {
    if (what.size() > text.size()) return std::string_view::npos;
    for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < what.size() && LowerAscii(text[i + k]) == what[k]) ++k;
        if (k == what.size()) return i;
    }
    return std::string_view::npos;
}

class TIconv {
public:
    TIconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~TIconv() {
        if (Valid()) ::iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return cd_; }

private:
    iconv_t cd_;
};

const char* IconvName(unsigned codePage) {
    switch (codePage) {
        case 874: return "CP874";
        case 932: return "CP932";
        case 936: return "CP936";
        case 949: return "CP949";
        case 950: return "CP950";
        case 1250: return "CP1250";
        case 1251: return "CP1251";
        case 1252: return "CP1252";
        case 1253: return "CP1253";
        case 1254: return "CP1254";
        case 1255: return "CP1255";
        case 1256: return "CP1256";
        case 1257: return "CP1257";
        case 1258: return "CP1258";
        default: return nullptr;
    }
}

}  // namespace

std::string DecodeHtmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            const std::size_t semi = text.find(';', i + 1);
            if (semi != std::string_view::npos && semi - i <= 12) {
                if (char32_t code = ReferenceCode(text.substr(i + 1, semi - i - 1))) {
                    AppendUtf8(out, code);
                    i = semi;
                    continue;
                }
            }
        }
        out += text[i];
    }
    return out;
}

std::string ExtractHtmlTitle(std::string_view html) {
    std::size_t open = 0;
    for (;;) {
        open = FindNoCase(html, "<title", open);
        if (open == std::string_view::npos) return {};
        const char after = open + 6 < html.size() ? html[open + 6] : '\0';
        if (after == '>' || IsBlank(after)) break;
        open += 6;  // some other element, such as <titlebar>
    }
    const std::size_t start = html.find('>', open);
    if (start == std::string_view::npos) return {};
    std::size_t end = FindNoCase(html, "</title", start + 1);
    if (end == std::string_view::npos) end = html.size();
    const std::string decoded = DecodeHtmlText(html.substr(start + 1, end - start - 1));
    std::string title;
    bool pendingBlank = false;
    for (char c : decoded) {
        if (IsBlank(c)) {
            pendingBlank = !title.empty();
            continue;
        }
        if (pendingBlank) title += ' ';
        pendingBlank = false;
        title += c;
    }
    return title;
}

unsigned CodePageOfLanguage(std::uint32_t languageId) {
    const std::uint32_t primary = languageId & 0x3FF;
    switch (primary) {
        case 0x04: {  // Chinese: Taiwan, Hong Kong and Macao write traditional characters
            const std::uint32_t sub = languageId >> 10;
            return sub == 1 || sub == 3 || sub == 5 ? 950 : 936;
        }
        case 0x11: return 932;
        case 0x12: return 949;
        case 0x1E: return 874;
        case 0x2A: return 1258;
        case 0x02:
        case 0x19:
        case 0x22:
        case 0x23:
        case 0x2F:
        case 0x3F:
        case 0x40:
        case 0x44:
        case 0x50: return 1251;
        case 0x1A:  // Croatian, Serbian and Bosnian share a primary id; Cyrillic variants have their own sub ids
            return languageId == 0x0C1A || languageId == 0x1C1A || languageId == 0x201A ? 1251 : 1250;
        case 0x05:
        case 0x0E:
        case 0x15:
        case 0x18:
        case 0x1B:
        case 0x1C:
        case 0x24: return 1250;
        case 0x08: return 1253;
        case 0x1F: return 1254;
        case 0x2C: return languageId == 0x082C ? 1251 : 1254;
        case 0x0D: return 1255;
        case 0x01:
        case 0x20:
        case 0x29: return 1256;
        case 0x25:
        case 0x26:
        case 0x27: return 1257;
        default: return 1252;
    }
}

namespace {

// Runs iconv over one piece of text, appending to out; a character the
// target lacks, or a broken sequence, is handed to missing with the code
// point (U+FFFD when broken) and skipped.
template <class Missing>
void ConvertPiece(const TIconv& cd, std::string_view piece, std::string& out, Missing&& missing) {
    char buffer[4096];
    char* in = const_cast<char*>(piece.data());
    std::size_t inLeft = piece.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = ::iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        const std::string_view rest(in, inLeft);
        std::size_t next = 0;
        const char32_t c = missing.Decodes ? NextCodePoint(rest, next) : (next = 1, 0xFFFD);
        missing(out, c);
        in += next;
        inLeft -= next;
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    ::iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
}

template <class F>
struct TMissing {
    F write;
    bool Decodes;  // the input is UTF-8, so a whole character is skipped
    void operator()(std::string& out, char32_t c) { write(out, c); }
};

// Converts text piece by piece: ASCII, the same in every code page here,
// is copied as it is and only the runs between go through iconv. Pages are
// mostly ASCII markup, so this is most of the time saved.
template <class F>
std::string ConvertText(std::string_view text, const char* to, const char* from, bool wholeText, TMissing<F> missing) {
    TIconv cd(to, from);
    if (!cd.Valid())
        throw std::runtime_error(std::string("the system cannot convert text from ") + from + " to " + to);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    if (wholeText) {
        ConvertPiece(cd, text, out, missing);
        return out;
    }
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t start = at;
        while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) ++at;
        out.append(text.substr(start, at - start));
        start = at;
        while (at < text.size() && static_cast<unsigned char>(text[at]) >= 0x80) ++at;
        if (at > start) ConvertPiece(cd, text.substr(start, at - start), out, missing);
    }
    return out;
}

// UTF-8 text in the code page; missing(out, c) writes what stands for a
// character the code page lacks (U+FFFD for broken UTF-8).
template <class Missing>
std::string Encode(std::string_view utf8, unsigned codePage, Missing&& missing) {
    const char* name = IconvName(codePage);
    if (!name) throw std::runtime_error("code page " + std::to_string(codePage) + " is not supported");
    auto write = [&missing](std::string& out, char32_t c) { missing(out, c); };
    return ConvertText(utf8, name, "UTF-8", false, TMissing<decltype(write)>{write, true});
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (LowerAscii(text[at + i]) != word[i]) return false;
    return true;
}

}  // namespace

std::string EncodeForCodePage(std::string_view utf8, unsigned codePage) {
    if (codePage == 65001) return std::string(utf8);
    return Encode(utf8, codePage, [](std::string& out, char32_t) { out += '?'; });
}

std::string CharsetOfCodePage(unsigned codePage) {
    switch (codePage) {
        case 65001: return "utf-8";
        case 932: return "shift_jis";
        case 936: return "gb2312";
        case 949: return "ks_c_5601-1987";
        case 950: return "big5";
        default: return "windows-" + std::to_string(codePage);
    }
}

std::string EncodeHtmlTextForCodePage(std::string_view utf8, unsigned codePage) {
    if (codePage == 65001) return std::string(utf8);
    return Encode(utf8, codePage, [](std::string& text, char32_t c) {
        text += "&#";
        text += std::to_string(static_cast<std::uint32_t>(c));
        text += ';';
    });
}

std::string EncodeHtmlForCodePage(std::string_view utf8, unsigned codePage) {
    if (codePage == 65001) return std::string(utf8);
    std::string out = EncodeHtmlTextForCodePage(utf8, codePage);
    // The declaration in the head says what the bytes now are.
    const std::size_t headEnd = std::min(out.size(), FindNoCase(out, "</head", 0));
    for (std::size_t at = FindNoCase(out, "charset=", 0); at < headEnd; at = FindNoCase(out, "charset=", at + 1)) {
        std::size_t value = at + 8;
        const bool quoted = value < out.size() && (out[value] == '"' || out[value] == '\'');
        if (quoted) ++value;
        if (!StartsWithNoCase(out, value, "utf-8")) continue;
        out.replace(value, 5, CharsetOfCodePage(codePage));
        break;
    }
    return out;
}

std::string DecodeFromCodePage(std::string_view bytes, unsigned codePage) {
    if (codePage == 65001) return std::string(bytes);
    bool ascii = true;
    for (char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return std::string(bytes);
    const char* name = IconvName(codePage);
    if (!name) throw std::runtime_error("code page " + std::to_string(codePage) + " is not supported");
    // In a double-byte code page the second byte of a letter may look like
    // ASCII, so such text is decoded whole.
    const bool doubleByte = codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
    // A byte the code page leaves undefined, or a cut double-byte letter.
    auto write = [](std::string& out, char32_t) { AppendUtf8(out, 0xFFFD); };
    return ConvertText(bytes, "UTF-8", name, doubleByte, TMissing<decltype(write)>{write, false});
}

namespace {

const char* const kRomanizerId = "Any-Latin; Latin-ASCII";

std::unique_ptr<icu::Transliterator> NewRomanizer() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> any(icu::Transliterator::createInstance(kRomanizerId, UTRANS_FORWARD, status));
    if (U_FAILURE(status)) any.reset();
    return any;
}

struct TRomanizerWarmUp {
    std::thread thread;
    ~TRomanizerWarmUp() {
        if (thread.joinable()) thread.join();
    }
};

}  // namespace

void PrepareRomanizer() {
    static TRomanizerWarmUp warmUp;
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::thread::hardware_concurrency() < 2) return;
        warmUp.thread = std::thread([] {
            try {
                // ICU keeps each script's rules once built for any later
                // romanizer; they are built when a letter of the script first
                // comes. One letter of each script names are commonly in.
                if (std::unique_ptr<icu::Transliterator> any = NewRomanizer()) {
                    icu::UnicodeString sample = icu::UnicodeString::fromUTF8(
                        "\xE6\xBC\xA2 \xE3\x81\x8B \xE3\x82\xAB \xED\x95\x9C \xD0\x96 \xCE\xB1 "
                        "\xD8\xB9 \xD7\x90 \xE0\xB8\x81 \xE0\xA4\x95");
                    any->transliterate(sample);
                }
            } catch (...) {
                // Only time is lost: the encoder builds what it needs itself.
            }
        });
    });
}

struct TTitleEncoder::TRomanizer {
    std::unique_ptr<icu::Transliterator> any;
};

TTitleEncoder::TTitleEncoder(unsigned codePage) : codePage_(codePage) {}

TTitleEncoder::~TTitleEncoder() = default;

std::string TTitleEncoder::Romanized(std::string_view utf8) {
    if (!romanizer_) {
        romanizer_ = std::make_unique<TRomanizer>();
        romanizer_->any = NewRomanizer();
    }
    if (!romanizer_->any) return {};
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    romanizer_->any->transliterate(text);
    std::string out;
    text.toUTF8String(out);
    // Only what every code page holds.
    std::string ascii;
    for (char c : out)
        if (static_cast<unsigned char>(c) < 0x80 && static_cast<unsigned char>(c) >= 0x20) ascii += c;
    return ascii;
}

std::string TTitleEncoder::operator()(std::string_view utf8) {
    if (codePage_ == 65001) return std::string(utf8);
    bool lacking = false;
    std::string out = Encode(utf8, codePage_, [&](std::string&, char32_t) { lacking = true; });
    if (!lacking) return out;
    // Letters the code page lacks: their unaccented spelling, else runs of
    // them romanized, so a title never shows "?".
    out.clear();
    std::string pending;
    const auto flush = [&] {
        if (!pending.empty()) out += Romanized(pending);
        pending.clear();
    };
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t next = at;
        const char32_t c = NextCodePoint(utf8, next);
        const std::string_view letter = utf8.substr(at, next - at);
        at = next;
        if (c == 0xFFFD) continue;
        bool writes = true;
        const std::string encoded =
            c < 0x80 ? std::string(letter) : Encode(letter, codePage_, [&](std::string&, char32_t) { writes = false; });
        if (writes) {
            flush();
            out += encoded;
            continue;
        }
        std::string spelled;
        if (AppendAsciiSpelling(spelled, c)) {
            flush();
            out += spelled;
        } else {
            pending += letter;
        }
    }
    flush();
    return out;
}
