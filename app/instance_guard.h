// Finding and raising the window of a supervisor that already runs from the
// same executable.
#pragma once

#include <windows.h>

#include <string>

#include "framework/handle.h"

// The record handed to the window enumeration.
struct InstanceWindowQuery {
    const wchar_t* pszClass;
    const wchar_t* pszTitle;
    const wchar_t* pszModulePath;
    wchar_t* pszBuffer;
    DWORD cchBuffer;
    HWND hwndFound;
};

// The file system's identity of a file or folder, for telling two spellings
// of one installation apart from two installations: its final path (links,
// junctions and SUBST drives resolved), upper-cased; CanonicalPath where the
// system cannot give a final path (Windows XP, a file that cannot be opened).
std::wstring IdentityPath(const std::wstring& path);

// The current user's SID as text ("S-1-5-21-..."); empty when unreadable.
std::wstring CurrentUserSid();

// What taking one instance name found.
enum class NameTake {
    Ours,       // created by this call, and owned
    Held,       // another supervisor holds it (or runs elevated: access denied)
    MayBeHeld,  // an unexpected failure: nothing says that no other one runs
};
struct InstanceLock {
    CHandle hMutex;  // open (and, when Ours, owned) for the process's life; may be empty
    NameTake take = NameTake::MayBeHeld;
};
// Creates the named mutex owned by this process. bUserOnly gives it a DACL
// that lets only the current user (and SYSTEM) open it.
InstanceLock TakeInstanceName(const std::wstring& name, bool bUserOnly);

// A supervisor window whose executable is this one's, however either was
// spelled when started.
HWND FindInstanceWindow(HINSTANCE hInstance);
BOOL CALLBACK MatchInstanceWindow(HWND hWnd, LPARAM lParam);

// Shows, restores and brings the found window to the front. Returns within
// about timeoutMs even when that window's thread does not answer: the work
// runs on a thread of its own, which is left behind if it hangs.
inline constexpr DWORD kActivationTimeoutMs = 3000;
void ActivateInstanceWindow(HWND hWnd, DWORD timeoutMs = kActivationTimeoutMs);
