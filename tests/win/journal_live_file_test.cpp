// The journal's live file taken away while it is written: deleted, or
// renamed with another file put under its name. The writer moves on to a
// file under the name within its check's bound and says why there.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "journal/journal.h"
#include "tests/support/win_test_support.h"

namespace {

std::string ReadShared(const std::wstring& path) {
    std::string bytes;
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

constexpr int kLines = 40;
constexpr DWORD kLineGapMs = 50;  // the lines span twice the check's bound

// Adds "<tag> <i>" lines over two seconds; waits until the last is in path.
bool WriteLinesFor2s(CJournal& journal, const std::string& tag, const std::wstring& path) {
    for (int i = 0; i < kLines; ++i) {
        journal.Add(kJournalAgent, std::wstring(tag.begin(), tag.end()) + L" " + std::to_wstring(i));
        ::Sleep(kLineGapMs);
    }
    const std::string last = tag + " " + std::to_string(kLines - 1) + "\r\n";
    return WaitFor([&] { return ReadShared(path).find(last) != std::string::npos; }, 10000);
}

const std::string kGone = "[supervisor] journal: the previous agent-0000abcd.log was deleted or renamed";

}  // namespace

TEST(JournalLiveFile, ADeletedOrRenamedFileIsFollowedByANewOneThatSaysSo) {
    const std::wstring dir = MakeTestDir(L"journal-live-");
    const std::wstring path = dir + L"agent-0000abcd.log";
    CJournal journal(dir.substr(0, dir.size() - 1), L"agent-0000abcd.log");
    ASSERT_TRUE(journal.Start());
    ASSERT_TRUE(WriteLinesFor2s(journal, "kept", path));
    EXPECT_EQ(ReadShared(path).find(kGone), std::string::npos) << "a file left alone is kept";

    ASSERT_TRUE(::DeleteFileW(path.c_str()));
    ASSERT_TRUE(WriteLinesFor2s(journal, "after-delete", path));
    std::string text = ReadShared(path);
    EXPECT_EQ(text.find(kGone), 24u) << text;  // the new file's first entry, after its time
    // Lines stop going to the deleted file within the bound.
    EXPECT_NE(text.find("after-delete 25\r\n"), std::string::npos) << text;

    // Renamed, and another file put under the name at once.
    ASSERT_TRUE(::MoveFileW(path.c_str(), (dir + L"moved.log").c_str()));
    ASSERT_TRUE(WriteTextFile(path, "someone else's\r\n"));
    ASSERT_TRUE(WriteLinesFor2s(journal, "after-rename", path));
    text = ReadShared(path);
    EXPECT_EQ(text.find("someone else's\r\n"), 0u);
    EXPECT_NE(text.find(kGone), std::string::npos) << text;
    EXPECT_NE(text.find("after-rename 25\r\n"), std::string::npos) << text;
    EXPECT_EQ(ReadShared(dir + L"moved.log").find("after-rename 25\r\n"), std::string::npos);
    journal.Close(5000);
}
