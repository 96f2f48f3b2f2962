#pragma once
// Page titles: reading <title> out of a page, decoding its character
// references, and turning the text into the code page the viewers read
// the file's strings in.
#include <cstdint>
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
