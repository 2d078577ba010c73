// The main thread's message loop with its filters.
#pragma once

#include <windows.h>

#include <vector>

class CMessageFilter {
public:
    virtual BOOL PreTranslateMessage(MSG* pMsg) = 0;

protected:
    ~CMessageFilter() = default;
};

class CMessageLoop {
public:
    // The filter sees every message before it is dispatched; it must
    // outlive the loop's run.
    void AddMessageFilter(CMessageFilter* pFilter);

    // Runs until WM_QUIT; returns the quit code.
    int Run();

private:
    BOOL PreTranslateMessage(MSG* pMsg);

    std::vector<CMessageFilter*> m_filters;
};
