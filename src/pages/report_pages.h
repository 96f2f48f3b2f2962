#pragma once
// The statistics and collection health pages: their HTML, put before the
// page template's list.
#include <cstddef>
#include <string>
#include <vector>

#include "catalogue/health.h"
#include "catalogue/statistics.h"
#include "pages/play_links.h"

class TCatalogue;

inline constexpr const char* kStatisticsPage = "statistics.htm";
inline constexpr const char* kHealthPage = "health.htm";
// No list of the health page shows more rows than this.
inline constexpr std::size_t kHealthListRows = 2000;

std::string StatisticsHtml(const TCatalogueStatistics& statistics);
// withoutCover: album positions without a cover; nullptr when covers are off.
std::string HealthHtml(const TCatalogue& catalogue, const TCatalogueHealth& health,
                       const std::vector<std::size_t>* withoutCover, const TPlayLinks& links,
                       std::size_t rows = kHealthListRows);
// "1.5 GB", "120.3 MB", "512 KB".
std::string FormatSize(std::uint64_t bytes);
