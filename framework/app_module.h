// The application module: the module handle and the main thread's loop.
#pragma once

#include <windows.h>

class CMessageLoop;

class CAppModule {
public:
    HRESULT Init(HINSTANCE hInstance);
    void Term();

    HINSTANCE GetResourceInstance() const { return m_hInst; }

    // The main thread's loop while it runs; null before and after. UI
    // thread only.
    void SetMessageLoop(CMessageLoop* pLoop) { m_pLoop = pLoop; }
    CMessageLoop* GetMessageLoop() const { return m_pLoop; }

private:
    HINSTANCE m_hInst = nullptr;
    CMessageLoop* m_pLoop = nullptr;
};

// The one module object of the process.
extern CAppModule g_Module;
