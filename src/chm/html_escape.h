#pragma once
// Escaping for the HTML and sitemap files we generate. Their output is pure
// ASCII: help viewers decode compiled pages in the code page of their language
// and ignore a page's charset, so every non-ASCII character is written as a
// numeric character reference.
#include <string>
#include <string_view>

// Text for an HTML element or attribute value: "&", "<", ">" and the double
// quote become entities, and every non-ASCII character a numeric reference.
std::string HtmlEscape(std::string_view text);

// Only the non-ASCII characters become numeric references; markup stays as it
// is. For texts that are already HTML (a page template).
std::string NonAsciiToCharRefs(std::string_view text);
