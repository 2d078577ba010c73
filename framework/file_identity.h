// The file system's own name for a file or folder: its final path, with
// links, junctions, SUBST and mapped drives and short names resolved, so
// that two spellings of one folder compare equal.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

enum class FinalPathForm {
    Nt,   // "\Device\HarddiskVolume3\Apps\Sup", as native image paths are given
    Dos,  // "\\?\C:\Apps\Sup" or "\\?\UNC\server\share\Sup"
};

// True where the system can say (GetFinalPathNameByHandleW: Vista and later).
bool CanReadFinalPaths();

// The final path of an open file or folder in the given form; nullopt when
// the system cannot give it.
std::optional<std::wstring> FinalPathOf(HANDLE hFile, FinalPathForm form);

// Opens path (a file or a folder, asking no rights beyond its attributes)
// and reads its final path; nullopt when it cannot be opened or read.
std::optional<std::wstring> FinalPathOf(const std::wstring& path, FinalPathForm form);

// The folder's final path in the first form the system gives, NT first.
struct FolderIdentity {
    std::wstring path;
    FinalPathForm form = FinalPathForm::Nt;
};
std::optional<FolderIdentity> ReadFolderIdentity(const std::wstring& folder);

// Full path of a module of this process (4095 characters at most); the
// executable's with null.
std::wstring GetOwnModulePath(HMODULE hModule);

// The one spelling of a path that every other spelling of it maps to: full,
// long form (no 8.3 names), upper-cased. The path as given (made full) when
// the file system cannot say.
std::wstring CanonicalPath(const std::wstring& path);

// Upper case as NTFS compares names; the text as given when the mapping fails.
std::wstring UpperCase(std::wstring text);
