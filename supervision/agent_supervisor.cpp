#include "supervision/agent_supervisor.h"

#include "framework/debug_trace.h"
#include "supervision/agent_watch.h"

CAgentSupervisor::CAgentSupervisor(std::wstring agentPath, std::vector<CAgentEventSink*> sinks)
    : m_spWatch(std::make_shared<CAgentWatch>(std::move(agentPath), std::move(sinks))) {}

CAgentSupervisor::~CAgentSupervisor() {
    m_spWatch->Quit(m_spWatch);
    if (m_spWatch->WaitForEnd(kJoinBoundMs)) return;
    // The thread is stuck in a launch or a kill it cannot leave. It keeps the
    // state it shares alive; the sinks, which go with the owner, hear nothing more.
    DebugTrace(L"the watch thread did not end in time; leaving without it");
    m_spWatch->SilenceSinks();
}

void CAgentSupervisor::SetLaunchGate(std::shared_ptr<CLaunchGate> spGate) {
    m_spWatch->SetLaunchGate(std::move(spGate));
}
void CAgentSupervisor::HoldLaunches(bool bHold) { m_spWatch->HoldLaunches(bHold); }
void CAgentSupervisor::EndNow() { m_spWatch->EndNow(); }
void CAgentSupervisor::Start(bool bByUser) { m_spWatch->Start(m_spWatch, bByUser); }
void CAgentSupervisor::Stop() { m_spWatch->Stop(m_spWatch); }
bool CAgentSupervisor::IsStopRequested() const { return m_spWatch->IsStopRequested(); }
