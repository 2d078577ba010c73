// The string tables of the built supervisor against what the code does with
// them: every string is there in English and in Chinese, translated, with the
// marks the code fills in and the access keys its menus rely on.
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

// The strings the code fills marks into, with those marks, sorted.
const struct {
    UINT id;
    std::vector<std::wstring> marks;
} kFilled[] = {
    {IDS_BALLOON_CRASH_LOOP, {L"%u"}},
    {IDS_TIP_RUNNING, {L"{pid}", L"{time}"}},
    {IDS_TIP_PAUSED, {L"{count}", L"{time}"}},
    {IDS_TIP_CANNOT_LAUNCH, {L"{reason}"}},
    {IDS_BALLOON_LAUNCH_FAILED, {L"{reason}"}},
    {IDS_JOURNAL_CANNOT_WRITE, {L"{error}", L"{path}"}},
    {IDS_TIP_JOURNAL_FAILING, {L"{error}"}},
    {IDS_NOTE_PIPE_TOO_LONG, {L"{limit}"}},
    {IDS_DIAGNOSTICS_FAILED, {L"{error}", L"{path}"}},
    {IDS_FIND_CANNOT_FIND, {L"{text}"}},
    {IDS_BALLOON_STOPPED, {L"{code}", L"{time}"}},
    {IDS_BALLOON_EXIT_CODE, {L"{code}"}},
    {IDS_HISTORY_END_EXITED, {L"{code}"}},
    {IDS_HISTORY_END_ASKED, {L"{cause}"}},
    {IDS_HISTORY_END_FORCED, {L"{cause}"}},
    {IDS_HISTORY_END_LAUNCH, {L"{code}", L"{reason}"}},
    {IDS_HISTORY_SUMMARY, {L"{end}", L"{how}", L"{lines}", L"{pid}", L"{start}", L"{time}"}},
    {IDS_HISTORY_READING, {L"{done}", L"{total}"}},
    {IDS_HISTORY_READ, {L"{files}", L"{runs}"}},
    {IDS_HISTORY_SKIPPED, {L"{held}", L"{lines}"}},
    {IDS_HISTORY_HITS, {L"{count}"}},
    {IDS_HISTORY_BOUNDED, {L"{count}"}},
    {IDS_HISTORY_MARK_TIP, {L"{how}", L"{kind}", L"{pid}", L"{time}"}},
};

// Every id that the English or the Chinese table holds.
std::set<UINT> IdsIn(HMODULE hRes) {
    std::set<UINT> ids;
    for (UINT block = 1; block <= 4096; ++block) {
        for (LANGID lang : {kEnglish, kChinese}) {
            if (::FindResourceExW(hRes, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(block), lang) == nullptr)
                continue;
            for (UINT id = (block - 1) * 16; id < block * 16; ++id) {
                if (!LoadStringIn(hRes, id, lang).empty()) ids.insert(id);
            }
        }
    }
    return ids;
}

// The marks of a text ("{name}" and "%u"), sorted.
std::vector<std::wstring> MarksOf(const std::wstring& text) {
    std::vector<std::wstring> marks;
    for (size_t at = text.find_first_of(L"{%"); at != std::wstring::npos;
         at = text.find_first_of(L"{%", at + 1))
        marks.push_back(text[at] == L'%' ? text.substr(at, 2)
                                         : text.substr(at, text.find(L'}', at) + 1 - at));
    std::sort(marks.begin(), marks.end());
    return marks;
}

// The letter after the single "&" of a menu text, upper-cased; 0 when none.
wchar_t AccessKey(const std::wstring& text) {
    const size_t at = text.find(L'&');
    return at == std::wstring::npos || at + 1 >= text.size() ? 0
                                                             : static_cast<wchar_t>(::towupper(text[at + 1]));
}

TEST_F(StringTables, EveryStringIsInBothLanguagesTranslatedWithTheMarksTheCodeFills) {
    const std::set<UINT> ids = IdsIn(m_hRes);
    EXPECT_GE(ids.size(), 30u);
    for (UINT id : ids) {
        const std::wstring english = LoadStringIn(m_hRes, id, kEnglish);
        const std::wstring chinese = LoadStringIn(m_hRes, id, kChinese);
        EXPECT_FALSE(english.empty()) << id;
        EXPECT_FALSE(chinese.empty()) << id;
        EXPECT_EQ(MarksOf(chinese), MarksOf(english)) << id;
        // Translated, not the English text left in the Chinese table; the
        // product's name is the same in both.
        if (id != IDR_MAINFRAME && id != IDS_TRAY_TIP) {
            EXPECT_NE(english, chinese) << id;
        }
        // No mark that the code would leave unfilled, none that it misses.
        const auto filled = std::find_if(std::begin(kFilled), std::end(kFilled),
                                         [id](const auto& entry) { return entry.id == id; });
        EXPECT_EQ(MarksOf(english), filled == std::end(kFilled) ? std::vector<std::wstring>() : filled->marks)
            << id;
    }
    for (const auto& entry : kFilled) EXPECT_EQ(ids.count(entry.id), 1u) << entry.id;
}

TEST_F(StringTables, TheLogMenusAccessKeysAreDistinctAndTheSameInBothLanguages) {
    const UINT items[] = {IDS_LOG_COPY,    IDS_LOG_SELECT_ALL,       IDS_LOG_SAVE_AS, IDS_LOG_OPEN_FOLDER,
                          IDS_LOG_HISTORY, IDS_LOG_SAVE_DIAGNOSTICS, IDS_LOG_CLEAR};
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
