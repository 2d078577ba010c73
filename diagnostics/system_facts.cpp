#include "diagnostics/system_facts.h"

#include <wincrypt.h>

#include <cwchar>
#include <vector>

#include "framework/handle.h"

namespace {
struct CCryptProvider {
    HCRYPTPROV h = 0;
    ~CCryptProvider() {
        if (h != 0) ::CryptReleaseContext(h, 0);
    }
};
struct CCryptHash {
    HCRYPTHASH h = 0;
    ~CCryptHash() {
        if (h != 0) ::CryptDestroyHash(h);
    }
};

std::wstring Hex(const unsigned char* bytes, size_t size) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

std::wstring FileVersionOf(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::wstring();
    std::vector<unsigned char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) ||
        info == nullptr || infoSize < sizeof(VS_FIXEDFILEINFO))
        return std::wstring();
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
}
}  // namespace

std::wstring WindowsVersionText() {
    // RtlGetVersion tells the truth where GetVersionEx answers for the
    // manifest's compatibility.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto fn = ntdll != nullptr ? reinterpret_cast<RtlGetVersionFn>(
                                           reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                                     : nullptr;
    if (fn == nullptr || fn(&info) != 0) return std::wstring();
    std::wstring text = std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion) +
                        L"." + std::to_wstring(info.dwBuildNumber);
    if (info.szCSDVersion[0] != L'\0') text += L" " + std::wstring(info.szCSDVersion);
    SYSTEM_INFO system = {};
    ::GetNativeSystemInfo(&system);
    text += system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? L", 64-bit" : L", 32-bit";
    return text;
}

std::wstring UiLanguageText() {
    const LANGID language = ::GetUserDefaultUILanguage();
    const LCID locale = MAKELCID(language, SORT_DEFAULT);
    wchar_t lang[16] = {}, country[16] = {};
    ::GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, lang, 16);
    ::GetLocaleInfoW(locale, LOCALE_SISO3166CTRYNAME, country, 16);
    wchar_t id[8] = {};
    std::swprintf(id, 8, L"%04x", static_cast<unsigned>(language));
    std::wstring text = lang;
    if (country[0] != L'\0') text += L"-" + std::wstring(country);
    return text + L" (" + id + L")";
}

std::wstring FileSha256(const std::wstring& path, DWORD* pError) {
    *pError = 0;
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    CCryptProvider provider;
    CCryptHash hash;
    if (!file || !::CryptAcquireContextW(&provider.h, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !::CryptCreateHash(provider.h, CALG_SHA_256, 0, 0, &hash.h)) {
        *pError = ::GetLastError();
        return std::wstring();
    }
    std::vector<BYTE> buffer(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ||
            (read > 0 && !::CryptHashData(hash.h, buffer.data(), read, 0))) {
            *pError = ::GetLastError();
            return std::wstring();
        }
        if (read == 0) break;
    }
    BYTE digest[32] = {};
    DWORD digestSize = sizeof(digest);
    if (!::CryptGetHashParam(hash.h, HP_HASHVAL, digest, &digestSize, 0) || digestSize != sizeof(digest)) {
        *pError = ::GetLastError();
        return std::wstring();
    }
    return Hex(digest, sizeof(digest));
}

AgentFileFacts ReadAgentFileFacts(const std::wstring& path) {
    AgentFileFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        facts.error = ::GetLastError();
        return facts;
    }
    facts.bFound = true;
    facts.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    facts.fileVersion = FileVersionOf(path);
    DWORD error = 0;
    facts.sha256 = FileSha256(path, &error);
    return facts;
}
