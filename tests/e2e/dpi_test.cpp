// The window at another DPI, seen from outside: a supervisor started at
// 144 DPI, and one told by WM_DPICHANGED that its monitor went from 96 to
// 192. Controls are expected where the template's dialog units put them at
// that DPI (the dialog manager's rounding, within a pixel), the window icons
// at that DPI's sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/layout_support.h"
#include "ui/dpi.h"

using namespace e2e;

namespace {

// The system DPI of the processes started while it lives. Wine reads it once
// per process, at start-up, so it is put back as soon as the supervisor is up
// (at the latest when the object goes): the other tests sharing the prefix
// never see it.
class CLogPixels {
public:
    explicit CLogPixels(DWORD dpi) {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &m_hKey, nullptr) != ERROR_SUCCESS)
            FailSetup("Control Panel\\Desktop cannot be opened");
        DWORD size = sizeof(m_old);
        m_hadValue = ::RegQueryValueExW(m_hKey, L"LogPixels", nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(&m_old), &size) == ERROR_SUCCESS;
        Set(dpi);
    }
    ~CLogPixels() { Restore(); }
    void Restore() {
        if (m_hKey == nullptr) return;
        if (m_hadValue)
            Set(m_old);
        else
            ::RegDeleteValueW(m_hKey, L"LogPixels");
        ::RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }

private:
    void Set(DWORD dpi) {
        ::RegSetValueExW(m_hKey, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                         sizeof(dpi));
    }
    HKEY m_hKey = nullptr;
    DWORD m_old = 0;
    bool m_hadValue = false;
};

INT_PTR CALLBACK DoNothingDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The supervisor's main dialog template, and a hidden copy of the dialog in
// this process: its font is the one the dialog manager makes of the template.
class CTemplateModel {
public:
    explicit CTemplateModel(const std::wstring& exe)
        : m_hRes(::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        HRSRC hDlgRes = m_hRes ? ::FindResourceW(m_hRes, MAKEINTRESOURCEW(IDD_MAINDLG), RT_DIALOG) : nullptr;
        const void* data = hDlgRes ? ::LockResource(::LoadResource(m_hRes, hDlgRes)) : nullptr;
        if (data == nullptr || !LoadDialogTemplate(m_hRes, IDD_MAINDLG, m_dlg))
            FailSetup("the main dialog's template cannot be read");
        m_hDlg = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), static_cast<LPCDLGTEMPLATEW>(data),
                                              nullptr, DoNothingDialogProc, 0);
        if (m_hDlg == nullptr) FailSetup("the template makes no dialog here");
    }
    ~CTemplateModel() {
        if (m_hDlg) ::DestroyWindow(m_hDlg);
        if (m_hRes) ::FreeLibrary(m_hRes);
    }

    const DialogTemplateInfo& Dlg() const { return m_dlg; }
    BaseUnits BaseAt(UINT dpi) const {
        const CFontHandle font = CreateDialogFontAt(m_hDlg, m_dlg.pointSize, dpi);
        return MeasureBaseUnits(font.get());
    }

private:
    HMODULE m_hRes;
    HWND m_hDlg = nullptr;
    DialogTemplateInfo m_dlg;
};

// Where the resize table moves a control when the client area is dx, dy
// larger than the template's.
RECT Follow(const Rect& rc, int id, int dx, int dy) {
    if (id == IDC_LOG_EDIT) return RECT{rc.left, rc.top, rc.right + dx, rc.bottom + dy};
    if (id == ID_AGENT_START || id == ID_AGENT_STOP)
        return RECT{rc.left, rc.top + dy, rc.right, rc.bottom + dy};
    if (id == ID_HIDE) return RECT{rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy};
    return RECT{rc.left, rc.top, rc.right, rc.bottom};
}

bool WithinAPixel(const RECT& a, const RECT& b) {
    return std::abs(a.left - b.left) <= 1 && std::abs(a.top - b.top) <= 1 &&
           std::abs(a.right - b.right) <= 1 && std::abs(a.bottom - b.bottom) <= 1;
}

// Every control of the template where it belongs at dpi, for the client area
// the window has now.
void ExpectLaidOutAt(HWND hDlg, const CTemplateModel& model, UINT dpi) {
    const BaseUnits base = model.BaseAt(dpi);
    const Rect ref = ClientRectAt(model.Dlg(), base);
    RECT client = {};
    ::GetClientRect(hDlg, &client);
    for (const TemplateItem& item : model.Dlg().items) {
        const RECT want =
            Follow(ItemRectAt(item, base), item.id, client.right - ref.right, client.bottom - ref.bottom);
        const RECT got = ControlRect(hDlg, item.id);
        EXPECT_TRUE(WithinAPixel(got, want)) << "control " << item.id << " at " << dpi
                                             << " dpi: " << Describe(got) << ", expected " << Describe(want);
    }
    // The grip keeps to the corner, whatever its size at this DPI.
    const RECT grip = ControlRect(hDlg, kSizeGripId);
    EXPECT_EQ(grip.right, client.right);
    EXPECT_EQ(grip.bottom, client.bottom);
}

// WM_GETICON and GetIconInfo do not reach another process's icons under
// Wine, so the sizes come from the supervisor's trace of the icons it set.
bool IconsTraced(const DebugCapture& capture, DWORD pid, const std::wstring& line) {
    const std::vector<std::wstring> lines = capture.LinesFrom(pid);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
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
    const CTemplateModel model(run.install.ExePath());

    ExpectLaidOutAt(run.sup.m_hWnd, model, 144);
    EXPECT_TRUE(WaitUntil(
        [&] { return IconsTraced(capture, run.sup.Pid(), L"window icons 48 and 24 px at 144 dpi"); }, 5s));
}

TEST(Dpi, DpiChangedTakesTheSuggestedRectangleAndLaysOutAndLoadsIconsForTheNewDpi) {
    DebugCapture capture;
    RunningInstall run(Launch().WithoutAgent().Visible());
    Supervisor& sup = run.sup;
    const CTemplateModel model(run.install.ExePath());
    const RECT before = WindowRect(sup.m_hWnd);
    const POINT minBefore = MinTrackSize(sup.m_hWnd);

    // Twice the size, as the system would suggest for 192 DPI, within what
    // the virtual screen lets a window grow to.
    const RECT suggested{20, 10, 20 + std::min(2 * (before.right - before.left), 1240L),
                         10 + std::min(2 * (before.bottom - before.top), 1000L)};
    ASSERT_TRUE(SendDpiChanged(sup, 192, suggested));
    EXPECT_EQ(WindowRect(sup.m_hWnd), suggested) << Describe(WindowRect(sup.m_hWnd));
    ExpectLaidOutAt(sup.m_hWnd, model, 192);
    EXPECT_TRUE(WaitUntil(
        [&] { return IconsTraced(capture, sup.Pid(), L"window icons 64 and 32 px at 192 dpi"); }, 5s));
    // The minimum is the template's client area at 192 DPI inside the frame.
    const Rect ref = ClientRectAt(model.Dlg(), model.BaseAt(192));
    RECT client = {};
    ::GetClientRect(sup.m_hWnd, &client);
    const POINT minAfter = MinTrackSize(sup.m_hWnd);
    EXPECT_EQ(minAfter.x, ref.right + (suggested.right - suggested.left) - client.right);
    EXPECT_EQ(minAfter.y, ref.bottom + (suggested.bottom - suggested.top) - client.bottom);

    // Back at 96 DPI in the first rectangle: the first layout and minimum,
    // nothing drifted on the way.
    ASSERT_TRUE(SendDpiChanged(sup, 96, before));
    EXPECT_EQ(WindowRect(sup.m_hWnd), before);
    ExpectLaidOutAt(sup.m_hWnd, model, 96);
    const POINT minBack = MinTrackSize(sup.m_hWnd);
    EXPECT_TRUE(WithinAPixel(RECT{0, 0, minBack.x, minBack.y}, RECT{0, 0, minBefore.x, minBefore.y}));
}

}  // namespace
