// The log view's menu and the trouble balloons, in the string tables of the
// built supervisor: every text in English and in Chinese.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resource.h"
#include "tests/support/win_test_support.h"

namespace {

// String id from the table of one language, whatever the session's language.
std::wstring LoadStringIn(HMODULE hRes, UINT id, LANGID lang) {
    HRSRC hInfo =
        ::FindResourceExW(hRes, MAKEINTRESOURCEW(6) /* RT_STRING */, MAKEINTRESOURCEW(id / 16 + 1), lang);
    if (hInfo == nullptr) return std::wstring();
    const auto* p = static_cast<const wchar_t*>(::LockResource(::LoadResource(hRes, hInfo)));
    if (p == nullptr) return std::wstring();
    for (UINT i = 0; i < id % 16; ++i) p += 1 + *p;
    return std::wstring(p + 1, *p);
}

}  // namespace

TEST(LogMenuTexts, EveryItemAndBalloonHasItsEnglishAndChineseText) {
    HMODULE hRes = ::LoadLibraryExW(SupervisorPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hRes, nullptr);
    const LANGID en = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const LANGID zh = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    const struct {
        UINT id;
        const wchar_t* english;
        const wchar_t* chinese;
    } texts[] = {
        {IDS_LOG_COPY, L"&Copy", L"复制(&C)"},
        {IDS_LOG_SELECT_ALL, L"Select &All", L"全选(&A)"},
        {IDS_LOG_SAVE_AS, L"&Save As...", L"另存为(&S)..."},
        {IDS_LOG_OPEN_FOLDER, L"&Open Log Folder", L"打开日志文件夹(&O)"},
        {IDS_LOG_CLEAR, L"C&lear", L"清空(&L)"},
        {IDS_BALLOON_CRASH_LOOP, L"Tollvane keeps exiting — restarting it after pauses of up to %u s",
         L"Tollvane 反复退出——正在重新开启，间隔最长 %u 秒"},
        {IDS_BALLOON_MISSING, L"Tollvane is missing: bin\\Tollvane.exe was not found",
         L"找不到 Tollvane：bin\\Tollvane.exe 不存在"},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(LoadStringIn(hRes, t.id, en), t.english) << t.id;
        EXPECT_EQ(LoadStringIn(hRes, t.id, zh), t.chinese) << t.id;
    }
    // The journal's notices, with the marks their values go in.
    for (LANGID lang : {en, zh}) {
        EXPECT_FALSE(LoadStringIn(hRes, IDS_JOURNAL_NO_FOLDER, lang).empty());
        EXPECT_FALSE(LoadStringIn(hRes, IDS_TIP_JOURNAL_OFF, lang).empty());
        EXPECT_NE(LoadStringIn(hRes, IDS_JOURNAL_CANNOT_WRITE, lang).find(L"{path}"), std::wstring::npos);
        EXPECT_NE(LoadStringIn(hRes, IDS_TIP_JOURNAL_FAILING, lang).find(L"{error}"), std::wstring::npos);
    }
    ::FreeLibrary(hRes);
}
