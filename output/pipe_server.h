// The output pipe's server: one instance always waits for the next client,
// and every connected client gets a reader thread of its own that hands each
// message to the output sink.
//
// Only the current user and SYSTEM may open the pipe, and the name is ours
// alone: the first instance is created as the first one of its name, so a
// process that took the name earlier is never served beside. At most
// kMaxPipeReaders readers run at once; a client beyond that stays connected
// (its writes wait in the pipe) or, while the server holds such a client,
// finds the pipe busy and waits with WaitNamedPipeW, until a reader is free.
// No failure ends the server: it closes what it holds, writes one debug line,
// waits briefly and goes on.
//
// The server and its readers share this object and the sink, never the
// window, so a reader still blocked in its read when the window goes touches
// nothing that has gone with it.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "framework/handle.h"

class COutputSink;
class CLaunchGate;

class CPipeServer {
public:
    // spGate, when given, hears whether the name is ours: opened when the
    // first instance is created as the first of its name, closed while
    // another program holds the name.
    CPipeServer(std::wstring strPipeName, std::shared_ptr<COutputSink> spSink,
                std::shared_ptr<CLaunchGate> spGate = nullptr);
    CPipeServer(const CPipeServer&) = delete;
    CPipeServer& operator=(const CPipeServer&) = delete;

    // Starts the server thread; gives its handle, empty when it could not start.
    static CHandle Start(const std::shared_ptr<CPipeServer>& spServer);

    // Server thread: creates instances and hands connections to readers.
    unsigned RunPipeServer(const std::shared_ptr<CPipeServer>& spSelf);
    // Reader thread: reads one connection's messages until it ends, then
    // closes the instance and frees its reader.
    void ReadPipe(HANDLE hPipe);

    // Lets the server end: it leaves its loop at the next client. The product
    // never stops its server; tests do, connecting once to wake it.
    void Stop();

    const std::wstring& GetPipeName() const { return m_strPipeName; }

    // Waits, at most timeoutMs, until no reader runs: the readers of an agent
    // that has ended have handed its last messages to the sink by then. True
    // when none runs. Any thread.
    bool WaitForReaders(DWORD timeoutMs) const;

private:
    // Server thread: waits kPipeRetryMs, or less when the server is stopped.
    void Pause();
    // Server thread: takes a free reader; false when the server is stopped.
    bool TakeReaderSlot();
    // Counts an instance as gone, then closes it (the count may run short of
    // the instances alive, never over).
    void CloseInstance(HANDLE hPipe);

    const std::wstring m_strPipeName;             // written before the thread starts, read-only after
    const std::shared_ptr<COutputSink> m_spSink;  // the sink is thread-safe
    const std::shared_ptr<CLaunchGate> m_spGate;  // may be null; thread-safe
    std::atomic<BOOL> m_bPipeRunning{TRUE};       // run flag of the server and reader loops
    // Manual-reset, set by Stop; created with the object, read-only after.
    const CHandle m_hStopEvent;
    // Free readers, a semaphore counting down from kMaxPipeReaders: taken by
    // the server thread, given back by each reader as it ends. Created by the
    // server thread before it starts any reader; only signalled after that.
    CHandle m_hReaderSlots;
    // Instances of ours alive (waiting or connected); atomic, raised by the
    // server thread, lowered by whoever closes one, just before it does.
    std::atomic<long> m_nInstances{0};
    // Readers running; atomic, raised by the server thread when it takes a
    // reader's slot, lowered as the slot is given back.
    std::atomic<long> m_nReaders{0};
};

// Readers at most at once. One agent uses one connection per run, a restart
// overlaps two runs for a moment, and an agent's children may write too: 16
// leaves room for all of that, while it bounds what readers can hold to 16
// messages of kMaxPipeMessage (64 MiB) and 16 thread stacks, which the 32-bit
// build affords.
constexpr long kMaxPipeReaders = 16;
// How long the server waits after a failure before it tries again.
constexpr DWORD kPipeRetryMs = 200;

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
