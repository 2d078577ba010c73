#include "framework/app_module.h"

CAppModule g_Module;

HRESULT CAppModule::Init(HINSTANCE hInstance) {
    m_hInst = hInstance;
    return S_OK;
}

void CAppModule::Term() {
    CLockGuard lock(m_csLoops);
    m_loops.clear();
}

bool CAppModule::AddMessageLoop(CMessageLoop* pLoop) {
    CLockGuard lock(m_csLoops);
    return m_loops.emplace(::GetCurrentThreadId(), pLoop).second;
}

bool CAppModule::RemoveMessageLoop() {
    CLockGuard lock(m_csLoops);
    return m_loops.erase(::GetCurrentThreadId()) != 0;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD dwThreadId) {
    CLockGuard lock(m_csLoops);
    auto it = m_loops.find(dwThreadId);
    return it == m_loops.end() ? nullptr : it->second;
}
