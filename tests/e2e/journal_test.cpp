// The agent's journal, read from outside while and after the supervisor runs:
// messages and events in order, rotation across the size limit, a file that
// cannot be opened, and Exit right after a burst.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/journal_support.h"

using namespace e2e;

namespace {

// The journal of an installation: its folder's canonical path names it.
struct JournalFiles {
    explicit JournalFiles(const TempInstall& install)
        : folder(CJournal::DefaultFolder()), name(JournalNameOf(install)) {
        Remove();
    }
    ~JournalFiles() { Remove(); }
    std::wstring Path(int n = 0) const {
        return folder + L"\\" +
               (n == kJournalRotating ? RotatingJournalName(name) : RotatedJournalName(name, n));
    }
    void Remove() const {
        for (int n = kJournalRotating; n <= kJournalKeptFiles; ++n) ::DeleteFileW(Path(n).c_str());
    }
    // Every kept file, oldest first.
    std::string ReadAll() const {
        std::string all;
        for (int n = kJournalKeptFiles; n >= 1; --n) all += Read(n);
        return all + Read(kJournalRotating) + Read(0);
    }
    std::string Read(int n = 0) const { return ReadWholeFile(Path(n)); }
    std::wstring folder;
    std::wstring name;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));  // no line end: half an entry
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

const std::regex kEntry(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(agent|supervisor)\] (.*)$)");

// "[source] text" of each entry, further lines kept as they are; every
// entry's time must be well formed and none earlier than the one before.
std::vector<std::string> Entries(const std::string& text) {
    std::vector<std::string> out;
    std::string lastTime;
    for (const std::string& line : Lines(text)) {
        if (line.compare(0, 2, "  ") == 0) {
            out.push_back(line);
            continue;
        }
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, kEntry)) << line;
        if (m.empty()) continue;
        EXPECT_GE(m[1].str(), lastTime);
        lastTime = m[1].str();
        out.push_back("[" + m[2].str() + "] " + m[3].str());
    }
    return out;
}

size_t IndexOf(const std::vector<std::string>& entries, const std::string& prefix, size_t from = 0) {
    for (size_t i = from; i < entries.size(); ++i) {
        if (entries[i].compare(0, prefix.size(), prefix) == 0) return i;
    }
    return std::string::npos;
}

size_t IndexOfExact(const std::vector<std::string>& entries, const std::string& entry, size_t from) {
    for (size_t i = from; i < entries.size(); ++i) {
        if (entries[i] == entry) return i;
    }
    return std::string::npos;
}

bool ViewShows(const Supervisor& sup, const wchar_t* text) {
    return sup.ControlText(IDC_LOG_EDIT).find(text) != std::wstring::npos;
}

}  // namespace

TEST(Journal, HoldsTheMessagesAndTheSupervisorsEventsInOrder) {
    TempInstall install;
    JournalFiles journal(install);
    // "INFO,a\nb": a message with a line break of its own.
    install.WriteFile(L"bin\\agent-script.txt",
                      "send INFO,first\nsendraw 494e464f2c610a62\nsleep 1100\nexit 3\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_EQ(WaitForStarts(install, 2, 20s).size(), 2u);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    // The view shows output only.
    const std::wstring view = sup.ControlText(IDC_LOG_EDIT);
    EXPECT_NE(view.find(L"first"), std::wstring::npos);
    EXPECT_EQ(view.find(L"agent started: pid"), std::wstring::npos);
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    sup.PostCommand(ID_APP_EXIT);
    ASSERT_EQ(sup.WaitForExit(15s), 1u);

    const std::vector<std::string> e = Entries(journal.Read());
    ASSERT_GE(e.size(), 9u);
    EXPECT_EQ(e[0].find("[supervisor] supervisor started: version V1.6"), 0u) << e[0];
    const size_t started = IndexOf(e, "[supervisor] agent started: pid ");
    const size_t first = IndexOf(e, "[agent] first", started);
    const size_t multi = IndexOf(e, "[agent] a", first);
    const size_t exited = IndexOf(e, "[supervisor] agent exited: code 3 (0x00000003), ran 1.", multi);
    const size_t again = IndexOf(e, "[supervisor] agent started: pid ", exited);
    const size_t stop = IndexOf(e, "[supervisor] Stop by the user", again);
    ASSERT_NE(stop, std::string::npos);
    EXPECT_EQ(e[multi + 1], "  b");
    EXPECT_EQ(e.back(), "[supervisor] supervisor exiting");
}

TEST(Journal, RotatesAtTheLimitWithoutLosingOrSplittingAnEntry) {
    TempInstall install;
    JournalFiles journal(install);
    // A journal just short of the limit, of whole entries.
    std::string filler;
    const std::string line = "2026-01-01 00:00:00.000 [agent] " + std::string(90, 'f') + "\r\n";
    while (filler.size() + line.size() <= kJournalRotateBytes - 3000) filler += line;
    ::SHCreateDirectoryExW(nullptr, journal.folder.c_str(), nullptr);
    {
        HANDLE file =
            ::CreateFileW(journal.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ::WriteFile(file, filler.data(), static_cast<DWORD>(filler.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    std::string script;
    for (int i = 0; i < 40; ++i)
        script += "send INFO,message-" + std::to_string(i) + "-" + std::string(80, 'm') + "\n";
    install.WriteFile(L"bin\\agent-script.txt", script + "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"message-39-"); }, 20s));
    sup.PostCommand(ID_APP_EXIT);
    ASSERT_EQ(sup.WaitForExit(15s), 1u);

    const std::string older = journal.Read(1);
    const std::string newer = journal.Read(0);
    ASSERT_FALSE(older.empty());
    EXPECT_LE(older.size(), kJournalRotateBytes);
    EXPECT_EQ(older.compare(0, filler.size(), filler), 0);
    EXPECT_EQ(older.substr(older.size() - 2), "\r\n");
    const std::vector<std::string> a = Entries(older), b = Entries(newer);
    ASSERT_FALSE(b.empty());
    std::vector<std::string> all(a.begin(), a.end());
    all.insert(all.end(), b.begin(), b.end());
    size_t at = 0;
    for (int i = 0; i < 40; ++i) {
        at = IndexOfExact(all, "[agent] message-" + std::to_string(i) + "-" + std::string(80, 'm'), at);
        ASSERT_NE(at, std::string::npos) << i;
    }
}

TEST(Journal, AFileThatCannotBeOpenedLeavesTheViewWorkingAndIsWrittenOnceItCan) {
    TempInstall install;
    JournalFiles journal(install);
    ::SHCreateDirectoryExW(nullptr, journal.folder.c_str(), nullptr);
    // A folder where the file should be: every open fails.
    ASSERT_TRUE(::CreateDirectoryW(journal.Path().c_str(), nullptr));
    install.WriteFile(L"bin\\agent-script.txt", "send INFO,still shown\nhang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ViewShows(sup, L"still shown"); }, 20s));
    // Said once in the view.
    EXPECT_TRUE(WaitUntil([&] { return ViewShows(sup, L"Journal: cannot write "); }, 10s));
    ::Sleep(500);
    EXPECT_TRUE(sup.IsRunning());
    ASSERT_TRUE(::RemoveDirectoryW(journal.Path().c_str()));
    EXPECT_TRUE(
        WaitUntil([&] { return journal.Read().find("[agent] still shown\r\n") != std::string::npos; }, 10s));
    EXPECT_EQ(journal.Read().find("[supervisor] supervisor started"), 24u);
}

TEST(Journal, ExitRightAfterABurstLeavesTheWholeBurstInTheFile) {
    TempInstall install;
    JournalFiles journal(install);
    std::string script;
    for (int i = 0; i < 2000; ++i) script += "send INFO,burst-" + std::to_string(i) + "\n";
    install.WriteFile(L"bin\\agent-script.txt", script + "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"burst-1999"); }, 30s));
    sup.PostCommand(ID_APP_EXIT);
    ASSERT_EQ(sup.WaitForExit(15s), 1u);
    const std::vector<std::string> e = Entries(journal.Read());
    size_t at = 0;
    for (int i = 0; i < 2000; ++i) {
        at = IndexOfExact(e, "[agent] burst-" + std::to_string(i), at);
        ASSERT_NE(at, std::string::npos) << i;
    }
    EXPECT_EQ(e.back(), "[supervisor] supervisor exiting");
}

TEST(Journal, AFileHeldOpenElsewhereCostsNoLineAndARotationCutShortIsFinished) {
    TempInstall install;
    JournalFiles journal(install);
    // A rotation cut short by a crash: the live file had taken its rotating name.
    ::SHCreateDirectoryExW(nullptr, journal.folder.c_str(), nullptr);
    {
        HANDLE file = ::CreateFileW(journal.Path(kJournalRotating).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const std::string line = "2026-01-01 00:00:00.000 [agent] left by a crash\r\n";
        DWORD written = 0;
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    // 40 MB in messages of 10,000 bytes, paced so that the journal's queue
    // never fills.
    constexpr int kLines = 4000;
    std::string script;
    for (int i = 0; i < kLines; ++i) {
        char head[32];
        std::snprintf(head, sizeof(head), "send INFO,line-%05d-", i);
        script += head + std::string(10000 - 11, 'h') + "\n";
        if (i % 50 == 49) script += "sleep 20\n";
        if (i == kLines / 2 - 1) script += "sleep 1500\n";  // the reader comes here
    }
    install.WriteFile(L"bin\\agent-script.txt", script + "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    // The crash's rotation is finished at once.
    EXPECT_TRUE(WaitUntil([&] { return journal.Read(1).find("left by a crash") != std::string::npos; }, 10s));
    // Halfway, with the file past its first rotation, a reader holds the live
    // file as some log followers do: reading and writing shared, deleting
    // (and so renaming) not.
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"line-01999-"); }, 120s));
    HANDLE reader = ::CreateFileW(journal.Path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const bool bShown = WaitUntil([&] { return ViewShows(sup, L"line-03999-"); }, 120s);
    sup.PostCommand(ID_APP_EXIT);
    EXPECT_EQ(sup.WaitForExit(15s), 1u);
    ::CloseHandle(reader);
    ASSERT_TRUE(bShown);

    // The kept files begin at the first line and hold every line once, in order.
    const std::string all = journal.ReadAll();
    std::vector<int> numbers;
    size_t putOff = 0;
    std::string first;
    for (size_t pos = 0; pos < all.size();) {
        const size_t end = all.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string_view line(all.data() + pos, end - pos);
        pos = end + 2;
        const std::string_view entry = line.substr(24);
        if (first.empty()) first = std::string(entry);
        if (entry.substr(0, 13) == "[agent] line-")
            numbers.push_back(std::atoi(std::string(entry.substr(13, 5)).c_str()));
        if (entry.substr(0, 39) == "[supervisor] journal: rotation put off:") ++putOff;
    }
    EXPECT_EQ(first, "[agent] left by a crash");
    ASSERT_EQ(numbers.size(), static_cast<size_t>(kLines));
    for (int i = 0; i < kLines; ++i) ASSERT_EQ(numbers[static_cast<size_t>(i)], i);
    EXPECT_EQ(putOff, 1u);
}
