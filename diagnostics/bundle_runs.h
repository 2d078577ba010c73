// The agent's runs for the bundle's summary, as the history reads them from
// the journal's files. Any thread; it reads files only.
#pragma once

#include <string>
#include <vector>

#include "diagnostics/bundle_rules.h"

// The summary keeps the newest runs up to this many: a crash loop of a
// night would bury every other fact.
constexpr size_t kBundleMaxRuns = 500;

// The runs, newest first; true when the journal could be read at all.
bool ReadBundleRuns(const std::wstring& folder, const std::wstring& fileName, std::vector<BundleRun>& runs);
