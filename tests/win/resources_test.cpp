// The icons as the built supervisor carries them, read from its resources.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

#include "resource.h"

namespace {

// The pixel sizes in an icon group's directory: a 6-byte header with the
// count, then 14-byte entries that start with the width (0 for 256).
std::set<int> IconSizes(HMODULE hModule, int id) {
    std::set<int> sizes;
    HRSRC hRes = ::FindResourceW(hModule, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
    const auto* data =
        hRes ? static_cast<const BYTE*>(::LockResource(::LoadResource(hModule, hRes))) : nullptr;
    const DWORD size = hRes ? ::SizeofResource(hModule, hRes) : 0;
    if (data == nullptr || size < 6) return sizes;
    const size_t count = data[4] | (data[5] << 8);
    if (size < 6 + 14 * count) return sizes;
    for (size_t i = 0; i < count; ++i) sizes.insert(data[6 + 14 * i] == 0 ? 256 : data[6 + 14 * i]);
    return sizes;
}

TEST(SupervisorResources, BothIconsHoldAnImageForEverySizeWindowsAsksFor) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path);
    exe = exe.substr(0, exe.rfind(L'\\') + 1) + L"QuorvelTollvane.exe";
    HMODULE hModule = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hModule, nullptr) << "the supervisor is built beside this test";
    const std::set<int> all{16, 20, 24, 32, 40, 48, 64, 256};
    EXPECT_EQ(IconSizes(hModule, IDR_MAINFRAME), all);
    EXPECT_EQ(IconSizes(hModule, IDI_AGENT_STOPPED), all);
    ::FreeLibrary(hModule);
}

}  // namespace
