#include "agent/pipe_server.h"

#include <process.h>

#include <memory>
#include <vector>

#include "agent/output_sink.h"
#include "framework/debug_trace.h"
#include "ui/main_dlg.h"

namespace {

constexpr DWORD kPipeBufferSize = 4096;

// Message pipe, one message per read; local clients only.
HANDLE CreateOutputPipe(const std::wstring& name) {
    const DWORD mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    HANDLE hPipe = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, mode | PIPE_REJECT_REMOTE_CLIENTS,
                                      PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, 0, nullptr);
    // Systems older than the flag refuse it as an invalid parameter.
    if (hPipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        hPipe = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, mode, PIPE_UNLIMITED_INSTANCES,
                                   kPipeBufferSize, kPipeBufferSize, 0, nullptr);
    }
    return hPipe;
}

// Reads one whole message into message. False when the connection has ended:
// the client closed its end, a read failed, or the message was empty.
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
        if (!more) return !message.empty();
    }
}

}  // namespace

CPipeServer::CPipeServer(std::wstring strPipeName, std::shared_ptr<COutputSink> spSink)
    : m_strPipeName(std::move(strPipeName)), m_spSink(std::move(spSink)) {}

CHandle CPipeServer::Start(const std::shared_ptr<CPipeServer>& spServer) {
    auto spArg = std::make_unique<std::shared_ptr<CPipeServer>>(spServer);
    const uintptr_t h = ::_beginthreadex(nullptr, 0, PipeServerThreadProc, spArg.get(), 0, nullptr);
    if (h == 0) return CHandle();
    spArg.release();  // the thread owns it now
    return CHandle(reinterpret_cast<HANDLE>(h));
}

void CPipeServer::Stop() {
    m_bPipeRunning = FALSE;
    // Wake the server from its wait for a client.
    CFileHandle hClient(
        ::CreateFileW(m_strPipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

unsigned CPipeServer::RunPipeServer(const std::shared_ptr<CPipeServer>& spSelf) {
    while (m_bPipeRunning) {
        HANDLE hPipe = CreateOutputPipe(m_strPipeName);
        if (hPipe == INVALID_HANDLE_VALUE) {
            DebugTrace(L"CreatePipe failed");
            return 0;
        }
        // A client that came between creation and the wait counts as connected;
        // so does one that has already left: what it wrote is still to be read.
        const bool connected = ::ConnectNamedPipe(hPipe, nullptr) ||
                               ::GetLastError() == ERROR_PIPE_CONNECTED || ::GetLastError() == ERROR_NO_DATA;
        if (!connected || !m_bPipeRunning) {
            ::CloseHandle(hPipe);
            continue;
        }
        auto spArgs = std::make_unique<PipeReaderArgs>(PipeReaderArgs{spSelf, hPipe});
        const uintptr_t hThread =
            ::_beginthreadex(nullptr, 0, PipeReaderThreadProc, spArgs.get(), 0, nullptr);
        if (hThread == 0) {
            DebugTrace(L"CreateThread failed");
            return 0;
        }
        spArgs.release();  // the reader owns it now
        // The reader runs detached and closes its instance itself.
        ::CloseHandle(reinterpret_cast<HANDLE>(hThread));
    }
    return 0;
}

void CPipeServer::ReadPipe(HANDLE hPipe) {
    std::vector<char> message;
    message.reserve(kPipeBufferSize);
    // Each message stands alone: nothing is carried over to the next.
    while (m_bPipeRunning && ReadMessage(hPipe, message))
        m_spSink->AppendOutput(message.data(), message.size());
    ::FlushFileBuffers(hPipe);
    ::DisconnectNamedPipe(hPipe);
    ::CloseHandle(hPipe);
}

unsigned __stdcall PipeServerThreadProc(void* pv) {
    std::unique_ptr<std::shared_ptr<CPipeServer>> spServer(static_cast<std::shared_ptr<CPipeServer>*>(pv));
    if (!spServer || !*spServer) return 0;
    try {
        return (*spServer)->RunPipeServer(*spServer);
    } catch (...) {
        // Out of memory: the server ends, as on a creation failure.
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
    try {
        spServer->ReadPipe(hPipe);
    } catch (...) {
        // Out of memory while taking a message: end this connection.
        ::DisconnectNamedPipe(hPipe);
        ::CloseHandle(hPipe);
    }
    return 0;
}

void CMainDlg::StartPipeServer() {
    // The server's run flag lives in CPipeServer, with the pipe name and the
    // sink: nothing the server threads touch belongs to the dialog.
    m_hPipeThread = CPipeServer::Start(std::make_shared<CPipeServer>(m_strPipeName, m_spOutput));
}
