// The main thread's message loop with its filters and idle handlers.
#pragma once

#include <windows.h>

#include <vector>

class CMessageFilter {
public:
    virtual BOOL PreTranslateMessage(MSG* pMsg) = 0;

protected:
    ~CMessageFilter() = default;
};

class CIdleHandler {
public:
    virtual BOOL OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};

class CMessageLoop {
public:
    void AddMessageFilter(CMessageFilter* pFilter);
    void RemoveMessageFilter(CMessageFilter* pFilter);
    void AddIdleHandler(CIdleHandler* pHandler);
    void RemoveIdleHandler(CIdleHandler* pHandler);

    // Runs until WM_QUIT; returns the quit code.
    int Run();

    // Mouse moves, paints and the caret-blink timer do not re-arm idle processing.
    static bool IsIdleMessage(const MSG& msg);

private:
    BOOL OnIdle();
    BOOL PreTranslateMessage(MSG* pMsg);

    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
};
