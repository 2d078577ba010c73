#include "host/agent_host.h"

#include "framework/file_identity.h"
#include "framework/sleep_free_clock.h"
#include "names/name_rules.h"
#include "journal/journal.h"
#include "journal/journal_events.h"
#include "journal/journal_rules.h"
#include "output/pipe_server.h"
#include "resource.h"
#include "supervision/end_rules.h"
#include "supervision/launch_gate.h"

namespace {
#ifdef _WIN64
constexpr const wchar_t* kArchitecture = L"64-bit";
#else
constexpr const wchar_t* kArchitecture = L"32-bit";
#endif

// Holds off the system's end of the session while the journal is written,
// where the system has the call (Vista on); no reason is shown otherwise.
class CShutdownBlock {
public:
    CShutdownBlock(HWND hWnd, const wchar_t* pszReason) : m_hWnd(hWnd) {
        using CreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
        const auto create = reinterpret_cast<CreateFn>(
            reinterpret_cast<void*>(::GetProcAddress(User32(), "ShutdownBlockReasonCreate")));
        m_bHeld = create != nullptr && create(hWnd, pszReason);
    }
    ~CShutdownBlock() {
        using DestroyFn = BOOL(WINAPI*)(HWND);
        const auto destroy = reinterpret_cast<DestroyFn>(
            reinterpret_cast<void*>(::GetProcAddress(User32(), "ShutdownBlockReasonDestroy")));
        if (m_bHeld && destroy != nullptr) destroy(m_hWnd);
    }
    CShutdownBlock(const CShutdownBlock&) = delete;
    CShutdownBlock& operator=(const CShutdownBlock&) = delete;

private:
    static HMODULE User32() { return ::GetModuleHandleW(L"user32.dll"); }
    const HWND m_hWnd;
    bool m_bHeld = false;
};

std::wstring WithoutTrailingSlash(std::wstring folder) {
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}
}  // namespace

CAgentHost::CAgentHost(const std::wstring& moduleDir, CAgentEventSink& windowSink)
    : m_strAgentPath(moduleDir + L"bin\\Tollvane.exe"),
      m_spJournal(std::make_shared<CJournal>(
          CJournal::DefaultFolder(), JournalFileName(CanonicalPath(WithoutTrailingSlash(moduleDir))))),
      m_pJournalSink(std::make_unique<CJournalEventSink>(m_spJournal, m_strAgentPath)),
      m_spOutput(std::make_shared<COutputSink>()),
      m_watchdogs(SettingsKeyPath(
          ReadInstallationId(moduleDir, FolderHash(CanonicalPath(WithoutTrailingSlash(moduleDir)))))),
      m_pSupervisor(std::make_unique<CAgentSupervisor>(
          m_strAgentPath, std::vector<CAgentEventSink*>{m_pJournalSink.get(), &windowSink})) {
    m_spJournal->Start();
    m_pJournalSink->Note(std::wstring(L"supervisor started: version ") + TOLLVANE_VERSION_LABEL + L", " +
                         kArchitecture + L", agent " + m_strAgentPath);
    m_spOutput->SetJournal(m_spJournal);
}

CAgentHost::~CAgentHost() { m_pSupervisor.reset(); }

void CAgentHost::Begin(const OutputViewTarget& view, const WatchdogTarget& watch) {
    // The sink exists before the pipe server, which exists before the agent:
    // the agent may connect and write at once.
    m_spOutput->Attach(view);
    if (watch.hWnd != nullptr) {
        std::vector<std::wstring> lines;
        const std::weak_ptr<COutputSink> wpOutput = m_spOutput;
        m_watchdogs.Begin(
            watch.hWnd, watch.uFindingMsg, watch.uSettingsMsg,
            [wpOutput] {
                const std::shared_ptr<COutputSink> spOutput = wpOutput.lock();
                return spOutput ? spOutput->LastMessageMs() : 0;
            },
            lines);
        NoteWatchdogLines(lines);
        m_pSupervisor->SetJobObserver(m_watchdogs.Watchdog());
    }
    const std::wstring pipeName = MakePipeName(m_strAgentPath);
    if (PipeNameFits(pipeName)) {
        auto spGate = std::make_shared<CLaunchGate>();
        m_spPipeServer = std::make_shared<CPipeServer>(pipeName, m_spOutput, spGate);
        m_hPipeThread = CPipeServer::Start(m_spPipeServer);
        if (m_hPipeThread) {
            m_pSupervisor->SetLaunchGate(spGate);
        } else {
            // No server to open the gate: the agent starts without it, and
            // its output cannot arrive.
            m_nPipeServerError = ::GetLastError() != 0 ? ::GetLastError() : ERROR_GEN_FAILURE;
            m_spPipeServer.reset();
            m_pJournalSink->Note(L"no output: the pipe server could not start (error " +
                                 std::to_wstring(m_nPipeServerError) + L"); the agent is started without it");
        }
    } else {
        // The system refuses the name, for ever: no server, and no wait for it.
        m_bOutputImpossible = true;
        m_pJournalSink->Note(L"no output: the pipe name has " + std::to_wstring(pipeName.size()) +
                             L" characters, more than the " + std::to_wstring(kMaxPipeNameChars) +
                             L" the system allows; install in a shorter folder");
    }
    // The agent, and every helper it starts, can tell its own supervisor's
    // pipe from one that another program serves under the same name.
    ::SetEnvironmentVariableW(L"QUORVEL_SUPERVISOR_PID", std::to_wstring(::GetCurrentProcessId()).c_str());
    // At sign-out the system ends the agent before it tells the supervisor,
    // whose end then finds it gone and its last words said.
    ::SetProcessShutdownParameters(SupervisorShutdownLevel(), 0);
    m_pSupervisor->Start();
}

void CAgentHost::NoteWatchdogLines(const std::vector<std::wstring>& lines) {
    for (const std::wstring& line : lines) m_pJournalSink->Note(line);
    m_spOutput->StampMessages(m_watchdogs.Settings().silentSeconds != 0);
}

void CAgentHost::ChooseSilentMinutes(uint32_t minutes) {
    std::vector<std::wstring> lines;
    m_watchdogs.ChooseSilentMinutes(minutes, lines);
    NoteWatchdogLines(lines);
}

void CAgentHost::ChooseMemoryMb(uint32_t megabytes) {
    std::vector<std::wstring> lines;
    m_watchdogs.ChooseMemoryMb(megabytes, lines);
    NoteWatchdogLines(lines);
}

void CAgentHost::OnWatchdogSettingsChanged() {
    std::vector<std::wstring> lines;
    m_watchdogs.OnSettingsChanged(lines);
    NoteWatchdogLines(lines);
}

void CAgentHost::OnWatchdogFinding(const WatchdogFinding& finding) {
    switch (finding.kind) {
        case WatchdogFinding::Kind::MemoryMethod:
            m_pJournalSink->Note(finding.bNotified
                                     ? L"memory watchdog: the job tells when its memory passes the bound"
                                     : L"memory watchdog: the job's memory is read every 5 s");
            return;
        case WatchdogFinding::Kind::MemoryCannotWork:
            m_pJournalSink->Note(L"memory watchdog cannot work: the agent runs without a job");
            return;
        case WatchdogFinding::Kind::Silent:
        case WatchdogFinding::Kind::OverMemory:
            break;
    }
    // A finding about an agent the user has stopped since is old news.
    if (!m_pSupervisor || IsStopRequested()) return;
    AgentEvent event;
    event.kind = AgentEvent::Kind::WatchdogRestart;
    event.bFlag = finding.kind == WatchdogFinding::Kind::OverMemory;
    event.bound = event.bFlag ? finding.boundMb : finding.silentSeconds;
    event.bytes = finding.totalBytes;
    event.pid = finding.top.pid;
    event.path = finding.top.name;
    event.topBytes = finding.top.privateBytes;
    m_pJournalSink->OnAgentEvent(event);
    m_pSupervisor->Restart();
}

void CAgentHost::OnSleep() {
    AgentEvent event;
    event.kind = AgentEvent::Kind::Sleeping;
    m_pJournalSink->OnAgentEvent(event);
}

void CAgentHost::OnResume() {
    AgentEvent event;
    event.kind = AgentEvent::Kind::Resumed;
    m_pJournalSink->OnAgentEvent(event);
    if (m_pSupervisor) m_pSupervisor->NoteResume(SleepFreeMs());
    if (CAgentWatchdog* pWatchdog = m_watchdogs.Watchdog()) pWatchdog->OnResume();
}

bool CAgentHost::IsStopRequested() const { return !m_pSupervisor || m_pSupervisor->IsStopRequested(); }

void CAgentHost::StartByUser() {
    if (!m_pSupervisor) return;
    if (m_bLaunchesHeld) {
        m_pJournalSink->Note(std::wstring(IsStopRequested() ? L"Start" : L"Restart") +
                             L" by the user: nothing is started while the session ends");
        return;
    }
    m_pJournalSink->Note(IsStopRequested() ? L"Start by the user" : L"Restart by the user");
    m_pSupervisor->Start(true);
}

void CAgentHost::StopByUser() {
    if (!m_pSupervisor) return;
    m_pJournalSink->Note(L"Stop by the user");
    m_pSupervisor->Stop();
}

void CAgentHost::ExitByUser() {
    BeginExit();
    FinishExit();
}

void CAgentHost::BeginExit() {
    if (!m_pSupervisor) return;
    m_pJournalSink->Note(L"Exit by the user");
    m_pSupervisor->Quit();
}

bool CAgentHost::HasWatchEnded() const { return !m_pSupervisor || m_pSupervisor->HasWatchEnded(); }

void CAgentHost::FinishExit() {
    if (!m_pSupervisor) return;
    // Waits for the watch thread, what is left of its bound.
    m_pSupervisor.reset();
    DrainReaders(kReaderDrainMs);
    CloseJournal();
}

void CAgentHost::DrainReaders(DWORD bound) {
    if (m_spPipeServer && !m_spPipeServer->WaitForReaders(bound))
        m_pJournalSink->Note(L"a client of the output pipe was still connected at the end");
}

void CAgentHost::WatchJournal(HWND hWnd, UINT message) {
    m_spJournal->NotifyTrouble(hWnd, message);
    ::PostMessageW(hWnd, message, 0, 0);
}

void CAgentHost::HoldLaunches(bool bHold) {
    m_bLaunchesHeld = bHold;
    if (m_pSupervisor) m_pSupervisor->HoldLaunches(bHold);
}

void CAgentHost::EndSession(HWND hWnd) {
    if (!m_pSupervisor) return;
    CShutdownBlock block(hWnd, L"Writing the agent's journal");
    m_pJournalSink->Note(L"session ending");
    // The system has told the agent already: no grace.
    m_pSupervisor->EndNow();
    // A part of the system's patience for the agent's last messages.
    DrainReaders(kSessionEndJournalMs / 3);
    m_pJournalSink->Note(L"supervisor exiting");
    m_spJournal->Close(kSessionEndJournalMs);
}

void CAgentHost::DetachView() { m_spOutput->Detach(); }

// The last entry, after the watch thread's; then the queue is written out.
void CAgentHost::CloseJournal() {
    m_pJournalSink->Note(L"supervisor exiting");
    m_spJournal->Close(kJournalPatienceMs);
}
