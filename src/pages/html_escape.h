#pragma once
// Escaping for the HTML and sitemap files we generate. Their output is UTF-8;
// the compiled file turns it into its code page when it takes the files in.
#include <string>
#include <string_view>

// Text for an HTML element or attribute value: "&", "<", ">" and the double
// quote become entities. A byte that starts no valid UTF-8 sequence is taken
// as its Latin-1 character, so the result is always valid UTF-8.
std::string HtmlEscape(std::string_view text);
