// The application module: module handle and the thread-to-loop table.
#pragma once

#include <windows.h>

#include <map>

#include "framework/critical_section.h"

class CMessageLoop;

class CAppModule {
public:
    HRESULT Init(HINSTANCE hInstance);
    void Term();

    HINSTANCE GetModuleInstance() const { return m_hInst; }
    HINSTANCE GetResourceInstance() const { return m_hInst; }

    bool AddMessageLoop(CMessageLoop* pLoop);
    bool RemoveMessageLoop();
    CMessageLoop* GetMessageLoop(DWORD dwThreadId = ::GetCurrentThreadId());

private:
    HINSTANCE m_hInst = nullptr;
    CCriticalSection m_csLoops;              // guards m_loops
    std::map<DWORD, CMessageLoop*> m_loops;  // thread id -> its loop
};

// The one module object of the process.
extern CAppModule g_Module;
