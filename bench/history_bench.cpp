// The history window's figures against floors measured in the same run: the
// index of 60 MiB of journal (six full files made here) against a plain
// read of the same files, the first rows after opening, a search for an
// absent word, a key press while the window reads, and the process at rest
// once the window is closed. Prints one table; exits with 1 when a row
// misses its target.
#include <windows.h>

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "history/history_index.h"
#include "journal/journal_rules.h"
#include "ui/history_window.h"

namespace {

constexpr UINT kMsgBatch = WM_APP + 1;
constexpr size_t kFileBytes = 10u * 1024 * 1024;
int g_nMissed = 0;
volatile size_t g_nLines = 0;  // keeps the floor's line search from being optimised away

double NowMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perMs;
}

void Row(const char* figure, double value, const char* unit, double floor, double limit, bool ratioToFloor) {
    const double measured = ratioToFloor ? value / std::max(floor, 0.001) : value;
    const bool met = measured <= limit;
    if (!met) ++g_nMissed;
    char floorText[32] = "";
    if (ratioToFloor) std::snprintf(floorText, sizeof(floorText), "%.0f ms", floor);
    std::printf("%-44s %10.1f %-3s %10s %8.2f <= %-6.1f %s\n", figure, value, unit, floorText, measured,
                limit, met ? "yes" : "NO");
    if (!met) std::printf("MISSED history_bench: %s\n", figure);
    std::fflush(stdout);
}

// Six full files, oldest (.5) first in time: runs of a few hundred lines,
// every seventh ending in a crash.
std::vector<std::wstring> MakeJournal(const std::wstring& folder, const std::wstring& name) {
    std::vector<std::wstring> paths;
    int64_t ms = JournalMsFromFields(2026, 12, 1, 0, 0, 0, 0);
    uint32_t pid = 1000;
    int lineInRun = 0;
    for (int generation = kJournalKeptFiles; generation >= 0; --generation) {
        std::string text;
        text.reserve(kFileBytes + 4096);
        while (text.size() < kFileBytes - 512) {
            ms += 1500;
            const std::wstring stamp = FormatHistoryTime(ms, true);
            const std::string time(stamp.begin(), stamp.end());
            if (lineInRun == 0) {
                text += time + " [supervisor] agent started: pid " + std::to_string(++pid) + "\r\n";
            } else if (lineInRun == 400) {
                text += time + " [supervisor] agent exited: code " +
                        (pid % 7 == 0 ? std::string("3221225477 (0xC0000005, access violation)")
                                      : std::string("0 (0x00000000)")) +
                        ", ran 600.000 s\r\n";
                lineInRun = -1;
            } else {
                text += time + " [agent] heartbeat " + std::to_string(lineInRun) +
                        ": queue depth 12, latency 3 ms, all workers healthy\r\n";
            }
            ++lineInRun;
        }
        const std::wstring path = folder + L"\\" + RotatedJournalName(name, generation);
        HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        ::CloseHandle(h);
        paths.insert(paths.begin(), path);
    }
    return paths;
}

// A plain sequential read of the files, in 4 MiB pieces; with bLines it also
// finds every line end with the C runtime's memchr, as any reader of a text
// file by lines does.
double PlainReadMs(const std::vector<std::wstring>& paths, bool bLines) {
    std::vector<char> buffer(4u * 1024 * 1024);
    size_t lines = 0;
    const double start = NowMs();
    for (const std::wstring& path : paths) {
        HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        DWORD n = 0;
        while (::ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) && n > 0) {
            const char* p = buffer.data();
            const char* end = p + n;
            while (bLines && (p = static_cast<const char*>(
                                  std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr) {
                ++lines;
                ++p;
            }
        }
        ::CloseHandle(h);
    }
    g_nLines = lines;
    return NowMs() - start;
}

// Pumps the thread's messages until done() says so; false on the deadline.
template <typename Done>
bool PumpUntil(Done done, double timeoutMs, HWND hProbeTarget = nullptr,
               std::vector<double>* latencies = nullptr) {
    const double deadline = NowMs() + timeoutMs;
    double nextProbe = NowMs();
    while (!done()) {
        if (NowMs() > deadline) return false;
        if (hProbeTarget != nullptr && NowMs() >= nextProbe) {
            // A key press, stamped: the loop below reads how long it waited.
            ::PostMessageW(hProbeTarget, WM_KEYDOWN, VK_DOWN,
                           static_cast<LPARAM>(NowMs() * 1000.0) & 0x3FFFFFFF);
            nextProbe = NowMs() + 10;
        }
        MSG msg;
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
            continue;
        }
        if (latencies != nullptr && msg.message == WM_KEYDOWN && msg.hwnd == hProbeTarget) {
            const double posted = static_cast<double>(msg.lParam) / 1000.0;
            latencies->push_back(std::fmod(NowMs() - posted + 1073741.824, 1073741.824));
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return true;
}

// A message-only window that keeps the last batch a worker posted.
struct BatchSink {
    HWND hWnd = nullptr;
    bool bIndexed = false, bSearchDone = false;
    size_t runs = 0;
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<BatchSink*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
        if (m != kMsgBatch || self == nullptr) return ::DefWindowProcW(h, m, w, l);
        const std::unique_ptr<HistoryBatch> batch = TakeHistoryBatch(l);
        self->runs += batch->runs.size();
        self->bIndexed = self->bIndexed || batch->bIndexed;
        self->bSearchDone = self->bSearchDone || batch->bSearchDone;
        return 0;
    }
    BatchSink() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &Proc;
        wc.lpszClassName = L"HistoryBenchSink";
        ::RegisterClassW(&wc);
        hWnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~BatchSink() { ::DestroyWindow(hWnd); }
};

DWORD ThreadCount() {
    DWORD count = 0;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    for (BOOL ok = ::Thread32First(snap, &te); ok; ok = ::Thread32Next(snap, &te))
        count += te.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snap);
    return count;
}

double CpuMs() {
    FILETIME c, e, k, u;
    ::GetProcessTimes(::GetCurrentProcess(), &c, &e, &k, &u);
    const auto ms = [](FILETIME t) {
        return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(k) + ms(u);
}

}  // namespace

int wmain() {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const JournalSource source{std::wstring(temp) + L"tollvane-history-bench", L"agent-0badc0de.log"};
    ::CreateDirectoryW(source.folder.c_str(), nullptr);
    const std::vector<std::wstring> paths = MakeJournal(source.folder, source.fileName);
    std::printf(
        "history_bench: six files of 10 MiB in %ls; a run record is %u bytes, nothing is kept per line\n",
        source.folder.c_str(), static_cast<unsigned>(sizeof(AgentRun)));
    std::printf("%-44s %14s %10s %18s\n", "measure", "value", "floor", "ratio / limit");

    PlainReadMs(paths, false);  // warm the cache: every side reads from memory
    const double rawRead = std::min(PlainReadMs(paths, false), PlainReadMs(paths, false));
    const double floor = std::min(PlainReadMs(paths, true), PlainReadMs(paths, true));
    std::printf("  floors: a plain read of the 60 MiB %.1f ms; the same finding each line end %.1f ms\n",
                rawRead, floor);

    BatchSink sink;
    double indexMs = 1e9;
    size_t runs = 0;
    for (int round = 0; round < 3; ++round) {
        sink.bIndexed = false;
        sink.runs = 0;
        CHistoryIndexer indexer(source);
        const double start = NowMs();
        indexer.Start(sink.hWnd, kMsgBatch);
        PumpUntil([&] { return sink.bIndexed; }, 60000);
        indexMs = std::min(indexMs, NowMs() - start);
        runs = sink.runs;
    }
    Row("index 60 MiB of journal", indexMs, "ms", floor, 3.0, true);
    std::printf("  %zu runs indexed: %.1f KiB for the index\n", runs, runs * sizeof(AgentRun) / 1024.0);

    double searchMs = 1e9;
    for (int round = 0; round < 3; ++round) {
        sink.bSearchDone = false;
        CHistorySearcher searcher(source);
        searcher.Start(sink.hWnd, kMsgBatch);
        const double start = NowMs();
        searcher.Search(L"zebrafish");
        PumpUntil([&] { return sink.bSearchDone; }, 60000);
        searchMs = std::min(searchMs, NowMs() - start);
    }
    Row("search 60 MiB for an absent word", searchMs, "ms", floor, 2.0, true);

    // Three openings: the middle one's first rows, every key press's wait.
    const DWORD before = ThreadCount();
    std::vector<double> firstRows, latencies;
    for (int round = 0; round < 3; ++round) {
        const double open = NowMs();
        ShowHistoryWindow(source, nullptr);
        const HWND hRuns = ::GetDlgItem(HistoryWindowHandle(), IDC_HISTORY_RUNS);
        PumpUntil([&] { return ::SendMessageW(hRuns, LVM_GETITEMCOUNT, 0, 0) > 0; }, 10000);
        firstRows.push_back(NowMs() - open);
        PumpUntil([] { return false; }, indexMs * 2 + 300, hRuns, &latencies);
        CloseHistoryWindow();
    }
    std::sort(firstRows.begin(), firstRows.end());
    Row("first rows after opening (median of 3)", firstRows[1], "ms", 0, 200, false);
    std::sort(latencies.begin(), latencies.end());
    const double p99 = latencies.empty() ? 1e9 : latencies[latencies.size() * 99 / 100];
    Row("key press while the window reads, p99", p99, "ms", 0, 100, false);
    PumpUntil([] { return false; }, 200);
    const double cpuBefore = CpuMs();
    ::Sleep(2000);
    const double idleCpu = CpuMs() - cpuBefore;
    Row("CPU over 2 s with the window closed", idleCpu, "ms", 0, 0, false);
    Row("threads left after closing (more than before)",
        static_cast<double>(static_cast<int>(ThreadCount()) - static_cast<int>(before)), "", 0, 0, false);

    for (const std::wstring& path : paths) ::DeleteFileW(path.c_str());
    ::RemoveDirectoryW(source.folder.c_str());
    return g_nMissed == 0 ? 0 : 1;
}
