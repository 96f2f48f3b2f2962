#pragma once
// Page templates: a template cut into its page, group row and item row, and
// the one-pass filling of "$Name" placeholders.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The pieces cut out of a page template.
struct TPageTemplates {
    std::string Page;   // head + "$Item" + tail
    std::string Group;  // one row of an index page
    std::string Item;   // one row of a group page
    // The heading row of one album on an artist page; optional (empty when
    // the template has no album markers).
    std::string Section;
};
// Cuts the template at its item and group markers; missing markers leave
// empty or shortened parts, never an error. An album block
// ("<!--Album.Begin-->...<!--Album.End-->") next to the other two is cut out
// with them.
TPageTemplates CutPageTemplate(std::string_view text);

// Text with its "$Name" placeholders (letter case ignored) replaced in one
// pass: where several placeholders match at one place, the earlier in the
// list wins, and inserted values are never scanned again, so a title that
// reads "$Time" stays as it is.
using TPlaceholders = std::vector<std::pair<std::string_view, std::string_view>>;
std::string FillPlaceholders(std::string_view text, const TPlaceholders& values);

// Texts of the archive's pages between these markers go through Translate,
// keyed by the text with its runs of blanks and line breaks made one space.
inline constexpr const char* kPageTextBegin = "<!--T-->";
inline constexpr const char* kPageTextEnd = "<!--/T-->";
std::string TranslatePageText(std::string_view html);
std::string PageTextKey(std::string_view text);
