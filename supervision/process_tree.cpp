// Ending the agent's process tree: the snapshot and the terminations. Which
// processes belong to the tree is decided in supervision/tree_rules.cpp.
//
// Rights: the snapshot only reads paths and times, so where the system has
// a limited query right (Vista on) that is all it asks; terminate rights are
// asked only of the processes chosen for ending. Windows XP needs the full
// query and memory-read rights to read a path at all.
//
// Identity: a process belongs to the agent folder when the file system says
// its executable lies there, however either path is spelled (another drive
// letter, a link or junction, a mapped drive): the folder's final path
// against each executable's native path, and where those differ in form,
// the executable's own final path. Where the system cannot say (XP), the
// paths are compared as spelled.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <map>
#include <vector>

#include "framework/debug_trace.h"
#include "framework/file_identity.h"
#include "framework/handle.h"
#include "supervision/console_rules.h"
#include "supervision/process_tree.h"

namespace {

constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION
constexpr DWORD kNativeName = 0x1;       // PROCESS_NAME_NATIVE
constexpr DWORD kPathCapacity = 1040;

uint64_t CreationTime(HANDLE hProcess) {
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(hProcess, &created, &exited, &kernel, &user)) return kCreatedUnknown;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// QueryFullProcessImageNameW (Vista and later) reads the image path with the
// limited query right, without walking the other process's module list; on
// Wine that is about fifty times cheaper, and a kill reads the path of every
// process on the machine.
QueryFullProcessImageNameFn ImageNameQuery() {
    static const QueryFullProcessImageNameFn query =
        reinterpret_cast<QueryFullProcessImageNameFn>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    return query;
}

// What reading a path and a time needs, and what ending adds to it.
DWORD ReadAccess() { return ImageNameQuery() ? kQueryLimited : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ; }
DWORD EndAccess() {
    return PROCESS_TERMINATE | (ImageNameQuery() ? kQueryLimited : PROCESS_QUERY_INFORMATION);
}

std::optional<std::wstring> ImagePath(HANDLE hProcess, DWORD flags, std::vector<wchar_t>& buffer) {
    QueryFullProcessImageNameFn query = ImageNameQuery();
    if (query == nullptr) return std::nullopt;
    std::fill(buffer.begin(), buffer.end(), L'\0');
    DWORD n = kPathCapacity;
    if (query(hProcess, flags, buffer.data(), &n) && n > 0) return std::wstring(buffer.data(), n);
    return std::nullopt;
}

// Path of the process's main executable, cut to the buffer's capacity.
std::optional<std::wstring> MainModulePath(HANDLE hProcess, std::vector<wchar_t>& buffer) {
    if (ImageNameQuery()) return ImagePath(hProcess, 0, buffer);
    HMODULE hModule = nullptr;
    DWORD cbNeeded = 0;
    if (!::EnumProcessModules(hProcess, &hModule, sizeof(hModule), &cbNeeded)) return std::nullopt;
    std::fill(buffer.begin(), buffer.end(), L'\0');
    const DWORD n = ::GetModuleFileNameExW(hProcess, hModule, buffer.data(), kPathCapacity);
    if (n == 0) return std::nullopt;
    return std::wstring(buffer.data(), n < kPathCapacity ? n : kPathCapacity);
}

// The agent folder as the file system knows it, and the verdicts on the
// executables already judged during one kill (the rounds share them).
class CAgentDirIdentity {
public:
    explicit CAgentDirIdentity(const std::wstring& agentDir) : m_id(ReadFolderIdentity(agentDir)) {}

    bool Contains(HANDLE hProcess, const std::optional<std::wstring>& path, std::vector<wchar_t>& buffer) {
        if (!m_id) return false;
        if (m_id->form == FinalPathForm::Nt) {
            if (const auto native = ImagePath(hProcess, kNativeName, buffer)) {
                const NativeVerdict verdict = JudgeNativeImage(*native, m_id->path);
                if (verdict != NativeVerdict::AskFileSystem) return verdict == NativeVerdict::Under;
            }
        }
        if (!path) return false;
        const auto known = m_verdicts.find(*path);
        if (known != m_verdicts.end()) return known->second;
        const auto final = FinalPathOf(*path, m_id->form);
        const bool bUnder = final && IsUnderAgentDir(*final, m_id->path);
        m_verdicts.emplace(*path, bUnder);
        return bUnder;
    }

private:
    const std::optional<FolderIdentity> m_id;
    std::map<std::wstring, bool> m_verdicts;  // by executable path as spelled
};

// Every process with its parent, and the path and creation time where the
// process lets us read them. The launched agent is marked as in the agent
// folder whatever its path says, while its id and creation time are its own.
std::vector<ProcessRow> TakeProcessSnapshot(CAgentDirIdentity& identity, const ProcessRow& launched) {
    std::vector<ProcessRow> rows;
    CFileHandle hSnapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot) return rows;
    std::vector<wchar_t> buffer(kPathCapacity + 1);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    const DWORD access = ReadAccess();
    for (BOOL more = ::Process32FirstW(hSnapshot.get(), &entry); more;
         more = ::Process32NextW(hSnapshot.get(), &entry)) {
        ProcessRow row;
        row.pid = entry.th32ProcessID;
        row.ppid = entry.th32ParentProcessID;
        CHandle hProcess(::OpenProcess(access, FALSE, row.pid));
        if (hProcess) {
            row.path = MainModulePath(hProcess.get(), buffer);
            row.created = CreationTime(hProcess.get());
            row.inAgentDir =
                IsSameProcess(row, launched) || identity.Contains(hProcess.get(), row.path, buffer);
        } else if (access != kQueryLimited) {
            // A process whose memory we may not read can still be the parent
            // of one we can end; its age is what lets the walk pass through it.
            CHandle hQuery(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, row.pid));
            if (hQuery) row.created = CreationTime(hQuery.get());
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
void KillAgentTree(const std::wstring& agentDir, int maxRounds, HANDLE hLaunched) {
    const DWORD selfPid = ::GetCurrentProcessId();
    const ProcessRow launched = LaunchedProcess(hLaunched);
    CAgentDirIdentity identity(agentDir);
    // A process of the tree may start a child between the snapshot and its
    // own end. Another round finds such children through the ended parent;
    // the kill is over when a round ends nothing new.
    std::vector<ProcessRow> ended;
    for (int round = 0; round < maxRounds; ++round) {
        const std::vector<ProcessRow> rows = TakeProcessSnapshot(identity, launched);
        std::map<uint32_t, const ProcessRow*> byPid;
        for (const ProcessRow& row : rows) byPid.emplace(row.pid, &row);
        const size_t endedBefore = ended.size();
        for (uint32_t pid : SelectAgentTree(rows, agentDir, selfPid, ended)) {
            const auto found = byPid.find(pid);
            if (pid == selfPid || found == byPid.end()) continue;
            const ProcessRow& row = *found->second;
            if (WasEnded(ended, row)) continue;
            CHandle hProcess(::OpenProcess(EndAccess(), FALSE, pid));
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
    CAgentDirIdentity identity(agentDir);
    const std::set<uint32_t> tree =
        SelectAgentTree(TakeProcessSnapshot(identity, ProcessRow()), agentDir, selfPid, ended);
    std::vector<DWORD> pids;
    for (uint32_t pid : tree) {
        if (hAgent == nullptr || pid != ended[0].pid) pids.push_back(pid);
    }
    return pids;
}

ProcessRow LaunchedProcess(HANDLE hAgent) {
    ProcessRow launched;
    if (hAgent == nullptr) return launched;
    launched.pid = ::GetProcessId(hAgent);
    launched.created = CreationTime(hAgent);
    return launched;
}

std::set<uint32_t> LaunchedTreePids(HANDLE hAgent) {
    const ProcessRow launched = LaunchedProcess(hAgent);
    if (launched.pid == 0) return {};
    std::vector<ProcessRow> rows;
    CFileHandle hSnapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot) return {};
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    // Only ages are read: the limited right where the system has it.
    const DWORD access = ImageNameQuery() ? kQueryLimited : PROCESS_QUERY_INFORMATION;
    for (BOOL more = ::Process32FirstW(hSnapshot.get(), &entry); more;
         more = ::Process32NextW(hSnapshot.get(), &entry)) {
        ProcessRow row;
        row.pid = entry.th32ProcessID;
        row.ppid = entry.th32ParentProcessID;
        CHandle hProcess(::OpenProcess(access, FALSE, row.pid));
        if (hProcess) row.created = CreationTime(hProcess.get());
        rows.push_back(row);
    }
    return LaunchedTree(rows, launched, ::GetCurrentProcessId());
}
