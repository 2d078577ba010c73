#include "framework/file_identity.h"

#include <vector>

#include "framework/handle.h"

namespace {

using GetFinalPathNameByHandleFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Looked up once: the 32-bit build must still load where the call is missing.
GetFinalPathNameByHandleFn FinalPathQuery() {
    static const GetFinalPathNameByHandleFn query =
        reinterpret_cast<GetFinalPathNameByHandleFn>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    return query;
}

constexpr DWORD kFileNameNormalized = 0x0;  // FILE_NAME_NORMALIZED
constexpr DWORD kVolumeNameDos = 0x0;       // VOLUME_NAME_DOS
constexpr DWORD kVolumeNameNt = 0x2;        // VOLUME_NAME_NT

}  // namespace

bool CanReadFinalPaths() { return FinalPathQuery() != nullptr; }

std::optional<std::wstring> FinalPathOf(HANDLE hFile, FinalPathForm form) {
    const GetFinalPathNameByHandleFn query = FinalPathQuery();
    if (query == nullptr) return std::nullopt;
    const DWORD flags = kFileNameNormalized | (form == FinalPathForm::Nt ? kVolumeNameNt : kVolumeNameDos);
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = query(hFile, buffer.data(), static_cast<DWORD>(buffer.size()), flags);
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.assign(n + 1, L'\0');  // n is the size needed, its zero included
    }
    return std::nullopt;
}

std::optional<std::wstring> FinalPathOf(const std::wstring& path, FinalPathForm form) {
    if (!CanReadFinalPaths()) return std::nullopt;
    // Attributes only, every sharing mode: a running program's image and a
    // folder in use open this way; backup semantics let a folder open at all.
    CFileHandle hFile(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!hFile) return std::nullopt;
    return FinalPathOf(hFile.get(), form);
}

std::optional<FolderIdentity> ReadFolderIdentity(const std::wstring& folder) {
    for (const FinalPathForm form : {FinalPathForm::Nt, FinalPathForm::Dos}) {
        if (auto path = FinalPathOf(folder, form)) return FolderIdentity{std::move(*path), form};
    }
    return std::nullopt;
}

namespace {
constexpr DWORD kPathCapacity = 2048;
constexpr DWORD kModulePathCapacity = 4096;
}  // namespace

std::wstring GetOwnModulePath(HMODULE hModule) {
    std::vector<wchar_t> buffer(kModulePathCapacity, L'\0');
    const DWORD n = ::GetModuleFileNameW(hModule, buffer.data(), kModulePathCapacity);
    return std::wstring(buffer.data(), n < kModulePathCapacity ? n : kModulePathCapacity - 1);
}

// Upper case as NTFS compares names: the file system's own case rule, not
// only ASCII. The text as given when the mapping fails.
std::wstring UpperCase(std::wstring text) {
    if (text.empty()) return text;
    std::wstring upper(text.size(), L'\0');
    const int m = ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.c_str(),
                                 static_cast<int>(text.size()), &upper[0], static_cast<int>(upper.size()));
    return m == static_cast<int>(upper.size()) ? upper : text;
}

std::wstring CanonicalPath(const std::wstring& path) {
    std::wstring full(kPathCapacity, L'\0');
    DWORD n = ::GetFullPathNameW(path.c_str(), kPathCapacity, &full[0], nullptr);
    full.resize(n > 0 && n < kPathCapacity ? n : 0);
    if (full.empty()) full = path;
    std::wstring longForm(kPathCapacity, L'\0');
    n = ::GetLongPathNameW(full.c_str(), &longForm[0], kPathCapacity);
    longForm.resize(n > 0 && n < kPathCapacity ? n : 0);
    if (longForm.empty()) longForm = full;
    return UpperCase(longForm);
}
