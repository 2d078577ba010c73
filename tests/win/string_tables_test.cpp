// The string tables of the built supervisor against what the code does with
// them: every string it loads is there in English and in Chinese, translated,
// with the marks the code fills in and the access keys its menus rely on.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "resource.h"
#include "tests/support/win_test_support.h"

namespace {

class StringTables : public ::testing::Test {
protected:
    void SetUp() override {
        m_hRes = ::LoadLibraryExW(SupervisorPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_hRes, nullptr) << "the supervisor is built beside this test";
    }
    void TearDown() override {
        if (m_hRes) ::FreeLibrary(m_hRes);
    }
    HMODULE m_hRes = nullptr;
};

// Each id the code loads, with the marks it fills into that text.
struct UsedString {
    UINT id;
    std::vector<const wchar_t*> marks;
};

// The ids the code loads with no mark to fill.
constexpr UINT kPlainStrings[] = {IDR_MAINFRAME,
                                  IDS_TRAY_TIP,
                                  IDS_START,
                                  IDS_RESTART,
                                  IDS_STOP,
                                  IDS_HIDE,
                                  IDS_ABOUT,
                                  IDS_EXIT,
                                  IDS_SHOW_WINDOW,
                                  IDS_HIDE_WINDOW,
                                  IDS_BALLOON_MISSING,
                                  IDS_LOG_COPY,
                                  IDS_LOG_SELECT_ALL,
                                  IDS_LOG_SAVE_AS,
                                  IDS_LOG_OPEN_FOLDER,
                                  IDS_LOG_CLEAR,
                                  IDS_LOG_SAVE_FILTER,
                                  IDS_LOG_LABEL,
                                  IDS_TIP_STOPPING,
                                  IDS_TIP_STOPPED,
                                  IDS_TIP_MISSING,
                                  IDS_JOURNAL_NO_FOLDER,
                                  IDS_TIP_JOURNAL_OFF,
                                  IDS_NOTE_PIPE_HELD};

std::vector<UsedString> UsedStrings() {
    std::vector<UsedString> used = {
        {IDS_BALLOON_CRASH_LOOP, {L"%u"}},
        {IDS_TIP_RUNNING, {L"{time}", L"{pid}"}},
        {IDS_TIP_PAUSED, {L"{time}", L"{count}"}},
        {IDS_TIP_CANNOT_LAUNCH, {L"{reason}"}},
        {IDS_BALLOON_LAUNCH_FAILED, {L"{reason}"}},
        {IDS_BALLOON_LAST_EXIT, {L"{code}"}},
        {IDS_JOURNAL_CANNOT_WRITE, {L"{path}", L"{error}"}},
        {IDS_TIP_JOURNAL_FAILING, {L"{error}"}},
        {IDS_NOTE_PIPE_TOO_LONG, {L"{limit}"}},
    };
    for (UINT id : kPlainStrings) used.push_back({id, {}});
    return used;
}

// The letter after the single "&" of a menu text, upper-cased; 0 when none.
wchar_t AccessKey(const std::wstring& text) {
    const size_t at = text.find(L'&');
    return at == std::wstring::npos || at + 1 >= text.size() ? 0
                                                             : static_cast<wchar_t>(::towupper(text[at + 1]));
}

TEST_F(StringTables, EveryStringTheCodeLoadsIsInBothLanguagesWithEveryMarkItFills) {
    for (const UsedString& used : UsedStrings()) {
        const std::wstring english = LoadStringIn(m_hRes, used.id, kEnglish);
        const std::wstring chinese = LoadStringIn(m_hRes, used.id, kChinese);
        const auto braced = std::count_if(used.marks.begin(), used.marks.end(),
                                          [](const wchar_t* mark) { return mark[0] == L'{'; });
        for (const std::wstring& text : {english, chinese}) {
            EXPECT_FALSE(text.empty()) << used.id;
            for (const wchar_t* mark : used.marks) EXPECT_NE(text.find(mark), std::wstring::npos) << used.id;
            // No mark that the code would leave unfilled.
            EXPECT_EQ(std::count(text.begin(), text.end(), L'{'), braced) << used.id;
        }
        // Translated, not the English text left in the Chinese table; the
        // product's name is the same in both.
        if (used.id != IDR_MAINFRAME && used.id != IDS_TRAY_TIP) {
            EXPECT_NE(english, chinese) << used.id;
        }
    }
}

TEST_F(StringTables, TheLogMenusAccessKeysAreDistinctAndTheSameInBothLanguages) {
    const UINT items[] = {IDS_LOG_COPY, IDS_LOG_SELECT_ALL, IDS_LOG_SAVE_AS, IDS_LOG_OPEN_FOLDER,
                          IDS_LOG_CLEAR};
    std::set<wchar_t> keys;
    for (UINT id : items) {
        const wchar_t key = AccessKey(LoadStringIn(m_hRes, id, kEnglish));
        EXPECT_NE(key, 0) << id;
        EXPECT_EQ(AccessKey(LoadStringIn(m_hRes, id, kChinese)), key) << id;
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), std::size(items));
    // The end-to-end test clears the view through the open menu's L.
    EXPECT_EQ(AccessKey(LoadStringIn(m_hRes, IDS_LOG_CLEAR, kChinese)), L'L');
}

}  // namespace
