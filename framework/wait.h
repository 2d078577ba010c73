// A wait that keeps the calling thread's messages flowing.
#pragma once

#include <windows.h>

// Waits for hObject while dispatching this thread's messages, so that calls
// other threads make on our windows are still served. TRUE when the object
// was signalled, FALSE when the wait failed (a null handle, for example).
BOOL AtlWaitWithMessageLoop(HANDLE hObject);
// The same, giving up after timeoutMs (INFINITE: never); FALSE on time-out.
BOOL AtlWaitWithMessageLoop(HANDLE hObject, DWORD timeoutMs);
