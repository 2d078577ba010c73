// The window at another DPI, seen from outside: a supervisor started at
// 144 DPI, and one told by WM_DPICHANGED that its monitor went from 96 to
// 192. Controls are expected where the template's dialog units put them at
// that DPI (the dialog manager's rounding, within a pixel), the window icons
// at that DPI's sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "resource.h"
#include "tests/e2e/agent_e2e_support.h"
#include "tests/e2e/tray_layout_support.h"
#include "ui/dpi.h"

using namespace e2e;

namespace {

// The system DPI of the processes started while it lives. Wine reads it once
// per process, at start-up, so the value is put back as soon as the
// supervisor is up (and at the latest when the object goes), and the other
// tests sharing the prefix never see it.
class CLogPixels {
public:
    explicit CLogPixels(DWORD dpi) {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_hKey, nullptr) != ERROR_SUCCESS)
            FailSetup("Control Panel\\Desktop cannot be opened");
        DWORD size = sizeof(m_old);
        m_hadValue = ::RegQueryValueExW(m_hKey, L"LogPixels", nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(&m_old), &size) == ERROR_SUCCESS;
        if (::RegSetValueExW(m_hKey, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                             sizeof(dpi)) != ERROR_SUCCESS) {
            ::RegCloseKey(m_hKey);
            FailSetup("LogPixels cannot be set");
        }
    }
    ~CLogPixels() { Restore(); }
    CLogPixels(const CLogPixels&) = delete;
    CLogPixels& operator=(const CLogPixels&) = delete;

    void Restore() {
        if (m_hKey == nullptr) return;
        if (m_hadValue)
            ::RegSetValueExW(m_hKey, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_old),
                             sizeof(m_old));
        else
            ::RegDeleteValueW(m_hKey, L"LogPixels");
        ::RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }

private:
    HKEY m_hKey = nullptr;
    DWORD m_old = 0;
    bool m_hadValue = false;
};

// The supervisor's main dialog template, read from its executable.
DialogTemplateInfo MainTemplate(const std::wstring& exe) {
    HMODULE hRes = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    DialogTemplateInfo dlg;
    const bool ok = hRes != nullptr && LoadDialogTemplate(hRes, IDD_MAINDLG, dlg);
    if (hRes != nullptr) ::FreeLibrary(hRes);
    if (!ok) FailSetup("the main dialog's template cannot be read");
    return dlg;
}

// What the dialog manager measures: the template's font at the DPI, its
// average width of the 52 letters and its height.
SIZE BaseUnitsAt(const DialogTemplateInfo& dlg, UINT dpi) {
    HFONT hFont =
        ::CreateFontW(-::MulDiv(dlg.pointSize, static_cast<int>(dpi), 72), 0, 0, 0, dlg.weight, dlg.italic,
                      FALSE, FALSE, static_cast<DWORD>(dlg.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, dlg.face.c_str());
    HDC hdc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(hdc, hFont);
    TEXTMETRICW tm = {};
    SIZE extent = {};
    ::GetTextMetricsW(hdc, &tm);
    ::GetTextExtentPoint32W(hdc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &extent);
    ::SelectObject(hdc, old);
    ::ReleaseDC(nullptr, hdc);
    ::DeleteObject(hFont);
    return SIZE{(extent.cx / 26 + 1) / 2, tm.tmHeight};
}

// A control as the dialog manager creates it from the template.
RECT MapItem(const TemplateItem& item, SIZE base) {
    const int left = ::MulDiv(item.x, base.cx, 4), top = ::MulDiv(item.y, base.cy, 8);
    return RECT{left, top, left + ::MulDiv(item.cx, base.cx, 4), top + ::MulDiv(item.cy, base.cy, 8)};
}

// Where the resize table moves a control when the client area is dx, dy
// larger than the template's.
RECT Follow(RECT rc, int id, int dx, int dy) {
    if (id == IDC_LOG_EDIT) return RECT{rc.left, rc.top, rc.right + dx, rc.bottom + dy};
    if (id == ID_AGENT_START || id == ID_AGENT_STOP) return Offset(rc, 0, dy);
    if (id == ID_HIDE) return Offset(rc, dx, dy);
    return rc;
}

bool WithinAPixel(const RECT& a, const RECT& b) {
    return std::abs(a.left - b.left) <= 1 && std::abs(a.top - b.top) <= 1 &&
           std::abs(a.right - b.right) <= 1 && std::abs(a.bottom - b.bottom) <= 1;
}

// Every control of the template where it belongs at dpi, for the client area
// the window has now.
void ExpectLaidOutAt(HWND hDlg, const DialogTemplateInfo& dlg, UINT dpi) {
    const SIZE base = BaseUnitsAt(dlg, dpi);
    RECT client = {};
    ::GetClientRect(hDlg, &client);
    const int dx = client.right - ::MulDiv(dlg.cx, base.cx, 4);
    const int dy = client.bottom - ::MulDiv(dlg.cy, base.cy, 8);
    for (const TemplateItem& item : dlg.items) {
        const RECT want = Follow(MapItem(item, base), item.id, dx, dy);
        const RECT got = ControlRect(hDlg, item.id);
        EXPECT_TRUE(WithinAPixel(got, want)) << "control " << item.id << " at " << dpi
                                             << " dpi: " << Describe(got) << ", expected " << Describe(want);
    }
    // The grip keeps to the corner, whatever its size at this DPI.
    const RECT grip = ControlRect(hDlg, kSizeGripId);
    EXPECT_EQ(grip.right, client.right);
    EXPECT_EQ(grip.bottom, client.bottom);
}

bool IconsTraced(const DebugCapture& capture, DWORD pid, const std::wstring& line) {
    for (const std::wstring& seen : capture.LinesFrom(pid))
        if (seen == line) return true;
    return false;
}

// WM_DPICHANGED as the system sends it. Its rectangle is not carried across
// processes, so it is written into the supervisor's memory first.
bool SendDpiChanged(const Supervisor& sup, UINT dpi, const RECT& suggested) {
    HANDLE hProcess = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, sup.Pid());
    if (hProcess == nullptr) return false;
    void* remote =
        ::VirtualAllocEx(hProcess, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    DWORD_PTR result = 0;
    const bool ok = remote != nullptr &&
                    ::WriteProcessMemory(hProcess, remote, &suggested, sizeof(RECT), nullptr) &&
                    ::SendMessageTimeoutW(sup.m_hWnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                                          reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, 10000, &result) != 0;
    if (remote != nullptr) ::VirtualFreeEx(hProcess, remote, 0, MEM_RELEASE);
    ::CloseHandle(hProcess);
    return ok;
}

POINT MinTrackSize(HWND hWnd) {
    MINMAXINFO mmi = {};
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(hWnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi), SMTO_NORMAL, 10000,
                          &result);
    return mmi.ptMinTrackSize;
}

TEST(Dpi, StartedAt144DpiLaysTheTemplateOutAtThatDpiWithTheIconsOfItsSizes) {
    DebugCapture capture;
    CLogPixels dpi(144);
    RunningInstall run(Launch().WithoutAgent().Visible());
    dpi.Restore();
    const DialogTemplateInfo dlg = MainTemplate(run.install.ExePath());

    ExpectLaidOutAt(run.sup.m_hWnd, dlg, 144);
    EXPECT_TRUE(WaitUntil(
        [&] { return IconsTraced(capture, run.sup.Pid(), L"window icons 48 and 24 px at 144 dpi"); }, 5s));
}

TEST(Dpi, DpiChangedTakesTheSuggestedRectangleAndLaysOutAndLoadsIconsForTheNewDpi) {
    DebugCapture capture;
    RunningInstall run(Launch().WithoutAgent().Visible());
    Supervisor& sup = run.sup;
    const DialogTemplateInfo dlg = MainTemplate(run.install.ExePath());
    const RECT before = WindowRect(sup.m_hWnd);
    const POINT minBefore = MinTrackSize(sup.m_hWnd);

    // Twice the size, as the system would suggest for 192 DPI, within what
    // the virtual screen lets a window grow to.
    const RECT suggested{20, 10, 20 + std::min(2 * (before.right - before.left), 1240L),
                         10 + std::min(2 * (before.bottom - before.top), 1000L)};
    ASSERT_TRUE(SendDpiChanged(sup, 192, suggested));
    EXPECT_EQ(WindowRect(sup.m_hWnd), suggested) << Describe(WindowRect(sup.m_hWnd));
    ExpectLaidOutAt(sup.m_hWnd, dlg, 192);
    EXPECT_TRUE(WaitUntil(
        [&] { return IconsTraced(capture, sup.Pid(), L"window icons 64 and 32 px at 192 dpi"); }, 5s));
    // The minimum is the template's client area at 192 DPI inside the frame.
    const SIZE base = BaseUnitsAt(dlg, 192);
    RECT client = {};
    ::GetClientRect(sup.m_hWnd, &client);
    const POINT minAfter = MinTrackSize(sup.m_hWnd);
    EXPECT_EQ(minAfter.x, ::MulDiv(dlg.cx, base.cx, 4) + (suggested.right - suggested.left) - client.right);
    EXPECT_EQ(minAfter.y, ::MulDiv(dlg.cy, base.cy, 8) + (suggested.bottom - suggested.top) - client.bottom);

    // Back at 96 DPI in the first rectangle: the first layout and minimum,
    // nothing drifted on the way.
    ASSERT_TRUE(SendDpiChanged(sup, 96, before));
    EXPECT_EQ(WindowRect(sup.m_hWnd), before);
    ExpectLaidOutAt(sup.m_hWnd, dlg, 96);
    EXPECT_TRUE(WithinAPixel(RECT{0, 0, MinTrackSize(sup.m_hWnd).x, MinTrackSize(sup.m_hWnd).y},
                             RECT{0, 0, minBefore.x, minBefore.y}));
}

}  // namespace
