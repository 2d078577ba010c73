#include "watchdog/agent_watchdog.h"

#include <process.h>
#include <psapi.h>

#include <algorithm>

#include "framework/debug_trace.h"
#include "framework/sleep_free_clock.h"
#include "supervision/agent_job.h"

namespace {

// Completion keys: the wake packet, and from kFirstJobKey on one per job,
// so what an earlier job still reports is told apart.
constexpr ULONG_PTR kWakeKey = 1;
constexpr ULONG_PTR kFirstJobKey = 2;

CHandle OpenForMemory(DWORD pid) {
    // The limited right is enough from Windows Vista on; before, only the full one.
    CHandle h(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!h) h.reset(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    return h;
}

std::wstring ImageName(HANDLE hProcess) {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetProcessImageFileNameW(hProcess, path, MAX_PATH);
    const std::wstring full(path, n);
    const size_t slash = full.find_last_of(L'\\');
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

std::vector<ProcessMemory> MeasureJob(HANDLE hJob) {
    std::vector<ProcessMemory> processes;
    for (DWORD pid : JobProcessIds(hJob)) {
        CHandle hProcess = OpenForMemory(pid);
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof(counters);
        if (!hProcess ||
            !::GetProcessMemoryInfo(hProcess.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                    sizeof(counters)))
            continue;
        // The commit charge is the private memory; some systems fill in only
        // the older of its two fields.
        const uint64_t privateBytes =
            counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
        processes.push_back(ProcessMemory{pid, ImageName(hProcess.get()), privateBytes});
    }
    return processes;
}

// What the job itself counted when it told us (Windows 8 and later); 0
// when it cannot say.
uint64_t JobMemoryAtViolation(HANDLE hJob) {
    JOBOBJECT_LIMIT_VIOLATION_INFORMATION violation = {};
    if (!::QueryInformationJobObject(hJob, JobObjectLimitViolationInformation, &violation, sizeof(violation),
                                     nullptr))
        return 0;
    return violation.JobMemory;
}

bool SetJobMemoryNotice(HANDLE hJob, uint32_t boundMb) {
    JOBOBJECT_NOTIFICATION_LIMIT_INFORMATION notice = {};
    notice.JobMemoryLimit = uint64_t{boundMb} * 1024 * 1024;
    notice.LimitFlags = boundMb != 0 ? JOB_OBJECT_LIMIT_JOB_MEMORY : 0;
    return ::SetInformationJobObject(hJob, JobObjectNotificationLimitInformation, &notice, sizeof(notice)) !=
           FALSE;
}

}  // namespace

CAgentWatchdog::CAgentWatchdog(HWND hWnd, UINT uMsg, std::function<uint64_t()> lastMessageMs)
    : m_hWnd(hWnd),
      m_uMsg(uMsg),
      m_lastMessageMs(std::move(lastMessageMs)),
      m_hPort(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {}

CAgentWatchdog::~CAgentWatchdog() {
    if (!m_hThread) return;
    {
        CLockGuard lock(m_cs);
        m_inbox.bQuit = true;
    }
    Wake();
    ::WaitForSingleObject(m_hThread.get(), INFINITE);
}

void CAgentWatchdog::Apply(const WatchdogSettings& settings) {
    {
        CLockGuard lock(m_cs);
        m_inbox.settings = settings;
        m_inbox.bSettings = true;
    }
    if (!m_hThread && settings.AnyOn() && m_hPort) {
        m_hThread.reset(
            reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &ThreadProc, this, 0, nullptr)));
        if (!m_hThread) DebugTrace(L"watchdog: CreateThread failed");
        m_bThreadStarted = static_cast<bool>(m_hThread);
    }
    Wake();
}

void CAgentWatchdog::OnAgentLaunched(HANDLE hJob) {
    CHandle hCopy;
    HANDLE h = nullptr;
    if (hJob != nullptr && ::DuplicateHandle(::GetCurrentProcess(), hJob, ::GetCurrentProcess(), &h, 0, FALSE,
                                             DUPLICATE_SAME_ACCESS))
        hCopy.reset(h);
    {
        CLockGuard lock(m_cs);
        m_inbox.bLaunched = true;
        m_inbox.hJob = std::move(hCopy);
    }
    Wake();
}

void CAgentWatchdog::OnAgentEnded() {
    {
        CLockGuard lock(m_cs);
        m_inbox.bEnded = true;
        m_inbox.bLaunched = false;
        m_inbox.hJob.reset();
    }
    Wake();
}

void CAgentWatchdog::OnResume() {
    {
        CLockGuard lock(m_cs);
        m_inbox.bResumed = true;
    }
    Wake();
}

void CAgentWatchdog::Wake() {
    if (m_bThreadStarted) ::PostQueuedCompletionStatus(m_hPort.get(), 0, kWakeKey, nullptr);
}

unsigned __stdcall CAgentWatchdog::ThreadProc(void* pv) {
    try {
        static_cast<CAgentWatchdog*>(pv)->Run();
    } catch (...) {
        DebugTrace(L"watchdog: thread failed");
    }
    return 0;
}

void CAgentWatchdog::Run() {
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* pOverlapped = nullptr;
        const BOOL got =
            ::GetQueuedCompletionStatus(m_hPort.get(), &bytes, &key, &pOverlapped, NextWaitMs(SleepFreeMs()));
        if (got && key == kWakeKey && !TakeInbox()) return;
        const uint64_t nowMs = SleepFreeMs();
        // For a job's packet, bytes is the message.
        if (got && key == m_nJobKey && m_bJobOnPort && bytes == JOB_OBJECT_MSG_NOTIFICATION_LIMIT)
            CheckMemory(nowMs, true);
        CheckSilence(nowMs);
        if (!m_bNotifying && m_nextPollMs != 0 && nowMs >= m_nextPollMs) CheckMemory(nowMs, false);
    }
}

bool CAgentWatchdog::TakeInbox() {
    Inbox inbox;
    {
        CLockGuard lock(m_cs);
        std::swap(inbox, m_inbox);
    }
    if (inbox.bQuit) return false;
    const uint64_t nowMs = SleepFreeMs();
    const WatchdogSettings before = m_settings;
    if (inbox.bSettings) m_settings = inbox.settings;
    if (inbox.bEnded) {
        m_silence.OnAgentEnded();
        m_hJob.reset();
        m_bHasRun = false;
        m_nextPollMs = 0;
    }
    if (inbox.bLaunched) {
        m_silence.OnAgentStarted(nowMs);
        m_hJob = std::move(inbox.hJob);
        m_bHasRun = true;
        m_nJobKey = m_nJobKey < kFirstJobKey ? kFirstJobKey : m_nJobKey + 1;
        m_bJobOnPort = m_bNotifying = m_bMemoryAsked = false;
    }
    // Time asleep, and time before the watch began, is no silence: the
    // agent gets a full period from now.
    if (inbox.bResumed || (before.silentSeconds == 0 && m_settings.silentSeconds != 0))
        m_silence.OnResume(nowMs);
    if (m_bHasRun && (inbox.bLaunched || m_settings.memoryMb != before.memoryMb)) WatchMemoryOfJob();
    return true;
}

void CAgentWatchdog::WatchMemoryOfJob() {
    m_nextPollMs = 0;
    if (m_settings.memoryMb == 0) {
        if (m_bNotifying) SetJobMemoryNotice(m_hJob.get(), 0);
        m_bNotifying = false;
        return;
    }
    if (!m_hJob) {
        WatchdogFinding finding;
        finding.kind = WatchdogFinding::Kind::MemoryCannotWork;
        Post(finding);
        return;
    }
    if (!m_bJobOnPort) {
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT port = {};
        port.CompletionKey = reinterpret_cast<void*>(m_nJobKey);
        port.CompletionPort = m_hPort.get();
        m_bJobOnPort = ::SetInformationJobObject(m_hJob.get(), JobObjectAssociateCompletionPortInformation,
                                                 &port, sizeof(port)) != FALSE;
    }
    m_bNotifying = m_bJobOnPort && SetJobMemoryNotice(m_hJob.get(), m_settings.memoryMb);
    if (static_cast<int>(m_bNotifying) != m_nLastMethod) {
        m_nLastMethod = m_bNotifying ? 1 : 0;
        WatchdogFinding finding;
        finding.kind = WatchdogFinding::Kind::MemoryMethod;
        finding.bNotified = m_bNotifying;
        Post(finding);
    }
    // Read once now either way: a job may be past a bound that was just set.
    CheckMemory(SleepFreeMs(), false);
}

DWORD CAgentWatchdog::NextWaitMs(uint64_t nowMs) const {
    uint64_t next = m_silence.Deadline(m_settings.silentSeconds);
    if (!m_bNotifying && m_nextPollMs != 0 && (next == 0 || m_nextPollMs < next)) next = m_nextPollMs;
    if (next == 0) return INFINITE;
    if (next <= nowMs) return 0;
    return static_cast<DWORD>(std::min<uint64_t>(next - nowMs, 24u * 60 * 60 * 1000));
}

void CAgentWatchdog::CheckSilence(uint64_t nowMs) {
    if (!m_bHasRun || m_settings.silentSeconds == 0) return;
    m_silence.OnMessage(m_lastMessageMs());
    if (!m_silence.IsDue(nowMs, m_settings.silentSeconds)) return;
    m_silence.OnRestartAsked();
    WatchdogFinding finding;
    finding.kind = WatchdogFinding::Kind::Silent;
    finding.silentSeconds = m_settings.silentSeconds;
    finding.silentForMs = nowMs - m_silence.SilentSince();
    Post(finding);
}

void CAgentWatchdog::CheckMemory(uint64_t nowMs, bool bNotified) {
    if (!m_hJob || m_settings.memoryMb == 0 || m_bMemoryAsked) return;
    if (!m_bNotifying) m_nextPollMs = nowMs + kMemoryPollMs;
    MemoryVerdict verdict = JudgeMemory(MeasureJob(m_hJob.get()), m_settings.memoryMb);
    if (bNotified) {
        // The job's own count decided; the processes' figures may lag it.
        verdict.totalBytes = std::max(verdict.totalBytes, JobMemoryAtViolation(m_hJob.get()));
        verdict.bOver = true;
    }
    if (!verdict.bOver) return;
    m_bMemoryAsked = true;
    m_nextPollMs = 0;
    WatchdogFinding finding;
    finding.kind = WatchdogFinding::Kind::OverMemory;
    finding.boundMb = m_settings.memoryMb;
    finding.totalBytes = verdict.totalBytes;
    finding.top = verdict.top;
    finding.bNotified = bNotified;
    Post(finding);
}

void CAgentWatchdog::Post(WatchdogFinding finding) const {
    auto record = std::make_unique<WatchdogFinding>(std::move(finding));
    if (::PostMessageW(m_hWnd, m_uMsg, 0, reinterpret_cast<LPARAM>(record.get()))) record.release();
}

std::unique_ptr<WatchdogFinding> CAgentWatchdog::Take(LPARAM lParam) {
    return std::unique_ptr<WatchdogFinding>(reinterpret_cast<WatchdogFinding*>(lParam));
}

void CAgentWatchdog::Drain(HWND hWnd, UINT uMsg) {
    MSG msg;
    while (::PeekMessageW(&msg, hWnd, uMsg, uMsg, PM_REMOVE)) Take(msg.lParam);
}
