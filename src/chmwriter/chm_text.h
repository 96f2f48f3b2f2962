#pragma once
// Page titles: reading <title> out of a page, decoding its character
// references, and turning the text into the code page the viewers read
// the file's strings in.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The text of the first <title> element, character references and entities
// decoded to UTF-8, runs of white space made one blank, trimmed. Empty when
// the page has no title.
std::string ExtractHtmlTitle(std::string_view html);

// Decodes "&#225;", "&#x44F;" and the HTML 4 named entities to UTF-8;
// anything unknown or malformed stays as written.
std::string DecodeHtmlText(std::string_view text);

// The Windows ANSI code page of a language id (0x409 -> 1252, 0x419 -> 1251,
// 0x411 -> 932 ...); 1252 for languages without a code page of their own.
unsigned CodePageOfLanguage(std::uint32_t languageId);

// UTF-8 text in the given Windows code page; 65001 keeps UTF-8. Characters
// the code page lacks become "?". Raises std::runtime_error for a code page
// the system cannot convert to.
std::string EncodeForCodePage(std::string_view utf8, unsigned codePage);

// The name of the code page in a charset declaration ("windows-1252").
std::string CharsetOfCodePage(unsigned codePage);

// HTML text written in UTF-8, in the code page: characters the code page
// lacks become numeric character references.
std::string EncodeHtmlTextForCodePage(std::string_view utf8, unsigned codePage);
// An HTML page so, where a declared "charset=utf-8" in the head also names
// the code page instead.
std::string EncodeHtmlForCodePage(std::string_view utf8, unsigned codePage);

// Text in the code page as UTF-8; a byte the code page leaves undefined
// becomes U+FFFD.
std::string DecodeFromCodePage(std::string_view bytes, unsigned codePage);

// Titles in the code page the viewers show them in: a letter the code page
// lacks is written by its unaccented spelling (Petrović -> Petrovic), and a
// script with no such spelling is romanized (Дмитрий -> Dmitrij), never "?".
class TTitleEncoder {
public:
    explicit TTitleEncoder(unsigned codePage);
    ~TTitleEncoder();
    TTitleEncoder(const TTitleEncoder&) = delete;
    TTitleEncoder& operator=(const TTitleEncoder&) = delete;
    std::string operator()(std::string_view utf8);

private:
    struct TRomanizer;
    std::string Romanized(std::string_view utf8);

    unsigned codePage_;
    std::unique_ptr<TRomanizer> romanizer_;
};

// Builds the romanizing rules on a thread of their own, once per process and
// only with a core to spare: the Chinese rules alone take a tenth of a
// second, which the first title encoder to meet a Chinese name would spend on
// the compiling thread. Later encoders find them built. The thread is joined
// at exit.
void PrepareRomanizer();
