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

// The user's own lock on the installation, which decides between this
// user's supervisors of it in every session: a file under the user's local
// application data, held open without sharing and gone with its holder. No
// other user can make it there, as anyone can make a name in the global
// namespace first. Empty path: the shell names no such folder.
std::wstring InstanceLockPath(const std::wstring& folderIdentity);
struct InstanceFileLock {
    CFileHandle hFile;  // held for the process's life when Ours
    NameTake take = NameTake::MayBeHeld;
};
// Held: a supervisor of ours holds it, or is just letting it go.
InstanceFileLock TakeInstanceLock(const std::wstring& path);

// A line in the installation's journal from a start that has no writer of
// its own yet (or never will), beside the writer of one that runs.
void NoteInJournal(const std::wstring& ownPath, const std::wstring& text);

// A start that gives way to a supervisor whose window it cannot reach (in
// another session, elevated, hung) says so: a line in the installation's
// journal, and a message box unless bQuiet.
void TellRunningUnseen(HINSTANCE hInstance, const std::wstring& ownPath, bool bQuiet);

// A supervisor window whose executable is this one's, however either was
// spelled when started.
HWND FindInstanceWindow(HINSTANCE hInstance);
BOOL CALLBACK MatchInstanceWindow(HWND hWnd, LPARAM lParam);

// Shows, restores and brings the found window to the front. Returns within
// about timeoutMs even when that window's thread does not answer: the work
// runs on a thread of its own, which is left behind if it hangs.
inline constexpr DWORD kActivationTimeoutMs = 3000;
void ActivateInstanceWindow(HWND hWnd, DWORD timeoutMs = kActivationTimeoutMs);
