#include "app/agent_host.h"

#include "app/instance_guard.h"
#include "app/name_rules.h"
#include "journal/journal.h"
#include "journal/journal_events.h"
#include "journal/journal_rules.h"
#include "output/pipe_server.h"
#include "resource.h"

namespace {
#ifdef _WIN64
constexpr const wchar_t* kArchitecture = L"64-bit";
#else
constexpr const wchar_t* kArchitecture = L"32-bit";
#endif

std::wstring WithoutTrailingSlash(std::wstring folder) {
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}
}  // namespace

CAgentHost::CAgentHost(const std::wstring& moduleDir, CAgentListener& windowListener)
    : m_strAgentPath(moduleDir + L"bin\\Tollvane.exe"),
      m_spJournal(std::make_shared<CJournal>(
          CJournal::DefaultFolder(), JournalFileName(CanonicalPath(WithoutTrailingSlash(moduleDir))))),
      m_pJournalListener(std::make_unique<CAgentJournalListener>(m_spJournal, m_strAgentPath)),
      m_spOutput(std::make_shared<COutputSink>()),
      m_pSupervisor(std::make_unique<CAgentSupervisor>(
          m_strAgentPath, std::vector<CAgentListener*>{m_pJournalListener.get(), &windowListener})) {
    m_spJournal->Start();
    m_pJournalListener->Note(std::wstring(L"supervisor started: version ") + TOLLVANE_VERSION_LABEL + L", " +
                             kArchitecture + L", agent " + m_strAgentPath);
    m_spOutput->SetJournal(m_spJournal);
}

CAgentHost::~CAgentHost() { m_pSupervisor.reset(); }

void CAgentHost::Begin(const OutputViewTarget& view) {
    // The sink exists before the pipe server, which exists before the agent:
    // the agent may connect and write at once.
    m_spOutput->Attach(view);
    m_hPipeThread =
        CPipeServer::Start(std::make_shared<CPipeServer>(MakePipeName(m_strAgentPath), m_spOutput));
    m_pSupervisor->Start();
}

bool CAgentHost::IsStopRequested() const { return !m_pSupervisor || m_pSupervisor->IsStopRequested(); }

const std::wstring& CAgentHost::JournalFolder() const { return m_spJournal->Folder(); }

void CAgentHost::StartByUser() {
    if (!m_pSupervisor) return;
    m_pJournalListener->Note(IsStopRequested() ? L"Start by the user" : L"Restart by the user");
    m_pSupervisor->Start();
}

void CAgentHost::StopByUser() {
    if (!m_pSupervisor) return;
    m_pJournalListener->Note(L"Stop by the user");
    m_pSupervisor->Stop();
}

void CAgentHost::ExitByUser() {
    if (!m_pSupervisor) return;
    m_pJournalListener->Note(L"Exit by the user");
    // Stops the agent and waits for the watch thread, within its bound.
    m_pSupervisor.reset();
    CloseJournal();
}

void CAgentHost::DetachView() { m_spOutput->Detach(); }

// The last entry, after the watch thread's; then the queue is written out.
void CAgentHost::CloseJournal() {
    m_pJournalListener->Note(L"supervisor exiting");
    m_spJournal->Close(kJournalPatienceMs);
}
