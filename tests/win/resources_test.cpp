// The icons and the main dialog's template as the built supervisor carries
// them, read from its resources.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "resource.h"
#include "ui/dpi.h"

namespace {

std::wstring SupervisorPath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.rfind(L'\\') + 1) + L"QuorvelTollvane.exe";
}

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved, type, count;
};
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

class SupervisorResources : public ::testing::Test {
protected:
    void SetUp() override {
        m_hRes = ::LoadLibraryExW(SupervisorPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_hRes, nullptr) << "the supervisor is built beside this test";
    }
    void TearDown() override {
        if (m_hRes) ::FreeLibrary(m_hRes);
    }

    // The pixel sizes of an icon resource's images (0 in the directory is 256).
    std::set<int> IconSizes(int id) const {
        std::set<int> sizes;
        HRSRC hRes = ::FindResourceW(m_hRes, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
        if (hRes == nullptr) return sizes;
        const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(m_hRes, hRes)));
        const DWORD size = ::SizeofResource(m_hRes, hRes);
        if (data == nullptr || size < sizeof(IconGroupHeader)) return sizes;
        const auto* header = reinterpret_cast<const IconGroupHeader*>(data);
        if (size < sizeof(IconGroupHeader) + header->count * sizeof(IconGroupEntry)) return sizes;
        const auto* entries = reinterpret_cast<const IconGroupEntry*>(header + 1);
        for (WORD i = 0; i < header->count; ++i) {
            EXPECT_EQ(entries[i].width, entries[i].height);
            sizes.insert(entries[i].width == 0 ? 256 : entries[i].width);
        }
        return sizes;
    }

    HMODULE m_hRes = nullptr;
};

TEST_F(SupervisorResources, BothIconsHoldAnImageForEverySizeWindowsAsksFor) {
    const std::set<int> all{16, 20, 24, 32, 40, 48, 64, 256};
    EXPECT_EQ(IconSizes(IDR_MAINFRAME), all);
    EXPECT_EQ(IconSizes(IDI_AGENT_STOPPED), all);
}

TEST_F(SupervisorResources, MainDialogTemplateReadsWithTheLabelRightBeforeTheLog) {
    DialogTemplateInfo dlg;
    ASSERT_TRUE(LoadDialogTemplate(m_hRes, IDD_MAINDLG, dlg));
    EXPECT_EQ(dlg.cx, 455);
    EXPECT_EQ(dlg.cy, 250);
    EXPECT_EQ(dlg.pointSize, 8);
    ASSERT_EQ(dlg.items.size(), 5u);
    EXPECT_EQ(dlg.items[0].id, IDC_LOG_LABEL);
    EXPECT_EQ(dlg.items[1].id, IDC_LOG_EDIT);
    // The label sits above the log, which keeps its bottom edge and margins.
    EXPECT_LE(dlg.items[0].y + dlg.items[0].cy, dlg.items[1].y);
    EXPECT_EQ(dlg.items[1].y + dlg.items[1].cy, 222);
}

}  // namespace
