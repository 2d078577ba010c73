#include "supervision/agent_job.h"

#include <shellapi.h>

#include <utility>

#include "framework/critical_section.h"
#include "supervision/agent_ask.h"
#include "supervision/end_rules.h"
#include "supervision/launch_rules.h"

namespace {

using IsProcessInJobFn = BOOL(WINAPI*)(HANDLE, HANDLE, PBOOL);

// Whether the supervisor runs in a job that lets its children break away.
bool MayBreakAway() {
    // IsProcessInJob is not in every kernel32 the 32-bit build starts on.
    static const auto isInJob = reinterpret_cast<IsProcessInJobFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsProcessInJob")));
    BOOL inJob = FALSE;
    if (isInJob == nullptr || !isInJob(::GetCurrentProcess(), nullptr, &inJob) || !inJob) return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // A null job handle asks about the caller's own job.
    if (!::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof(limits),
                                     nullptr))
        return false;
    return (limits.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_BREAKAWAY_OK) != 0;
}

CHandle CreateKillOnCloseJob(DWORD& error) {
    CHandle hJob(::CreateJobObjectW(nullptr, nullptr));
    if (!hJob) {
        error = ::GetLastError();
        return hJob;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // A program the agent opens for the user (a browser) may leave the job,
    // with CREATE_BREAKAWAY_FROM_JOB, and so outlive the agent.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!::SetInformationJobObject(hJob.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        error = ::GetLastError();
        hJob.reset();
    }
    return hJob;
}

// Default action on the agent file, hidden, in its own directory, with no
// parameters. Empty when no process was started; error then says why.
CHandle LaunchByShell(const std::wstring& path, const std::wstring& dir, DWORD& error) {
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    // No error box or prompt: it would block the watch thread, and Exit behind it.
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    sei.lpFile = path.c_str();
    sei.lpDirectory = dir.c_str();
    sei.nShow = SW_HIDE;
    error = ::ShellExecuteExW(&sei) ? ERROR_SUCCESS : ::GetLastError();
    // Success without a process: a document handed to a running program.
    if (sei.hProcess == nullptr && error == ERROR_SUCCESS) error = ERROR_FILE_NOT_FOUND;
    return CHandle(sei.hProcess);
}

bool CreateSuspended(const std::wstring& path, const std::wstring& dir, DWORD flags,
                     PROCESS_INFORMATION& pi) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    // No arguments: the command line is the quoted path alone.
    std::wstring commandLine = L"\"" + path + L"\"";
    return ::CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                            CREATE_SUSPENDED | CREATE_NEW_CONSOLE | flags, nullptr, dir.c_str(), &si,
                            &pi) != FALSE;
}

}  // namespace

CAgentLaunch LaunchAgentProcess(const std::wstring& path, const std::wstring& dir, bool bMayElevate) {
    CAgentLaunch launch;
    CLockGuard gate(AgentConsoleGate());
    CHandle hJob = CreateKillOnCloseJob(launch.holdError);
    PROCESS_INFORMATION pi = {};
    bool started = false;
    if (hJob && MayBreakAway()) started = CreateSuspended(path, dir, CREATE_BREAKAWAY_FROM_JOB, pi);
    if (!started) started = CreateSuspended(path, dir, 0, pi);
    if (!started) {
        const DWORD error = ::GetLastError();
        const LaunchFallback fallback = FallbackForLaunchError(error, bMayElevate);
        if (fallback == LaunchFallback::None || fallback == LaunchFallback::NeedsElevation) {
            launch.error = error;
            launch.bNeedsElevation = fallback == LaunchFallback::NeedsElevation;
            return launch;
        }
        launch.hProcess = LaunchByShell(path, dir, launch.error);
        // The shell's own error tells less than ours: "not a program" stays.
        if (!launch.hProcess) {
            launch.error = error;
            return launch;
        }
        launch.pid = ::GetProcessId(launch.hProcess.get());
        launch.hold = AgentHold::Shell;
        launch.holdError = error;
        return launch;
    }
    launch.hProcess.reset(pi.hProcess);
    CHandle hThread(pi.hThread);
    launch.pid = pi.dwProcessId;
    if (hJob) {
        if (::AssignProcessToJobObject(hJob.get(), pi.hProcess)) {
            launch.hJob = std::move(hJob);
            launch.hold = AgentHold::Job;
        } else {
            // A job of ours inside one that forbids it (before Windows 8).
            launch.holdError = ::GetLastError();
        }
    }
    ::ResumeThread(hThread.get());
    return launch;
}

std::vector<DWORD> JobProcessIds(HANDLE hJob) {
    // Room for a tree of 1024 processes; ids beyond it are not listed.
    constexpr DWORD kMaxIds = 1024;
    std::vector<BYTE> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + kMaxIds * sizeof(ULONG_PTR));
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    std::vector<DWORD> pids;
    if (hJob == nullptr || !::QueryInformationJobObject(hJob, JobObjectBasicProcessIdList, list,
                                                        static_cast<DWORD>(buffer.size()), nullptr))
        return pids;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
        pids.push_back(static_cast<DWORD>(list->ProcessIdList[i]));
    return pids;
}

bool IsJobEmpty(HANDLE hJob) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    const bool bRead =
        hJob != nullptr &&
        ::QueryInformationJobObject(hJob, JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr);
    return JobCountsAsEmpty(bRead, info.ActiveProcesses);
}
