#include "supervision/console_rules.h"

bool IsSameProcess(const ProcessRow& row, const ProcessRow& launched) {
    return launched.pid != 0 && row.pid == launched.pid && launched.created != kCreatedUnknown &&
           row.created == launched.created;
}

std::set<uint32_t> LaunchedTree(const std::vector<ProcessRow>& rows, const ProcessRow& launched,
                                uint32_t selfPid) {
    // The tree walk with no folder: nothing is taken by its path, and the
    // launched process leads the walk as one already ended would, gone or not.
    std::vector<ProcessRow> byAncestry;
    byAncestry.reserve(rows.size());
    for (const ProcessRow& row : rows) {
        ProcessRow copy;
        copy.pid = row.pid;
        copy.ppid = row.ppid;
        copy.created = row.created;
        byAncestry.push_back(copy);
    }
    ProcessRow root;
    root.pid = launched.pid;
    root.ppid = launched.ppid;
    root.created = launched.created;
    if (root.pid == 0 || root.created == kCreatedUnknown) return {};
    return SelectAgentTree(byAncestry, std::wstring_view(), selfPid, {root});
}

bool MaySignalConsole(const std::vector<uint32_t>& onConsole, const std::set<uint32_t>& agentPids,
                      uint32_t selfPid) {
    bool anyAgent = false;
    for (uint32_t pid : onConsole) {
        if (pid == selfPid) continue;
        if (agentPids.count(pid) == 0) return false;
        anyAgent = true;
    }
    return anyAgent;
}

std::vector<uint32_t> ConsoleCandidates(uint32_t agentPid, const std::set<uint32_t>& agentPids) {
    std::vector<uint32_t> order;
    if (agentPid != 0) order.push_back(agentPid);
    for (uint32_t pid : agentPids) {
        if (pid != agentPid && pid != 0) order.push_back(pid);
    }
    return order;
}
