// The output pipe's server: one instance always waits for the next client,
// and every connected client gets a reader thread of its own that hands each
// message to the output sink.
//
// The server and its readers share this object and the sink, never the
// dialog, so a reader still blocked in its read when the window goes touches
// nothing that has gone with it.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "framework/handle.h"

class COutputSink;

class CPipeServer {
public:
    CPipeServer(std::wstring strPipeName, std::shared_ptr<COutputSink> spSink);
    CPipeServer(const CPipeServer&) = delete;
    CPipeServer& operator=(const CPipeServer&) = delete;

    // Starts the server thread; gives its handle, empty when it could not start.
    static CHandle Start(const std::shared_ptr<CPipeServer>& spServer);

    // Server thread: creates instances and hands connections to readers.
    unsigned RunPipeServer(const std::shared_ptr<CPipeServer>& spSelf);
    // Reader thread: reads one connection's messages until it ends.
    void ReadPipe(HANDLE hPipe);

    // Lets the server end: it leaves its loop at the next client. The product
    // never stops its server; tests do, connecting once to wake it.
    void Stop();

    const std::wstring& GetPipeName() const { return m_strPipeName; }

private:
    const std::wstring m_strPipeName;             // written before the thread starts, read-only after
    const std::shared_ptr<COutputSink> m_spSink;  // the sink is thread-safe
    std::atomic<BOOL> m_bPipeRunning{TRUE};       // run flag of the server and reader loops
};

// What the server hands to each reader thread; the reader owns and frees it.
struct PipeReaderArgs {
    std::shared_ptr<CPipeServer> spServer;
    HANDLE hPipe = nullptr;
};

// Thread entries. The server's argument is a heap-allocated
// std::shared_ptr<CPipeServer>; the reader's a heap-allocated PipeReaderArgs.
unsigned __stdcall PipeServerThreadProc(void* pv);
unsigned __stdcall PipeReaderThreadProc(void* pv);

// A message is kept whole up to this size; past it the rest of that message
// is read and dropped, so a runaway writer cannot exhaust our memory (the view
// then shows the end of the part that was kept).
constexpr size_t kMaxPipeMessage = 1u << 22;
