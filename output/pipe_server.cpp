#include "output/pipe_server.h"

#include <process.h>

#include <memory>
#include <vector>

#include "output/output_sink.h"
#include "framework/debug_trace.h"
#include "framework/user_security.h"
#include "supervision/launch_gate.h"

namespace {

constexpr DWORD kPipeBufferSize = 4096;

// Message pipe, one message per read; local clients only. The first instance
// must be the first of its name: if the name exists, someone else holds it.
HANDLE CreateOutputPipe(const std::wstring& name, bool bFirst, SECURITY_ATTRIBUTES* pSecurity) {
    const DWORD open = PIPE_ACCESS_DUPLEX | (bFirst ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    HANDLE hPipe =
        ::CreateNamedPipeW(name.c_str(), open, mode | PIPE_REJECT_REMOTE_CLIENTS, PIPE_UNLIMITED_INSTANCES,
                           kPipeBufferSize, kPipeBufferSize, 0, pSecurity);
    // Systems older than the flag refuse it as an invalid parameter.
    if (hPipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        hPipe = ::CreateNamedPipeW(name.c_str(), open, mode, PIPE_UNLIMITED_INSTANCES, kPipeBufferSize,
                                   kPipeBufferSize, 0, pSecurity);
    }
    return hPipe;
}

// Reads one whole message into message, with a zero byte after it. False
// when the connection has ended: the client closed its end, a read failed,
// or the message was empty.
bool ReadMessage(HANDLE hPipe, std::vector<char>& message) {
    char buffer[kPipeBufferSize];
    message.clear();
    for (;;) {
        DWORD nRead = 0;
        const BOOL ok = ::ReadFile(hPipe, buffer, kPipeBufferSize, &nRead, nullptr);
        const bool more = !ok && ::GetLastError() == ERROR_MORE_DATA;
        if (!ok && !more) return false;
        const size_t room = message.size() < kMaxPipeMessage ? kMaxPipeMessage - message.size() : 0;
        message.insert(message.end(), buffer, buffer + (nRead < room ? nRead : room));
        // A message longer than the buffer arrives over several reads; its
        // parts belong together.
        if (more) continue;
        if (message.empty()) return false;
        // The zero that ends the text: the sink decodes it where it lies.
        message.push_back('\0');
        return true;
    }
}

}  // namespace

CPipeServer::CPipeServer(std::wstring strPipeName, std::shared_ptr<COutputSink> spSink,
                         std::shared_ptr<CLaunchGate> spGate)
    : m_strPipeName(std::move(strPipeName)),
      m_spSink(std::move(spSink)),
      m_spGate(std::move(spGate)),
      m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CHandle CPipeServer::Start(const std::shared_ptr<CPipeServer>& spServer) {
    auto spArg = std::make_unique<std::shared_ptr<CPipeServer>>(spServer);
    const uintptr_t h = ::_beginthreadex(nullptr, 0, PipeServerThreadProc, spArg.get(), 0, nullptr);
    if (h == 0) return CHandle();
    spArg.release();  // the thread owns it now
    return CHandle(reinterpret_cast<HANDLE>(h));
}

void CPipeServer::Stop() {
    m_bPipeRunning = FALSE;
    if (m_hStopEvent) ::SetEvent(m_hStopEvent.get());
    // Wake the server from its wait for a client.
    CFileHandle hClient(
        ::CreateFileW(m_strPipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

void CPipeServer::Pause() {
    if (m_hStopEvent)
        ::WaitForSingleObject(m_hStopEvent.get(), kPipeRetryMs);
    else
        ::Sleep(kPipeRetryMs);
}

bool CPipeServer::TakeReaderSlot() {
    const HANDLE handles[2] = {m_hReaderSlots.get(), m_hStopEvent.get()};
    const DWORD count = m_hStopEvent ? 2 : 1;
    for (;;) {
        const DWORD r =
            ::WaitForMultipleObjects(count, handles, FALSE, m_hStopEvent ? INFINITE : kPipeRetryMs);
        if (r == WAIT_OBJECT_0) return true;
        if (!m_bPipeRunning) return false;
        if (r == WAIT_FAILED) Pause();
    }
}

void CPipeServer::CloseInstance(HANDLE hPipe) {
    --m_nInstances;
    ::CloseHandle(hPipe);
}

unsigned CPipeServer::RunPipeServer(const std::shared_ptr<CPipeServer>& spSelf) {
    // Full access for the current user and for SYSTEM, nothing for anyone else.
    CUserOnlySecurity security(FILE_ALL_ACCESS);
    CFileHandle hWaiting;  // our instance that waits for the next client
    while (m_bPipeRunning) {
        try {
            if (!m_hReaderSlots) {
                m_hReaderSlots.reset(::CreateSemaphoreW(nullptr, kMaxPipeReaders, kMaxPipeReaders, nullptr));
                if (!m_hReaderSlots) {
                    DebugTrace(L"CreateSemaphore failed");
                    if (m_spGate) m_spGate->Open();  // no pipe to wait for
                    Pause();
                    continue;
                }
            }
            if (!hWaiting) {
                SECURITY_ATTRIBUTES* pSecurity = security.Get();
                if (pSecurity == nullptr) {
                    DebugTrace(L"Pipe security failed");
                    if (m_spGate) m_spGate->Open();  // no pipe to wait for
                    Pause();
                    continue;
                }
                // With no instance of ours alive the name must be new; one of
                // ours keeps it ours (only this user may add instances).
                const bool first = m_nInstances == 0;
                hWaiting.reset(CreateOutputPipe(m_strPipeName, first, pSecurity));
                if (!hWaiting) {
                    const DWORD error = ::GetLastError();
                    const bool bHeldElsewhere =
                        first && (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY);
                    DebugTrace(bHeldElsewhere ? L"CreatePipe failed: the pipe name is in use"
                                              : L"CreatePipe failed");
                    // Only a name held by another program keeps the agent
                    // waiting; when the server fails for any other reason
                    // the agent runs, as it would without a pipe.
                    if (m_spGate) bHeldElsewhere ? m_spGate->SetHeldElsewhere() : m_spGate->Open();
                    Pause();
                    continue;
                }
                ++m_nInstances;
                if (first && m_spGate) m_spGate->Open();
            }
            // A client that came between creation and the wait counts as
            // connected; so does one that has already left: what it wrote is
            // still to be read.
            const bool connected = ::ConnectNamedPipe(hWaiting.get(), nullptr) ||
                                   ::GetLastError() == ERROR_PIPE_CONNECTED ||
                                   ::GetLastError() == ERROR_NO_DATA;
            if (!m_bPipeRunning) break;
            if (!connected) {
                CloseInstance(hWaiting.release());
                continue;
            }
            auto spArgs = std::make_unique<PipeReaderArgs>();
            spArgs->spServer = spSelf;
            // All readers busy: the client stays connected and its writes
            // wait in the pipe until one is free.
            if (!TakeReaderSlot()) break;
            ++m_nReaders;
            CFileHandle hConnected = std::move(hWaiting);
            // The next instance comes while this one is still ours, so the
            // name never lapses between clients; a failure is retried above.
            hWaiting.reset(CreateOutputPipe(m_strPipeName, false, security.Get()));
            if (hWaiting) ++m_nInstances;
            spArgs->hPipe = hConnected.get();
            const uintptr_t hThread =
                ::_beginthreadex(nullptr, 0, PipeReaderThreadProc, spArgs.get(), 0, nullptr);
            if (hThread == 0) {
                DebugTrace(L"CreateThread failed");
                --m_nReaders;
                ::ReleaseSemaphore(m_hReaderSlots.get(), 1, nullptr);
                ::DisconnectNamedPipe(hConnected.get());
                CloseInstance(hConnected.release());
                Pause();
                continue;
            }
            // The reader owns both now, runs detached and closes its instance.
            spArgs.release();
            hConnected.release();
            ::CloseHandle(reinterpret_cast<HANDLE>(hThread));
        } catch (...) {
            // Out of memory: drop the client at hand, if any, and go on.
            DebugTrace(L"Pipe server out of memory");
            if (hWaiting) CloseInstance(hWaiting.release());
            Pause();
        }
    }
    if (hWaiting) CloseInstance(hWaiting.release());
    return 0;
}

void CPipeServer::ReadPipe(HANDLE hPipe) {
    try {
        std::vector<char> message;
        message.reserve(kPipeBufferSize);
        // Each message stands alone: nothing is carried over to the next.
        while (m_bPipeRunning && ReadMessage(hPipe, message))
            m_spSink->AppendOutput(message.data(), message.size());
        ::FlushFileBuffers(hPipe);
    } catch (...) {
        // Out of memory while taking a message: end this connection.
    }
    ::DisconnectNamedPipe(hPipe);
    CloseInstance(hPipe);
    --m_nReaders;
    ::ReleaseSemaphore(m_hReaderSlots.get(), 1, nullptr);
}

bool CPipeServer::WaitForReaders(DWORD timeoutMs) const {
    // Polled: a reader's end has no handle to wait on, and this is waited
    // for once, at the end.
    constexpr DWORD kPollMs = 5;
    const DWORD start = ::GetTickCount();
    while (m_nReaders > 0) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(kPollMs);
    }
    return true;
}

unsigned __stdcall PipeServerThreadProc(void* pv) {
    std::unique_ptr<std::shared_ptr<CPipeServer>> spServer(static_cast<std::shared_ptr<CPipeServer>*>(pv));
    if (!spServer || !*spServer) return 0;
    try {
        return (*spServer)->RunPipeServer(*spServer);
    } catch (...) {
        // The loop catches its own failures; nothing else is expected here.
    }
    return 0;
}

unsigned __stdcall PipeReaderThreadProc(void* pv) {
    // The record is freed first; only its two values are kept.
    std::shared_ptr<CPipeServer> spServer;
    HANDLE hPipe = nullptr;
    if (std::unique_ptr<PipeReaderArgs> spArgs{static_cast<PipeReaderArgs*>(pv)}) {
        spServer = std::move(spArgs->spServer);
        hPipe = spArgs->hPipe;
    }
    if (!spServer || hPipe == nullptr) return 0;
    spServer->ReadPipe(hPipe);  // catches its own failures and ends the connection
    return 0;
}
