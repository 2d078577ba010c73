// The diagnostics bundle on disk: this installation's journal files, a file
// held open by its writer, summary.txt, and no half-written archive.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/diagnostics_bundle.h"
#include "diagnostics/system_facts.h"
#include "framework/handle.h"
#include "tests/support/win_test_support.h"
#include "tests/support/zip_reader.h"

namespace {

std::vector<std::wstring> FilesIn(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    HANDLE find = ::FindFirstFileW((dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

std::string Journal(int lines, const char* tag) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "2026-12-09 14:03:07.215 [agent] " + std::string(tag) + " " + std::to_string(i) + "\r\n";
    return text;
}

}  // namespace

TEST(DiagnosticsBundle, HoldsThisInstallationsJournalAndItsSummary) {
    const std::wstring logs = MakeTestDir(L"bl");
    const std::wstring out = MakeTestDir(L"bo");
    ASSERT_TRUE(WriteTextFile(logs + L"agent-0a1b2c3d.1.log", Journal(150, "older")));
    ASSERT_TRUE(WriteTextFile(logs + L"agent-ffffffff.log", "another installation\r\n"));
    ASSERT_TRUE(WriteTextFile(logs + L"agent-0a1b2c3d.log", Journal(120, "live")));
    // Held the way the journal's writer holds it, and written on meanwhile.
    CFileHandle held(::CreateFileW((logs + L"agent-0a1b2c3d.log").c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    ::SetFilePointer(held.get(), 0, nullptr, FILE_END);
    const std::string more = Journal(1, "written while held");
    DWORD written = 0;
    ::WriteFile(held.get(), more.data(), static_cast<DWORD>(more.size()), &written, nullptr);
    const std::wstring agent = ExeDir() + L"test_agent.exe";

    DiagnosticsRequest request;
    request.zipPath = out + L"bundle.zip";
    request.journalFolder = logs.substr(0, logs.size() - 1);
    request.journalFileName = L"agent-0a1b2c3d.log";
    request.facts.productVersion = L"1.6.1610.127";
    request.facts.agentPath = agent;
    ASSERT_EQ(WriteDiagnosticsBundle(request), 0u);

    std::string error;
    const auto entries = ReadZipFile(out + L"bundle.zip", &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries.at("journal/agent-0a1b2c3d.log"), Journal(120, "live") + more);
    EXPECT_EQ(entries.at("journal/agent-0a1b2c3d.1.log"), Journal(150, "older"));
    const std::string summary = entries.at("summary.txt");
    EXPECT_EQ(summary.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(summary.find("Product version: 1.6.1610.127\r\n"), std::string::npos);
    DWORD hashError = 0;
    const std::wstring sha = FileSha256(agent, &hashError);
    ASSERT_EQ(sha.size(), 64u) << hashError;
    EXPECT_NE(summary.find(" SHA-256 " + std::string(sha.begin(), sha.end()) + "\r\n"), std::string::npos);
    // 200 lines: the live file's 121 under the older file's last 79.
    const size_t last = summary.find("The journal's last 200 lines\r\n");
    ASSERT_NE(last, std::string::npos) << summary;
    EXPECT_NE(summary.find("older 71\r\n", last), std::string::npos);
    EXPECT_EQ(summary.find("older 70\r\n", last), std::string::npos);
    EXPECT_EQ(summary.substr(summary.size() - more.size()), more);
    // Nothing but the archive is left in its folder.
    EXPECT_EQ(FilesIn(out), std::vector<std::wstring>{L"bundle.zip"});
}

TEST(DiagnosticsBundle, AFailureLeavesNothingUnderTheChosenName) {
    const std::wstring out = MakeTestDir(L"bf");
    // A folder by that name cannot be replaced: the archive is written in
    // full under a temporary name, and then does not move.
    ASSERT_TRUE(::CreateDirectoryW((out + L"taken.zip").c_str(), nullptr));
    DiagnosticsRequest request;
    request.zipPath = out + L"taken.zip";
    EXPECT_NE(WriteDiagnosticsBundle(request), 0u);
    EXPECT_TRUE(FilesIn(out).empty());
    EXPECT_NE(::GetFileAttributesW((out + L"taken.zip").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    // A folder that does not exist: no archive, no error left unsaid.
    request.zipPath = out + L"missing\\bundle.zip";
    EXPECT_NE(WriteDiagnosticsBundle(request), 0u);
}

TEST(DiagnosticsBundle, Sha256OfTheSystemsProvider) {
    const std::wstring dir = MakeTestDir(L"bh");
    ASSERT_TRUE(WriteTextFile(dir + L"abc.txt", "abc"));
    DWORD error = 0;
    EXPECT_EQ(FileSha256(dir + L"abc.txt", &error),
              L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(FileSha256(dir + L"none.txt", &error), L"");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
