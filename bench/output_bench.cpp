// Output throughput and responsiveness: how fast the supervisor drains the
// output pipe compared with a reader that only discards, how soon a message
// shows on an idle view, how quickly the UI thread answers during a flood,
// how soon a key pressed during a flood reaches the window, and how long a
// 4 MiB message of markers takes to clean. Prints one table.
#include <windows.h>

#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "agent/output_sink.h"
#include "agent/pipe_server.h"
#include "framework/handle.h"
#include "ui/main_dlg.h"

namespace {

double g_ticksPerMs = 1.0;

double NowMs() {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / g_ticksPerMs;
}

// ---- The view: a visible edit control in a top-level window ----

COutputSink* g_pSink = nullptr;
// Chunks known to be on screen, and when that was last seen.
std::atomic<size_t> g_nVisible{0};
std::atomic<double> g_visibleAt{0.0};
HANDLE g_hVisibleEvent = nullptr;
double g_syncMs = 0, g_paintMs = 0;
int g_nSyncs = 0, g_nPaints = 0;
bool g_bForcePaint = false;
std::atomic<size_t> g_nWanted{0};

std::atomic<double> g_keyDownAt{0.0};  // when the window last took a key

LRESULT CALLBACK HostWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_KEYDOWN) g_keyDownAt = NowMs();
    const bool timer = uMsg == WM_TIMER && wParam == IDT_OUTPUT_SYNC;
    if ((uMsg == WM_APP_OUTPUT || timer) && g_pSink != nullptr) {
        // Everything counted before the sync is in the view after it.
        const size_t counted = g_pSink->GetChunkCount();
        const double t0 = NowMs();
        if (!g_pSink->SyncView(timer)) return 0;
        const double t1 = NowMs();
        g_syncMs += t1 - t0;
        ++g_nSyncs;
        // "Visible" means painted: while latency is measured the repaint is
        // done here rather than when the queue next runs empty.
        if (g_bForcePaint) {
            ::UpdateWindow(::GetWindow(hWnd, GW_CHILD));
            g_paintMs += NowMs() - t1;
            ++g_nPaints;
        }
        g_visibleAt = NowMs();
        g_nVisible = counted;
        if (counted >= g_nWanted) ::SetEvent(g_hVisibleEvent);
        return 0;
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

// Dispatches this thread's messages until hEvent is set or the time is up.
bool PumpUntil(HANDLE hEvent, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        const DWORD r =
            ::MsgWaitForMultipleObjects(1, &hEvent, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        MSG msg;
        for (int i = 0; i < 50 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

HANDLE OpenClient(const std::wstring& name) {
    for (int i = 0; i < 500; ++i) {
        HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(name.c_str(), 200);
        else
            ::Sleep(10);
    }
    return INVALID_HANDLE_VALUE;
}

std::string MakeMessage(size_t size, size_t index) {
    std::string text = "INFO,line " + std::to_string(index) + " ";
    text.resize(size, '.');
    return text;
}

// ---- Writer threads ----

struct FloodArgs {
    std::wstring name;
    size_t size = 0;
    size_t count = 0;  // messages to write, or 0 to write until stop is set
    std::atomic<bool>* pStop = nullptr;
    // When set, the writer stays at most kAhead messages ahead of the sink:
    // Wine's pipes take writes without bound, and a flood should load the
    // supervisor, not the pipe's memory.
    COutputSink* pSink = nullptr;
    double startMs = 0;
    size_t written = 0;
};

unsigned __stdcall FloodThread(void* pv) {
    auto* a = static_cast<FloodArgs*>(pv);
    CFileHandle h(OpenClient(a->name));
    if (!h) return 1;
    std::vector<std::string> messages;
    for (size_t i = 0; i < 64; ++i) messages.push_back(MakeMessage(a->size, i));
    const size_t kAhead = 2000;
    const size_t base = a->pSink ? a->pSink->GetChunkCount() : 0;
    a->startMs = NowMs();
    for (size_t i = 0; a->count == 0 ? !*a->pStop : i < a->count; ++i) {
        while (a->pSink && a->written > a->pSink->GetChunkCount() - base + kAhead && !*a->pStop) ::Sleep(1);
        const std::string& m = messages[i % messages.size()];
        DWORD n = 0;
        if (!::WriteFile(h.get(), m.data(), static_cast<DWORD>(m.size()), &n, nullptr)) return 1;
        ++a->written;
    }
    return 0;
}

// A plain reader that discards: the pipe's own rate.
struct RawArgs {
    HANDLE hPipe;
    size_t count;
    double endMs = 0;
};

unsigned __stdcall RawReaderThread(void* pv) {
    auto* a = static_cast<RawArgs*>(pv);
    ::ConnectNamedPipe(a->hPipe, nullptr);
    char buffer[4096];
    size_t got = 0;
    DWORD n = 0;
    while (got < a->count &&
           (::ReadFile(a->hPipe, buffer, sizeof(buffer), &n, nullptr) || ::GetLastError() == ERROR_MORE_DATA))
        ++got;
    a->endMs = NowMs();
    return 0;
}

HANDLE StartThread(unsigned(__stdcall* proc)(void*), void* arg) {
    return reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, proc, arg, 0, nullptr));
}

double RawRate(size_t size, size_t count) {
    const std::wstring name = L"\\\\.\\pipe\\output_bench_raw_" + std::to_wstring(::GetCurrentProcessId());
    CFileHandle hPipe(::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096,
                                         0, nullptr));
    RawArgs reader{hPipe.get(), count};
    CHandle hReader(StartThread(RawReaderThread, &reader));
    FloodArgs writer;
    writer.name = name;
    writer.size = size;
    writer.count = count;
    CHandle hWriter(StartThread(FloodThread, &writer));
    ::WaitForSingleObject(hWriter.get(), 120000);
    ::WaitForSingleObject(hReader.get(), 120000);
    ::DisconnectNamedPipe(hPipe.get());
    return count / ((reader.endMs - writer.startMs) / 1000.0);
}

// ---- The supervisor's path: server, readers, sink and view ----

struct Bench {
    HWND hHost = nullptr;
    std::shared_ptr<COutputSink> spSink;
    std::shared_ptr<CPipeServer> spServer;
    CHandle hServerThread;
    std::wstring name;
};

// Messages drained per second, writing count messages from a fresh client
// and stopping the clock once the sink has taken the last one.
double DrainRate(Bench& b, size_t size, size_t count) {
    const size_t before = b.spSink->GetChunkCount();
    g_nWanted = before + count;
    ::ResetEvent(g_hVisibleEvent);
    FloodArgs writer;
    writer.name = b.name;
    writer.size = size;
    writer.count = count;
    CHandle hWriter(StartThread(FloodThread, &writer));
    double endMs = 0;
    const ULONGLONG deadline = ::GetTickCount64() + 120000;
    while (::GetTickCount64() < deadline) {
        PumpUntil(hWriter.get(), 5);
        if (b.spSink->GetChunkCount() >= before + count) {
            endMs = NowMs();
            break;
        }
    }
    PumpUntil(g_hVisibleEvent, 10000);  // let the view catch up before the next run
    ::WaitForSingleObject(hWriter.get(), 10000);
    return count / ((endMs - writer.startMs) / 1000.0);
}

struct Stat {
    double p50, p99;
};

Stat Percentiles(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return {0, 0};
    auto at = [&](double q) {
        return v[std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5))];
    };
    return {at(0.5), at(0.99)};
}

// Write-to-visible time of single messages while the UI thread is idle.
struct LatencyArgs {
    std::wstring name;
    int samples;
    std::vector<double> ms;
    std::atomic<size_t>* pBase;
};

unsigned __stdcall LatencyThread(void* pv) {
    auto* a = static_cast<LatencyArgs*>(pv);
    CFileHandle h(OpenClient(a->name));
    if (!h) return 1;
    for (int i = 0; i < a->samples; ++i) {
        ::Sleep(3);
        const size_t want = *a->pBase + i + 1;
        g_nWanted = want;
        ::ResetEvent(g_hVisibleEvent);
        const std::string m = MakeMessage(100, i);
        const double t0 = NowMs();
        DWORD n = 0;
        ::WriteFile(h.get(), m.data(), static_cast<DWORD>(m.size()), &n, nullptr);
        if (::WaitForSingleObject(g_hVisibleEvent, 2000) != WAIT_OBJECT_0) {
            continue;
        }
        a->ms.push_back(g_visibleAt - t0);
    }
    return 0;
}

Stat IdleLatency(Bench& b, int samples) {
    std::atomic<size_t> base{b.spSink->GetChunkCount()};
    LatencyArgs args{b.name, samples, {}, &base};
    g_bForcePaint = true;
    CHandle hThread(StartThread(LatencyThread, &args));
    PumpUntil(hThread.get(), 120000);
    g_bForcePaint = false;
    return Percentiles(args.ms);
}

// SendMessageTimeout round trips to the UI thread during a flood.
struct PingArgs {
    HWND hWnd;
    std::atomic<bool>* pStop;
    std::vector<double> ms;
};

unsigned __stdcall PingThread(void* pv) {
    auto* a = static_cast<PingArgs*>(pv);
    while (!*a->pStop) {
        const double t0 = NowMs();
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(a->hWnd, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result))
            a->ms.push_back(NowMs() - t0);
        else
            a->ms.push_back(2000.0);
        ::Sleep(5);
    }
    return 0;
}

Stat FloodRoundTrip(Bench& b, size_t size, DWORD durationMs, size_t* pWritten) {
    std::atomic<bool> stop{false};
    FloodArgs writer;
    writer.name = b.name;
    writer.size = size;
    writer.pStop = &stop;
    writer.pSink = b.spSink.get();
    CHandle hWriter(StartThread(FloodThread, &writer));
    PingArgs ping{b.hHost, &stop, {}};
    CHandle hPing(StartThread(PingThread, &ping));
    CHandle hTimer(::CreateWaitableTimerW(nullptr, TRUE, nullptr));
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(durationMs) * 10000;
    ::SetWaitableTimer(hTimer.get(), &due, 0, nullptr, nullptr, FALSE);
    PumpUntil(hTimer.get(), durationMs + 5000);
    stop = true;
    PumpUntil(hWriter.get(), 10000);
    PumpUntil(hPing.get(), 10000);
    *pWritten = writer.written;
    return Percentiles(ping.ms);
}

// A key pressed (SendInput) every 50 ms during a flood, from a thread of its
// own: the time until the window takes it.
struct KeyArgs {
    std::atomic<bool>* pStop;
    std::vector<double> ms;
};

unsigned __stdcall KeyThread(void* pv) {
    auto* a = static_cast<KeyArgs*>(pv);
    ::Sleep(300);  // let the flood build up
    while (!*a->pStop) {
        g_keyDownAt = 0.0;
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_F9;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        const double sent = NowMs();
        ::SendInput(2, keys, sizeof(INPUT));
        while (g_keyDownAt == 0.0 && NowMs() - sent < 2000 && !*a->pStop) ::Sleep(1);
        if (g_keyDownAt != 0.0)
            a->ms.push_back(g_keyDownAt - sent);
        else if (!*a->pStop)
            a->ms.push_back(2000.0);
        ::Sleep(50);
    }
    return 0;
}

Stat InputInFlood(Bench& b, DWORD durationMs, size_t* pSamples) {
    ::SetForegroundWindow(b.hHost);
    ::SetFocus(b.hHost);
    std::atomic<bool> stop{false};
    FloodArgs writer;
    writer.name = b.name;
    writer.size = 100;
    writer.pStop = &stop;
    writer.pSink = b.spSink.get();
    CHandle hWriter(StartThread(FloodThread, &writer));
    KeyArgs keys{&stop, {}};
    CHandle hKeys(StartThread(KeyThread, &keys));
    CHandle hTimer(::CreateWaitableTimerW(nullptr, TRUE, nullptr));
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(durationMs) * 10000;
    ::SetWaitableTimer(hTimer.get(), &due, 0, nullptr, nullptr, FALSE);
    PumpUntil(hTimer.get(), durationMs + 5000);
    stop = true;
    PumpUntil(hWriter.get(), 10000);
    PumpUntil(hKeys.get(), 10000);
    *pSamples = keys.ms.size();
    return Percentiles(keys.ms);
}

// Decoding and cleaning one message of 4 MiB made of markers (taken by a
// sink with no view).
double MarkerCleaningMs() {
    const std::string marker = "%!(EXTRA []interface {}=[])";
    std::string message = "INFO,";
    while (message.size() + marker.size() <= kMaxPipeMessage) message += marker;
    COutputSink sink;
    const double t0 = NowMs();
    sink.AppendOutput(message.data(), message.size());
    return NowMs() - t0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    bool quick = false, visible = true;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--quick") quick = true;
        if (std::wstring(argv[i]) == L"--hidden") visible = false;
    }
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    g_ticksPerMs = static_cast<double>(f.QuadPart) / 1000.0;
    g_hVisibleEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = HostWndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OutputBenchHost";
    ::RegisterClassW(&wc);
    Bench b;
    b.hHost = ::CreateWindowExW(0, wc.lpszClassName, L"output bench",
                                WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 0, 0, 800, 600, nullptr,
                                nullptr, wc.hInstance, nullptr);
    HWND hEdit =
        ::CreateWindowExW(0, L"EDIT", L"",
                          WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                              ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN,
                          0, 0, 660, 350, b.hHost, nullptr, wc.hInstance, nullptr);
    // The dialog's controls carry the dialog font, not the system one.
    ::SendMessageW(hEdit, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    b.spSink = std::make_shared<COutputSink>();
    g_pSink = b.spSink.get();
    b.spSink->Attach(b.hHost, hEdit);
    b.name = L"\\\\.\\pipe\\output_bench_" + std::to_wstring(::GetCurrentProcessId());
    b.spServer = std::make_shared<CPipeServer>(b.name, b.spSink);
    b.hServerThread = CPipeServer::Start(b.spServer);

    const int runs = quick ? 1 : 5;
    const size_t counts[2] = {quick ? 2000u : 10000u, quick ? 1000u : 5000u};
    const size_t sizes[2] = {100, 1000};
    double raw[2], drain[2];
    for (int k = 0; k < 2; ++k) {
        std::vector<double> r, d;
        for (int i = 0; i < runs; ++i) {
            r.push_back(RawRate(sizes[k], counts[k]));
            d.push_back(DrainRate(b, sizes[k], counts[k]));
        }
        raw[k] = Median(r);
        drain[k] = Median(d);
    }
    const double textMs = g_nSyncs > 0 ? g_syncMs / g_nSyncs : 0;
    // Responsiveness with the window on screen (repaints included), then
    // with it hidden in the notification area, as the supervisor mostly is.
    const int samples = quick ? 50 : 300;
    const DWORD floodMs = quick ? 1500 : 5000;
    Stat idle[2], flood[2], input = {0, 0};
    size_t floodWritten[2] = {}, inputSamples = 0;
    double paintMs = 0;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1 || !visible) ::ShowWindow(b.hHost, SW_HIDE);
        g_paintMs = 0;
        g_nPaints = 0;
        idle[pass] = IdleLatency(b, samples);
        if (pass == 0 && g_nPaints > 0) paintMs = g_paintMs / g_nPaints;
        flood[pass] = FloodRoundTrip(b, 100, floodMs, &floodWritten[pass]);
        if (pass == 0 && visible) input = InputInFlood(b, floodMs, &inputSamples);
    }
    std::vector<double> cleaning;
    for (int i = 0; i < (quick ? 1 : 5); ++i) cleaning.push_back(MarkerCleaningMs());
    const double cleaningMs = Median(cleaning);

    std::printf("output bench: %d run(s) per rate (median)\n", runs);
    std::printf("%-50s %14s %14s %8s\n", "measure", "value", "target", "ok");
    for (int k = 0; k < 2; ++k) {
        const double ratio = drain[k] / raw[k];
        const std::string size = std::to_string(sizes[k]) + "-byte messages";
        std::printf("%-50s %12.0f/s\n", ("raw pipe rate, " + size).c_str(), raw[k]);
        std::printf("%-50s %12.0f/s\n", ("drain rate, " + size).c_str(), drain[k]);
        std::printf("%-50s %14.2f %14s %8s\n", ("drain / raw, " + size).c_str(), ratio, ">= 0.90",
                    ratio >= 0.9 ? "yes" : "NO");
    }
    for (int pass = 0; pass < 2; ++pass) {
        const std::string view = pass == 0 && visible ? ", window shown" : ", window hidden";
        std::printf("%-50s %11.2f ms\n", ("idle write-to-visible p50" + view).c_str(), idle[pass].p50);
        std::printf("%-50s %11.2f ms %14s %8s\n", ("idle write-to-visible p99" + view).c_str(),
                    idle[pass].p99, "< 20 ms", idle[pass].p99 < 20 ? "yes" : "NO");
        std::printf("%-50s %11.2f ms\n", ("UI round trip in flood p50" + view).c_str(), flood[pass].p50);
        std::printf("%-50s %11.2f ms %14s %8s\n", ("UI round trip in flood p99" + view).c_str(),
                    flood[pass].p99, "< 50 ms", flood[pass].p99 < 50 ? "yes" : "NO");
        std::printf("%-50s %12.0f/s\n", ("messages taken in flood" + view).c_str(),
                    floodWritten[pass] / (floodMs / 1000.0));
    }
    if (visible) {
        std::printf("%-50s %11.2f ms\n", "key to window in flood p50, window shown", input.p50);
        std::printf("%-50s %11.2f ms %14s %8s\n", "key to window in flood p99, window shown", input.p99,
                    "< 100 ms", inputSamples > 0 && input.p99 < 100 ? "yes" : "NO");
    }
    std::printf("%-50s %11.2f ms %14s %8s\n", "cleaning a 4 MiB message of markers", cleaningMs, "< 100 ms",
                cleaningMs < 100 ? "yes" : "NO");
    std::printf("%-50s %11.2f ms\n", "UI thread per view update: text", textMs);
    if (visible) std::printf("%-50s %11.2f ms\n", "UI thread per view update: repaint, shown", paintMs);
    std::fflush(stdout);

    b.spServer->Stop();
    ::WaitForSingleObject(b.hServerThread.get(), 5000);
    b.spSink->Detach();
    ::DestroyWindow(b.hHost);
    return 0;
}
