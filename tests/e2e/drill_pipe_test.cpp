// Pipe abuse drill: random bytes of random sizes, many clients at once,
// connect/disconnect cycles, clients that never write and clients that die in
// the middle of a message. Afterwards the supervisor still answers, every
// well-formed message was shown, and its threads and handles are back.
#include <gtest/gtest.h>

#include "output/pipe_server.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/drill_support.h"

using namespace e2e;

namespace {

constexpr char kMarker[] = "%!(EXTRA []interface {}=[])";

// Under 64-bit Wine the view's text shaping crashes when a run of text
// starts with a glyph its fonts' mark-to-ligature tables cover (see
// RunsUnderWine64): Hebrew and Arabic combining marks, but also modifier
// letters such as U+02B1 to U+02B9 and U+02E4, at a line start or after a
// tab. Which glyphs do depends on the fonts Wine falls back to, so there the
// random bytes hold no lead byte of UTF-8 (each becomes 0xFF, never valid):
// they stay as long and as broken, but spell no character beyond ASCII.
void StepAroundWine64ShapingFault(std::string& message) {
    for (char& c : message) {
        const unsigned byte = static_cast<unsigned char>(c);
        if (byte >= 0xC2 && byte <= 0xF4) c = '\xFF';
    }
}

// One message of abuse: 0 to 70 KB, mostly small; random bytes (zeros and
// broken UTF-8 included), or text with markers, whole and in pieces.
std::string GarbageMessage(std::mt19937& rng) {
    const unsigned kind = rng() % 100;
    size_t size;
    if (kind < 70)
        size = rng() % 4097;
    else if (kind < 95)
        size = 4097 + rng() % (16 * 1024);
    else
        size = rng() % (70 * 1024 + 1);
    std::string message;
    if (rng() % 2 == 0) {
        message.resize(size);
        for (char& c : message) c = static_cast<char>(rng() & 0xFF);
        if (RunsUnderWine64()) StepAroundWine64ShapingFault(message);
        return message;
    }
    const std::string marker = kMarker;
    while (message.size() < size) {
        switch (rng() % 6) {
            case 0:
                message += marker;
                break;
            case 1:
                message += marker.substr(0, rng() % marker.size());
                break;
            case 2:
                message += marker.substr(rng() % marker.size());
                break;
            case 3:
                message += ',';
                break;
            case 4:
                message += "\xE4\xBD";
                break;  // a character cut short
            default:
                message += "text \xE4\xBD\xA0\xE5\xA5\xBD\n";
                break;
        }
    }
    message.resize(size);
    return message;
}

// Writers on connections of their own; a write that fails (an empty message
// ends the connection) makes the writer connect again.
size_t SendGarbage(const std::wstring& pipe, unsigned seed, size_t messages, int writers) {
    std::atomic<size_t> sent{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            std::mt19937 rng(seed * 131u + static_cast<unsigned>(w));
            PipeClient client(pipe);
            for (size_t i = static_cast<size_t>(w); i < messages; i += static_cast<size_t>(writers)) {
                if (!client.Connected() && !client.Connect()) continue;
                if (client.Write(GarbageMessage(rng))) ++sent;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    return sent;
}

bool WaitForThreadsAtMost(DWORD pid, DWORD threads, Millis timeout) {
    return WaitUntil([&] { return QueryProcessStats(pid).threads <= threads; }, timeout, 50ms);
}

// Output of finished writers may still sit in the pipe before its reader
// exists: wait until the readers are gone and the view has stopped changing
// for a second.
bool WaitForQuiet(DWORD pid, HWND hDlg, DWORD threads, Millis timeout) {
    std::wstring last;
    ULONGLONG since = ::GetTickCount64();
    return WaitUntil(
        [&] {
            std::wstring now = ReadWindowText(::GetDlgItem(hDlg, IDC_LOG_EDIT));
            if (now != last || QueryProcessStats(pid).threads > threads) {
                last.swap(now);
                since = ::GetTickCount64();
                return false;
            }
            return ::GetTickCount64() - since >= 1000;
        },
        timeout, 100ms);
}

class ProbeCounter {
public:
    ProbeCounter(std::wstring pipe, HWND hDlg) : m_pipe(std::move(pipe)), m_hDlg(hDlg) {}

    // clients connect at once and each sends perClient well-formed messages;
    // all of them must then be in the view. At most 25, so that the view's
    // trim, which keeps the last 30 lines, cannot take any.
    void Wave(const std::string& tag, int clients, int perClient) {
        std::vector<std::string> ids;
        for (int c = 0; c < clients; ++c)
            for (int i = 0; i < perClient; ++i)
                ids.push_back("<" + tag + "." + std::to_string(c) + "." + std::to_string(i) + ">");
        std::atomic<size_t> written{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                PipeClient client(m_pipe);
                if (!client.Connect()) return;
                for (int i = 0; i < perClient; ++i)
                    if (client.Write("PROBE," + ids[static_cast<size_t>(c * perClient + i)])) ++written;
            });
        }
        for (std::thread& t : threads) t.join();
        m_sent += written;
        m_written += ids.size();
        Count(ids);
    }

    void Count(const std::vector<std::string>& ids) {
        size_t found = 0;
        WaitUntil(
            [&] {
                const std::string text = Narrow(ReadWindowText(::GetDlgItem(m_hDlg, IDC_LOG_EDIT)));
                found = 0;
                for (const std::string& id : ids) found += text.find(id + "\r\n") != std::string::npos;
                return found == ids.size();
            },
            10s, 50ms);
        m_shown += found;
        if (found != ids.size()) {
            PrintFigure("pipe", "wave " + ids.front() + ": " + std::to_string(found) + " of " +
                                    std::to_string(ids.size()) + " shown");
            // What the view held instead, for the report.
            const std::string text = Narrow(ReadWindowText(::GetDlgItem(m_hDlg, IDC_LOG_EDIT)));
            std::string tail = text.size() > 600 ? text.substr(text.size() - 600) : text;
            for (char& c : tail)
                if (static_cast<unsigned char>(c) < 32 && c != '\n') c = '.';
            PrintFigure("pipe", "view ends: " + tail);
        }
    }

    // Probes written by the caller on connections of its own.
    void AddWritten(size_t meant, size_t sent) {
        m_written += meant;
        m_sent += sent;
    }

    size_t Sent() const { return m_sent; }
    size_t Meant() const { return m_written; }
    size_t Shown() const { return m_shown; }

private:
    std::wstring m_pipe;
    HWND m_hDlg;
    size_t m_sent = 0, m_written = 0, m_shown = 0;
};

}  // namespace

TEST(DrillPipe, AbuseLeavesTheSupervisorServingEveryWellFormedMessageWithoutLeaks) {
    const size_t kGarbage = Scaled<size_t>(3000, 100000);
    const int kConcurrent = Scaled(20, 100);
    const int kCycles = Scaled(400, 10000);
    // Idle clients hold readers for the whole drill: fewer than there are.
    const int kIdle = Scaled(8, 12);
    const int kDying = Scaled(4, 30);
    // TOLLVANE_DRILL_SEED=<printed seed> replays a run.
    const char* fixedSeed = std::getenv("TOLLVANE_DRILL_SEED");
    const unsigned seed = fixedSeed != nullptr && fixedSeed[0] != '\0'
                              ? static_cast<unsigned>(std::strtoul(fixedSeed, nullptr, 10))
                              : ::GetTickCount();
    PrintFigure("pipe", "seed " + std::to_string(seed) + (SoakRun() ? " (soak)" : " (short)") +
                            " (replay with TOLLVANE_DRILL_SEED=" + std::to_string(seed) + ")");

    RunningInstall run(Launch().Script("hang\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    HWND hDlg = sup.m_hWnd;
    ::Sleep(1500);
    const ProcessStats before = QueryProcessStats(sup.Pid());
    ASSERT_TRUE(before.found);
    const long handlesBefore = CountHandles(sup.Pid());
    ASSERT_GT(handlesBefore, 0) << "the system's handle list could not be read";
    const std::wstring pipe = SupervisorPipeName(install);
    ProbeCounter probes(pipe, hDlg);
    const DWORD start = ::GetTickCount();

    // Clients that connect and never write stay for the whole drill.
    std::vector<std::unique_ptr<PipeClient>> idle;
    for (int i = 0; i < kIdle; ++i) {
        idle.emplace_back(new PipeClient(pipe));
        ASSERT_TRUE(idle.back()->Connect());
    }
    probes.Wave("idle", 4, 5);
    const DWORD withIdle = QueryProcessStats(sup.Pid()).threads;
    auto trace = [&](const char* phase) {
        const ProcessStats now = QueryProcessStats(sup.Pid());
        PrintFigure("pipe", std::string(phase) + ": threads " + std::to_string(now.threads) + ", handles " +
                                std::to_string(now.handles));
    };
    trace("idle clients connected");

    // Random messages, with a count of well-formed ones after every slice.
    size_t garbageSent = 0;
    const size_t slices = Scaled<size_t>(6, 60);
    const DWORD garbageStart = ::GetTickCount();
    for (size_t s = 0; s < slices; ++s) {
        garbageSent += SendGarbage(pipe, seed + static_cast<unsigned>(s), kGarbage / slices, 8);
        ASSERT_TRUE(WaitForQuiet(sup.Pid(), hDlg, withIdle, 60s)) << "readers did not finish";
        probes.Wave("g" + std::to_string(s), 5, 4);
    }
    const DWORD garbageMs = ::GetTickCount() - garbageStart;
    trace("after random messages");

    // Many more clients at once than there are free readers, in waves of 20:
    // each waits for a reader, sends a probe and leaves.
    DWORD peakThreads = 0;
    DWORD peakHandles = before.handles;
    {
        std::atomic<bool> done{false};
        std::thread watch([&] {
            while (!done) {
                const ProcessStats now = QueryProcessStats(sup.Pid());
                peakThreads = std::max(peakThreads, now.threads);
                peakHandles = std::max(peakHandles, now.handles);
                ::Sleep(20);
            }
        });
        for (int first = 0; first < kConcurrent; first += 20) {
            std::vector<std::string> ids;
            std::vector<std::thread> threads;
            const int last = std::min(kConcurrent, first + 20);
            for (int c = first; c < last; ++c) ids.push_back("<many." + std::to_string(c) + ">");
            std::atomic<size_t> written{0};
            for (int c = first; c < last; ++c) {
                threads.emplace_back([&, c] {
                    PipeClient client(pipe);
                    if (client.Connect(30s) && client.Write("PROBE," + ids[static_cast<size_t>(c - first)]))
                        ++written;
                });
            }
            for (std::thread& t : threads) t.join();
            probes.AddWritten(ids.size(), written);
            probes.Count(ids);
        }
        done = true;
        watch.join();
    }
    ASSERT_TRUE(WaitForThreadsAtMost(sup.Pid(), withIdle, 30s));
    trace("after many clients");

    // Connect and leave at once, over and over.
    const DWORD cyclesStart = ::GetTickCount();
    int cycles = 0;
    for (int i = 0; i < kCycles; ++i) {
        PipeClient client(pipe);
        if (client.Connect()) ++cycles;
    }
    const DWORD cyclesMs = ::GetTickCount() - cyclesStart;
    EXPECT_EQ(cycles, kCycles) << "connect/leave cycles that could not connect";
    ASSERT_TRUE(WaitForThreadsAtMost(sup.Pid(), withIdle, 60s));
    probes.Wave("cycles", 5, 4);
    trace("after cycles");

    // Agents killed while they write messages of 65000 bytes.
    {
        std::string script;
        for (int i = 0; i < 40; ++i) script += "sendsize 65000\n";
        script += "hang\n";
        install.WriteFile(L"dying.txt", script);
        std::mt19937 rng(seed + 7);
        for (int i = 0; i < kDying; ++i) {
            const DWORD pid = StartAgentCopy(install.AgentPath(), install.Dir() + L"dying.txt");
            ASSERT_NE(pid, 0u);
            ::Sleep(150 + rng() % 400);
            KillPid(pid);
        }
    }
    ASSERT_TRUE(WaitForQuiet(sup.Pid(), hDlg, withIdle, 30s));
    probes.Wave("dying", 5, 4);
    trace("after dying clients");

    for (auto& client : idle) client->Close();
    idle.clear();

    // A new client is still heard.
    probes.Wave("after", 1, 1);
    const bool threadsBack = WaitForThreadsAtMost(sup.Pid(), before.threads, 15s);
    ::Sleep(500);
    const ProcessStats after = QueryProcessStats(sup.Pid());
    const long handlesAfter = CountHandles(sup.Pid());
    PrintFigure("pipe", std::to_string(garbageSent) + " random messages in " + std::to_string(garbageMs) +
                            " ms; " + std::to_string(cycles) + " connect/leave cycles in " +
                            std::to_string(cyclesMs) + " ms; " + std::to_string(kConcurrent) +
                            " clients at once (supervisor peak: " + std::to_string(peakThreads) +
                            " threads, " + std::to_string(peakHandles) + " handles)");
    PrintFigure("pipe", "well-formed messages: " + std::to_string(probes.Meant()) + " meant, " +
                            std::to_string(probes.Sent()) + " written, " + std::to_string(probes.Shown()) +
                            " shown");
    PrintFigure("pipe", "threads " + std::to_string(before.threads) + " -> " + std::to_string(after.threads) +
                            ", handles " + std::to_string(handlesBefore) + " -> " +
                            std::to_string(handlesAfter) + " (handle table " +
                            std::to_string(before.handles) + " -> " + std::to_string(after.handles) + "), " +
                            std::to_string((::GetTickCount() - start) / 1000) + " s in all");

    EXPECT_TRUE(sup.IsRunning());
    DWORD_PTR result = 0;
    EXPECT_TRUE(::SendMessageTimeoutW(hDlg, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0);
    EXPECT_EQ(probes.Sent(), probes.Meant());
    EXPECT_EQ(probes.Shown(), probes.Meant());
    EXPECT_TRUE(threadsBack) << before.threads << " threads before, " << after.threads << " after";
    // Readers never exceed the bound; a reader that has just given its place
    // to the next may still be ending, hence the two more.
    EXPECT_LE(peakThreads, before.threads + static_cast<DWORD>(kMaxPipeReaders) + 2) << "readers unbounded";
    // Counted one by one: a handle leaked per connection would be hundreds.
    EXPECT_LE(handlesAfter, handlesBefore + 5);
    EXPECT_EQ(AgentPids(install).size(), 1u);
}

// A client may write and close before the server has turned to its
// instance; what it wrote is still in the pipe and must be shown.
TEST(DrillPipe, ClientsThatWriteAndLeaveAtOnceAreAllHeard) {
    const int rounds = Scaled(12, 100);
    RunningInstall run(Launch().Script("hang\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    HWND hDlg = sup.m_hWnd;
    ProbeCounter probes(SupervisorPipeName(install), hDlg);
    for (int r = 0; r < rounds; ++r) probes.Wave("quick" + std::to_string(r), 8, 2);
    PrintFigure("quick clients", std::to_string(probes.Meant()) + " messages from " +
                                     std::to_string(rounds * 8) + " short-lived clients, " +
                                     std::to_string(probes.Shown()) + " shown");
    EXPECT_EQ(probes.Sent(), probes.Meant());
    EXPECT_EQ(probes.Shown(), probes.Meant());
}
