// The agent's journal, read from outside while and after the supervisor runs:
// messages and events in order, rotation across the size limit, a file that
// cannot be opened, and Exit right after a burst.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_rules.h"
#include "app/instance_guard.h"
#include "resource.h"
#include "tests/e2e/agent_support.h"

using namespace e2e;

namespace {

// The journal of an installation: its folder's canonical path names it.
struct JournalFiles {
    explicit JournalFiles(const TempInstall& install)
        : folder(CJournal::DefaultFolder()),
          name(JournalFileName(CanonicalPath(install.Dir().substr(0, install.Dir().size() - 1)))) {
        Remove();
    }
    ~JournalFiles() { Remove(); }
    std::wstring Path(int n = 0) const { return folder + L"\\" + RotatedJournalName(name, n); }
    void Remove() const {
        for (int n = 0; n <= kJournalKeptFiles; ++n) ::DeleteFileW(Path(n).c_str());
    }
    std::string Read(int n = 0) const {
        std::string bytes;
        HANDLE file = ::CreateFileW(Path(n).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return bytes;
        char chunk[65536];
        DWORD got = 0;
        while (::ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
        ::CloseHandle(file);
        return bytes;
    }
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
