#pragma once
// The catalogue model as a web site: its pages written by the page writer,
// then the start page, keyword page and search index around them.
#include <functional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/health.h"
#include "pages/page_writer.h"

struct TSiteRequest {
    bool Search = true;  // write the search index and show the search box
    TStageEvent OnStage;
    std::function<void()> CheckStop;
    // Percent of the site's files written; false stops the run.
    std::function<bool(int percent)> OnProgress;
    // The files the scan could not read, for the health page.
    std::vector<THealthUnreadable> Unreadable;
};

// Writes the pages into the working folder and the site in place of target
// (WriteWebSite). False when stopped by OnProgress; raises EOSError when the
// site cannot be written or placed, leaving target as it was.
bool WriteCatalogueSite(const TCatalogue& catalogue, const std::string& target, const TSiteRequest& request);
