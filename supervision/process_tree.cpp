// Ending the agent's process tree: the snapshot and the terminations. Which
// processes belong to the tree is decided in supervision/tree_rules.cpp.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <map>
#include <vector>

#include "framework/debug_trace.h"
#include "framework/handle.h"
#include "supervision/process_tree.h"
#include "supervision/tree_rules.h"

namespace {

constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;
constexpr DWORD kPathCapacity = 1040;

uint64_t CreationTime(HANDLE hProcess) {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(hProcess, &created, &exited, &kernel, &user)) return kCreatedUnknown;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// QueryFullProcessImageNameW (Vista and later) reads the image path without
// walking the other process's module list; on Wine that is about fifty times
// cheaper, and a kill reads the path of every process on the machine.
QueryFullProcessImageNameFn ImageNameQuery() {
    static const QueryFullProcessImageNameFn query =
        reinterpret_cast<QueryFullProcessImageNameFn>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    return query;
}

// Path of the process's main executable, cut to the buffer's capacity.
std::optional<std::wstring> MainModulePath(HANDLE hProcess, std::vector<wchar_t>& buffer) {
    if (QueryFullProcessImageNameFn query = ImageNameQuery()) {
        std::fill(buffer.begin(), buffer.end(), L'\0');
        DWORD n = kPathCapacity;
        if (query(hProcess, 0, buffer.data(), &n) && n > 0) return std::wstring(buffer.data(), n);
    }
    HMODULE hModule = nullptr;
    DWORD cbNeeded = 0;
    if (!::EnumProcessModules(hProcess, &hModule, sizeof(hModule), &cbNeeded)) return std::nullopt;
    std::fill(buffer.begin(), buffer.end(), L'\0');
    const DWORD n = ::GetModuleFileNameExW(hProcess, hModule, buffer.data(), kPathCapacity);
    if (n == 0) return std::nullopt;
    return std::wstring(buffer.data(), n < kPathCapacity ? n : kPathCapacity);
}

// Every process with its parent, and the path and creation time where the
// process lets us read them.
std::vector<ProcessRow> TakeProcessSnapshot() {
    std::vector<ProcessRow> rows;
    CFileHandle hSnapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot) return rows;
    std::vector<wchar_t> buffer(kPathCapacity + 1);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(hSnapshot.get(), &entry); more;
         more = ::Process32NextW(hSnapshot.get(), &entry)) {
        ProcessRow row;
        row.pid = entry.th32ProcessID;
        row.ppid = entry.th32ParentProcessID;
        CHandle hProcess(::OpenProcess(kProcessAccess, FALSE, row.pid));
        if (hProcess) {
            row.path = MainModulePath(hProcess.get(), buffer);
            row.created = CreationTime(hProcess.get());
        } else {
            // A process we may not read or end can still be the parent of one
            // we can end; its age is what lets the walk pass through it.
            CHandle hLimited(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, row.pid));
            if (hLimited) row.created = CreationTime(hLimited.get());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

bool WasEnded(const std::vector<ProcessRow>& ended, const ProcessRow& row) {
    for (const ProcessRow& gone : ended) {
        if (gone.pid == row.pid && gone.created == row.created) return true;
    }
    return false;
}

}  // namespace

// Safe on any thread and from two threads at once: every call works on its
// own snapshots, and a process the other call has ended just fails to open.
void KillAgentTree(const std::wstring& agentDir, int maxRounds) {
    const DWORD selfPid = ::GetCurrentProcessId();
    // A process of the tree may start a child between the snapshot and its
    // own end. Another round finds such children through the ended parent;
    // the kill is over when a round ends nothing new.
    std::vector<ProcessRow> ended;
    for (int round = 0; round < maxRounds; ++round) {
        const std::vector<ProcessRow> rows = TakeProcessSnapshot();
        std::map<uint32_t, const ProcessRow*> byPid;
        for (const ProcessRow& row : rows) byPid.emplace(row.pid, &row);
        const size_t endedBefore = ended.size();
        for (uint32_t pid : SelectAgentTree(rows, agentDir, selfPid, ended)) {
            const auto found = byPid.find(pid);
            if (pid == selfPid || found == byPid.end()) continue;
            const ProcessRow& row = *found->second;
            if (WasEnded(ended, row)) continue;
            CHandle hProcess(::OpenProcess(kProcessAccess, FALSE, pid));
            if (!hProcess) continue;
            // The id may have passed to a new process since the snapshot.
            if (row.created != kCreatedUnknown && CreationTime(hProcess.get()) != row.created) continue;
            if (!::TerminateProcess(hProcess.get(), 0)) continue;
            ended.push_back(row);
            if (row.path) DebugTrace(L"Killed " + *row.path);
        }
        if (ended.size() == endedBefore) break;
    }
}

std::vector<DWORD> AgentTreePids(const std::wstring& agentDir, HANDLE hAgent) {
    const DWORD selfPid = ::GetCurrentProcessId();
    // An agent that has ended still leads the walk to the children it left.
    std::vector<ProcessRow> ended;
    if (hAgent != nullptr) {
        ProcessRow agent;
        agent.pid = ::GetProcessId(hAgent);
        agent.created = CreationTime(hAgent);
        ended.push_back(agent);
    }
    const std::set<uint32_t> tree = SelectAgentTree(TakeProcessSnapshot(), agentDir, selfPid, ended);
    std::vector<DWORD> pids;
    for (uint32_t pid : tree) {
        if (hAgent == nullptr || pid != ended[0].pid) pids.push_back(pid);
    }
    return pids;
}
