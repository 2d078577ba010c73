#include "host/agent_host.h"

#include "framework/file_identity.h"
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
      m_pSupervisor(std::make_unique<CAgentSupervisor>(
          m_strAgentPath, std::vector<CAgentEventSink*>{m_pJournalSink.get(), &windowSink})) {
    m_spJournal->Start();
    m_pJournalSink->Note(std::wstring(L"supervisor started: version ") + TOLLVANE_VERSION_LABEL + L", " +
                         kArchitecture + L", agent " + m_strAgentPath);
    m_spOutput->SetJournal(m_spJournal);
}

CAgentHost::~CAgentHost() { m_pSupervisor.reset(); }

void CAgentHost::Begin(const OutputViewTarget& view) {
    // The sink exists before the pipe server, which exists before the agent:
    // the agent may connect and write at once.
    m_spOutput->Attach(view);
    const std::wstring pipeName = MakePipeName(m_strAgentPath);
    if (PipeNameFits(pipeName)) {
        auto spGate = std::make_shared<CLaunchGate>();
        m_pSupervisor->SetLaunchGate(spGate);
        m_hPipeThread = CPipeServer::Start(std::make_shared<CPipeServer>(pipeName, m_spOutput, spGate));
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

bool CAgentHost::IsStopRequested() const { return !m_pSupervisor || m_pSupervisor->IsStopRequested(); }

void CAgentHost::StartByUser() {
    if (!m_pSupervisor) return;
    m_pJournalSink->Note(IsStopRequested() ? L"Start by the user" : L"Restart by the user");
    m_pSupervisor->Start(true);
}

void CAgentHost::StopByUser() {
    if (!m_pSupervisor) return;
    m_pJournalSink->Note(L"Stop by the user");
    m_pSupervisor->Stop();
}

void CAgentHost::ExitByUser() {
    if (!m_pSupervisor) return;
    m_pJournalSink->Note(L"Exit by the user");
    // Stops the agent and waits for the watch thread, within its bound.
    m_pSupervisor.reset();
    CloseJournal();
}

void CAgentHost::WatchJournal(HWND hWnd, UINT message) {
    m_spJournal->NotifyTrouble(hWnd, message);
    ::PostMessageW(hWnd, message, 0, 0);
}

void CAgentHost::HoldLaunches(bool bHold) {
    if (m_pSupervisor) m_pSupervisor->HoldLaunches(bHold);
}

void CAgentHost::EndSession(HWND hWnd) {
    if (!m_pSupervisor) return;
    CShutdownBlock block(hWnd, L"Writing the agent's journal");
    m_pJournalSink->Note(L"session ending");
    // The system has told the agent already: no grace.
    m_pSupervisor->EndNow();
    m_pJournalSink->Note(L"supervisor exiting");
    m_spJournal->Close(kSessionEndJournalMs);
}

void CAgentHost::DetachView() { m_spOutput->Detach(); }

// The last entry, after the watch thread's; then the queue is written out.
void CAgentHost::CloseJournal() {
    m_pJournalSink->Note(L"supervisor exiting");
    m_spJournal->Close(kJournalPatienceMs);
}
