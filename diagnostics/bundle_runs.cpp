#include "diagnostics/bundle_runs.h"

#include "history/history_reader.h"
#include "history/history_rules.h"

bool ReadBundleRuns(const std::wstring& folder, const std::wstring& fileName, std::vector<BundleRun>& runs) {
    const AgentHistory history = ReadAgentHistory(JournalSource{folder, fileName});
    if (history.counts.files == 0) return false;
    for (const AgentRun& run : history.runs) {
        if (runs.size() == kBundleMaxRuns) break;
        const bool bRunning = run.end == RunEnd::Running;
        runs.push_back(BundleRun{run.startMs == 0 ? L"(before the journal)" : FormatHistoryTime(run.startMs),
                                 bRunning ? std::wstring() : FormatHistoryTime(run.endMs),
                                 run.startMs == 0 ? std::wstring() : FormatDuration(run.RunMs()),
                                 DescribeRunEnd(run, history.TextOf(run)),
                                 run.pid == 0 ? std::wstring() : std::to_wstring(run.pid),
                                 std::to_wstring(run.lines)});
    }
    return true;
}
