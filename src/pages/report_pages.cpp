// The statistics page's charts and the health page's lists. Charts are
// nested tables with widths: help viewers draw them, and they need neither
// script nor pictures.
#include "pages/report_pages.h"

#include <algorithm>
#include <cstdio>

#include "audio/audio_info.h"
#include "base/language.h"
#include "base/shared_functions.h"
#include "catalogue/catalogue.h"
#include "pages/html_escape.h"

namespace {

struct TBar {
    std::string label;  // HTML
    std::string value;  // HTML
    std::size_t amount = 0;
};

std::string Percent(std::size_t part, std::size_t whole) {
    if (whole == 0 || part == 0) return "0";
    // A bar of something is never invisible.
    return std::to_string(std::max<std::size_t>(1, part * 100 / whole));
}

std::string Chart(const std::vector<TBar>& bars) {
    if (bars.empty()) return "<p>" + HtmlEscape(Translate("None.")) + "</p>\n";
    std::size_t most = 0;
    for (const TBar& b : bars) most = std::max(most, b.amount);
    std::string html = "<table class=\"chart\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">\n";
    for (const TBar& b : bars) {
        html += "<tr><td class=\"label\">" + b.label + "</td><td class=\"count\" align=\"right\">" + b.value +
                "</td><td class=\"barcell\" width=\"60%\">";
        const std::string width = Percent(b.amount, most);
        if (width != "0")
            html += "<table class=\"bar\" cellspacing=\"0\" cellpadding=\"0\" width=\"" + width +
                    "%\"><tr><td class=\"bar\" bgcolor=\"#4f7cc0\">&nbsp;</td></tr></table>";
        html += "</td></tr>\n";
    }
    return html + "</table>\n";
}

std::string Heading(const std::string& text) { return "<h2>" + HtmlEscape(text) + "</h2>\n"; }

std::string Fact(const std::string& label, const std::string& value) {
    return "<tr><th>" + HtmlEscape(label) + "</th><td>" + HtmlEscape(value) + "</td></tr>\n";
}

std::string Count(std::size_t n) { return std::to_string(n); }

// One list of the health page: its heading with the count, at most rows of
// its items (the caller may make no more than that), and how many were
// left out; one line when it is empty.
// bands: for each item, the set it belongs to; rows of one set share a colour.
std::string Finding(const std::string& title, std::size_t count, const std::vector<std::string>& items,
                    std::size_t rows, const std::vector<std::size_t>& bands = {}) {
    std::string html = Heading(title + " (" + Count(count) + ")");
    if (count == 0) return html + "<p class=\"none\">" + HtmlEscape(Translate("None found.")) + "</p>\n";
    html += "<table class=\"list findings\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\">\n";
    const std::size_t shown = std::min(rows, items.size());
    for (std::size_t i = 0; i < shown; ++i)
        html += std::string("<tr class=\"") + ((i < bands.size() ? bands[i] : i) % 2 == 0 ? "odd" : "even") + "\"><td>" +
                items[i] + "</td></tr>\n";
    html += "</table>\n";
    if (count > shown)
        html += "<p class=\"more\">" + HtmlEscape(Translate("and $1 more", Params({Count(count - shown)}))) + "</p>\n";
    return html;
}

}  // namespace

std::string FormatSize(std::uint64_t bytes) {
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string StatisticsHtml(const TCatalogueStatistics& s) {
    std::string html = Heading(Translate("Totals"));
    html += "<table class=\"facts totals\" cellspacing=\"0\" cellpadding=\"2\">\n";
    html += Fact(Translate("Tracks"), Count(s.tracks));
    html += Fact(Translate("Albums"), Count(s.albums));
    html += Fact(Translate("Artists"), Count(s.artists));
    html += Fact(Translate("Genres"), Count(s.genres));
    html += Fact(Translate("Total time"), FormatDuration(s.seconds));
    html += Fact(Translate("Total size"), FormatSize(s.bytes));
    html += "</table>\n";

    html += Heading(Translate("Tracks per format"));
    std::vector<TBar> bars;
    for (const TFormatFigures& f : s.formats) bars.push_back({HtmlEscape(f.format), Count(f.tracks), f.tracks});
    html += Chart(bars);

    html += Heading(Translate("Average bit rate per format"));
    bars.clear();
    for (const TFormatFigures& f : s.formats)
        if (f.bitRateTracks > 0)
            bars.push_back({HtmlEscape(f.format), std::to_string(f.AverageBitRate()) + " kbit/s",
                             static_cast<std::size_t>(f.AverageBitRate())});
    html += Chart(bars);

    html += Heading(Translate("Tracks per decade"));
    bars.clear();
    for (const TStatisticsCount& d : s.decades) bars.push_back({HtmlEscape(d.name), Count(d.tracks), d.tracks});
    html += Chart(bars);
    if (s.withoutYear > 0)
        html += "<p>" + HtmlEscape(Translate("Tracks without a year: $1", Params({Count(s.withoutYear)}))) + "</p>\n";

    html += Heading(Translate("Top genres"));
    bars.clear();
    for (const TStatisticsCount& g : s.topGenres) bars.push_back({HtmlEscape(g.name), Count(g.tracks), g.tracks});
    html += Chart(bars);

    html += Heading(Translate("Artists with most tracks"));
    bars.clear();
    for (const TStatisticsCount& a : s.topArtists) bars.push_back({HtmlEscape(a.name), Count(a.tracks), a.tracks});
    html += Chart(bars);
    return html;
}

std::string HealthHtml(const TCatalogue& catalogue, const TCatalogueHealth& h,
                       const std::vector<std::size_t>* withoutCover, const TPlayLinks& links, std::size_t rows) {
    const auto fileLink = [&](std::string_view path) {
        return "<a class=\"play\" href=\"" + HtmlEscape(links.Href(path)) + "\">" + HtmlEscape(path) + "</a>";
    };
    const auto fileOf = [&](std::size_t id) { return catalogue.files[id]->GetText(atFileName); };
    const auto albumRow = [&](std::size_t a) {
        const TCatalogueGroup& g = catalogue.AlbumGroups()[a];
        return "<a href=\"" + g.page + "\">" + HtmlEscape(g.name) + "</a> <span class=\"path\">" +
               HtmlEscape(ExtractFileDir(fileOf(g.ids.front()))) + "</span>";
    };
    std::string html = "<p>" + HtmlEscape(Translate("Files are listed by their path; a path plays the file.")) + "</p>\n";

    std::vector<std::string> items;
    std::vector<std::size_t> sets;
    for (std::size_t d = 0; d < h.duplicates.size(); ++d)
        for (std::size_t id : h.duplicates[d]) {
            if (items.size() >= rows) break;
            sets.push_back(d);
            const TAudioInfo& f = *catalogue.files[id];
            items.push_back(fileLink(f.GetText(atFileName)) + " <span class=\"path\">" +
                            HtmlEscape(std::string(f.GetText(atArtist)) + " - " + std::string(f.GetText(atTitle)) + ", " +
                                       FormatDuration(f.GetNumber(anPlayingTime))) +
                            "</span>");
        }
    html += Finding(Translate("Duplicate tracks"), h.DuplicateFiles(), items, rows, sets);

    items.clear();
    for (std::size_t i = 0; i < h.untagged.size() && i < rows; ++i) items.push_back(fileLink(fileOf(h.untagged[i])));
    html += Finding(Translate("Files without any tag"), h.untagged.size(), items, rows);

    items.clear();
    for (std::size_t i = 0; i < h.albumsWithoutNumbers.size() && i < rows; ++i)
        items.push_back(albumRow(h.albumsWithoutNumbers[i]));
    html += Finding(Translate("Albums whose tracks lack track numbers"), h.albumsWithoutNumbers.size(), items, rows);

    if (withoutCover) {
        items.clear();
        for (std::size_t i = 0; i < withoutCover->size() && i < rows; ++i) items.push_back(albumRow((*withoutCover)[i]));
        html += Finding(Translate("Albums without a cover"), withoutCover->size(), items, rows);
    }

    items.clear();
    for (std::size_t i = 0; i < h.lowBitRate.size() && i < rows; ++i) {
        const std::size_t id = h.lowBitRate[i];
        items.push_back(fileLink(fileOf(id)) + " <span class=\"path\">" +
                        std::to_string(catalogue.files[id]->GetNumber(anBitRate)) + " kbit/s</span>");
    }
    html += Finding(Translate("Lossy files below 96 kbit/s"), h.lowBitRate.size(), items, rows);

    items.clear();
    for (std::size_t i = 0; i < h.unreadable.size() && i < rows; ++i)
        items.push_back(HtmlEscape(h.unreadable[i].path) + " <span class=\"path\">" +
                        HtmlEscape(h.unreadable[i].reason) + "</span>");
    html += Finding(Translate("Files that could not be read"), h.unreadable.size(), items, rows);
    return html;
}
