#include "ui/log_text_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(LogTextRules, OneLineEndPerLineTheViewShows) {
    // A Go logger's entries end in "\n"; the view adds "\r\n" after each.
    EXPECT_EQ(ViewTextAsLines(L"one\n\r\ntwo\n\r\n"), L"one\r\ntwo\r\n");
    // The view's own line ends, a message's "\r\n" (a blank line in the
    // view too) and a "\n" inside a message stay.
    EXPECT_EQ(ViewTextAsLines(L"a\r\nb\r\n\r\nc\nd\r\n"), L"a\r\nb\r\n\r\nc\nd\r\n");
    EXPECT_EQ(ViewTextAsLines(L"\n\r\n\n\n\r\n"), L"\r\n\n\r\n");
    EXPECT_EQ(ViewTextAsLines(L"tail\n"), L"tail\n");
}

TEST(LogTextRules, FindsForwardFromTheSelectionsEndAndBackFromItsStart) {
    const std::wstring text = L"abc abc abc";
    EXPECT_EQ(FindInViewText(text, L"abc", 0, 0, true), 0u);
    EXPECT_EQ(FindInViewText(text, L"abc", 0, 3, true), 4u);
    EXPECT_EQ(FindInViewText(text, L"abc", 8, 11, true), std::wstring::npos);
    EXPECT_EQ(FindInViewText(text, L"abc", 8, 11, false), 4u);
    EXPECT_EQ(FindInViewText(text, L"abc", 4, 7, false), 0u);
    EXPECT_EQ(FindInViewText(text, L"abc", 0, 3, false), std::wstring::npos);
    // A match may overlap the selection going back, as long as it starts before it.
    EXPECT_EQ(FindInViewText(L"aaaa", L"aa", 2, 4, false), 1u);
    EXPECT_EQ(FindInViewText(text, L"", 0, 0, true), std::wstring::npos);
    EXPECT_EQ(FindInViewText(text, L"abc", 99, 99, true), std::wstring::npos);
    EXPECT_EQ(FindInViewText(text, L"abc", 99, 99, false), 8u);
}

}  // namespace
