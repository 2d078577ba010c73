#include "supervision/agent_supervisor.h"

#include "framework/debug_trace.h"
#include "supervision/agent_watch.h"

CAgentSupervisor::CAgentSupervisor(std::wstring agentPath, std::vector<CAgentEventSink*> sinks)
    : m_spWatch(std::make_shared<CAgentWatch>(std::move(agentPath), std::move(sinks))) {}

CAgentSupervisor::~CAgentSupervisor() {
    Quit();
    const DWORD waited = ::GetTickCount() - m_nQuitTick;
    if (m_spWatch->WaitForEnd(waited < kJoinBoundMs ? kJoinBoundMs - waited : 0)) return;
    // The thread is stuck in a launch or a kill it cannot leave. It keeps the
    // state it shares alive; the sinks, which go with the owner, hear nothing more.
    DebugTrace(L"the watch thread did not end in time; leaving without it");
    m_spWatch->SilenceSinks();
}

void CAgentSupervisor::SetLaunchGate(std::shared_ptr<CLaunchGate> spGate) {
    m_spWatch->SetLaunchGate(std::move(spGate));
}
void CAgentSupervisor::SetJobObserver(CAgentJobObserver* pObserver) { m_spWatch->SetJobObserver(pObserver); }
void CAgentSupervisor::NoteResume(uint64_t resumeMs) { m_spWatch->NoteResume(resumeMs); }
void CAgentSupervisor::HoldLaunches(bool bHold) { m_spWatch->HoldLaunches(bHold); }
void CAgentSupervisor::EndNow() { m_spWatch->EndNow(); }
void CAgentSupervisor::Start(bool bByUser) { m_spWatch->Start(m_spWatch, bByUser); }
void CAgentSupervisor::Stop() { m_spWatch->Stop(m_spWatch); }
bool CAgentSupervisor::IsStopRequested() const { return m_spWatch->IsStopRequested(); }

void CAgentSupervisor::Quit() {
    // A second Quit would count as a second Stop (the force at once), or
    // make a watch thread for a sweep after the last one ended.
    if (m_bQuitAsked) return;
    m_bQuitAsked = true;
    m_nQuitTick = ::GetTickCount();
    m_spWatch->Quit(m_spWatch);
}

bool CAgentSupervisor::HasWatchEnded() const { return m_spWatch->WaitForEnd(0); }
