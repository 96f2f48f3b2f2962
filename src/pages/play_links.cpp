// Links from the pages to the audio files.
#include "pages/play_links.h"

#include <vector>

namespace {

std::vector<std::string_view> PathParts(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::string PercentEncodePath(std::string_view path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() + path.size() / 4);
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string FileUrl(std::string_view path) { return "file://" + PercentEncodePath(path); }

std::string RelativeFilePath(std::string_view path, std::string_view folder) {
    if (path.empty() || folder.empty() || path[0] != '/' || folder[0] != '/') return {};
    const std::vector<std::string_view> to = PathParts(path);
    const std::vector<std::string_view> from = PathParts(folder);
    std::size_t common = 0;
    while (common < to.size() && common < from.size() && to[common] == from[common]) ++common;
    // Only the root in common: the link would break as soon as the site moves.
    if (common == 0 || common == to.size()) return {};
    std::string out;
    for (std::size_t i = common; i < from.size(); ++i) out += "../";
    for (std::size_t i = common; i < to.size(); ++i) {
        out += to[i];
        if (i + 1 < to.size()) out += '/';
    }
    return out;
}

std::string TPlayLinks::Href(std::string_view path) const {
    if (!SiteFolder.empty())
        if (const std::string relative = RelativeFilePath(path, SiteFolder); !relative.empty())
            return PercentEncodePath(relative);
    return FileUrl(path);
}

std::string TPlayLinks::PlaylistEntry(std::string_view path) const {
    if (!SiteFolder.empty())
        if (const std::string relative = RelativeFilePath(path, SiteFolder); !relative.empty()) return relative;
    return FileUrl(path);
}
