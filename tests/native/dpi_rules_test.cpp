#include "ui/dpi_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Builds an extended dialog template the way the resource compiler lays it out.
class TemplateBytes {
public:
    TemplateBytes& Word(uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        return *this;
    }
    TemplateBytes& Dword(uint32_t v) {
        return Word(static_cast<uint16_t>(v)).Word(static_cast<uint16_t>(v >> 16));
    }
    TemplateBytes& Text(const std::u16string& s) {
        for (char16_t c : s) Word(c);
        return Word(0);
    }
    TemplateBytes& Align() {
        while (bytes.size() % 4) bytes.push_back(0);
        return *this;
    }
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> TwoControlTemplate() {
    TemplateBytes t;
    t.Word(1).Word(0xFFFF).Dword(0).Dword(0).Dword(0x40 /* DS_SETFONT */).Word(2);
    t.Word(0).Word(0).Word(455).Word(250);
    t.Word(0).Word(0).Text(u"Title");                                    // no menu, the dialog class, a title
    t.Word(8).Word(400).Word(0x8600).Text(u"\u5fae\u8f6f\u96c5\u9ed1");  // 8 pt, not italic, charset 0x86
    // A static by class number with a text, then an edit by class name with
    // two bytes of creation data; each item starts on a 32-bit boundary.
    t.Align().Dword(0).Dword(0).Dword(0).Word(7).Word(7).Word(441).Word(9).Dword(1001);
    t.Word(0xFFFF).Word(0x0082).Text(u"Agent output").Word(0);
    t.Align().Dword(0).Dword(0).Dword(0).Word(7).Word(0xFFFE).Word(441).Word(204).Dword(32786);
    t.Text(u"EDIT").Word(0).Word(2).Word(0xABCD);
    return t.bytes;
}

TEST(DialogTemplate, ReadsTheSizeTheFontSizeAndEveryControlInOrder) {
    const std::vector<uint8_t> bytes = TwoControlTemplate();
    DialogTemplateInfo dlg;
    ASSERT_TRUE(ParseDialogTemplateEx(bytes.data(), bytes.size(), dlg));
    EXPECT_EQ(dlg.cx, 455);
    EXPECT_EQ(dlg.cy, 250);
    EXPECT_EQ(dlg.pointSize, 8);
    ASSERT_EQ(dlg.items.size(), 2u);
    EXPECT_EQ(dlg.items[0].id, 1001);
    EXPECT_EQ(dlg.items[1].id, 32786);  // ids are 32-bit here
    EXPECT_EQ(dlg.items[1].y, -2);      // coordinates are signed
    EXPECT_EQ(dlg.items[1].cy, 204);
}

TEST(DialogTemplate, RefusesClassicAndCutShortTemplatesWithoutReadingPastThem) {
    const std::vector<uint8_t> bytes = TwoControlTemplate();
    DialogTemplateInfo dlg;
    // Every cut falls inside some field; none may read past the end.
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(ParseDialogTemplateEx(bytes.data(), n, dlg)) << "cut at " << n;
    std::vector<uint8_t> classic = bytes;
    classic[2] = 0;  // no 0xFFFF signature: a DLGTEMPLATE
    EXPECT_FALSE(ParseDialogTemplateEx(classic.data(), classic.size(), dlg));
}

TEST(DialogUnits, RoundLikeTheDialogManagerAtEveryScale) {
    // MulDiv rounds halves away from zero.
    EXPECT_EQ(MulDivRound(2, 3, 4), 2);
    EXPECT_EQ(MulDivRound(-2, 3, 4), -2);
    EXPECT_EQ(FontHeightForDpi(8, 96), -11);  // 10.67
    // Whole letter pairs first: 350 / 26 = 13.46 -> 13 -> 7, 337 -> 12 -> 6.
    EXPECT_EQ(AverageCharWidth(350), 7);
    EXPECT_EQ(AverageCharWidth(337), 6);

    // Position and size are rounded each on its own, so the right edge is
    // not the rounded sum: 7 * 7 / 4 = 12.25 and 441 * 7 / 4 = 771.75.
    const BaseUnits base{7, 15};
    EXPECT_EQ(ItemRectAt(TemplateItem{1000, 7, 18, 441, 204}, base), (Rect{12, 34, 12 + 772, 34 + 383}));
    DialogTemplateInfo dlg;
    dlg.cx = 455;
    dlg.cy = 250;
    EXPECT_EQ(ClientRectAt(dlg, base), (Rect{0, 0, 796, 469}));
    EXPECT_EQ(ClientRectAt(dlg, BaseUnits{14, 30}), (Rect{0, 0, 1593, 938}));
    // The grip is a scroll bar wide and a scroll bar high, which differ at some scales.
    EXPECT_EQ(GripRectAt(796, 469, 21, 17), (Rect{775, 452, 796, 469}));
}

TEST(LogColours, OwnBlackOnWhiteUnlessHighContrastGivesTheUsersColours) {
    const uint32_t black = 0x000000, white = 0xFFFFFF, yellow = 0x00FFFF;
    const LogColours normal = PickLogColours(false, black, yellow);
    EXPECT_EQ(normal.background, white);
    EXPECT_EQ(normal.text, black);
    const LogColours contrast = PickLogColours(true, black, yellow);
    EXPECT_EQ(contrast.background, black);
    EXPECT_EQ(contrast.text, yellow);
}

}  // namespace
