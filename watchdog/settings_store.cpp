#include "watchdog/settings_store.h"

#include <algorithm>

std::wstring ReadInstallationId(const std::wstring& moduleDir, const std::wstring& folderHash) {
    std::string text;
    CFileHandle file(::CreateFileW((moduleDir + L"installation.id").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) {
        char buffer[16] = {};
        DWORD read = 0;
        if (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) text.assign(buffer, read);
    }
    return InstallationId(text, folderHash);
}

CWatchdogSettingsStore::~CWatchdogSettingsStore() {
    // The wait first: its callback reads the members below.
    m_hWait.reset();
}

WatchdogSettings CWatchdogSettingsStore::Read(std::vector<std::wstring>& complaints) {
    std::vector<RegistryValue> values;
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, m_strKeyPath.c_str(), 0, KEY_QUERY_VALUE, &hKey) ==
        ERROR_SUCCESS) {
        CRegKey key(hKey);
        for (DWORD i = 0;; ++i) {
            wchar_t name[256] = {};
            DWORD nameChars = 256, type = 0, data = 0, size = sizeof(data);
            const LONG result = ::RegEnumValueW(key.get(), i, name, &nameChars, nullptr, &type,
                                                reinterpret_cast<BYTE*>(&data), &size);
            if (result == ERROR_NO_MORE_ITEMS) break;
            RegistryValue value;
            value.name.assign(name, nameChars);
            // More data than a DWORD holds: the wrong type whatever it says.
            value.bDword = result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD);
            value.data = value.bDword ? data : 0;
            if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) continue;
            values.push_back(std::move(value));
        }
    }
    std::vector<std::wstring> now;
    const WatchdogSettings settings = ReadWatchdogSettings(values, now);
    for (const std::wstring& line : now) {
        if (std::find(m_lastComplaints.begin(), m_lastComplaints.end(), line) == m_lastComplaints.end())
            complaints.push_back(line);
    }
    m_lastComplaints = std::move(now);
    return settings;
}

bool CWatchdogSettingsStore::WriteDword(const wchar_t* name, uint32_t value) {
    HKEY hKey = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, m_strKeyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    CRegKey key(hKey);
    const DWORD data = value;
    return ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                            sizeof(data)) == ERROR_SUCCESS;
}

bool CWatchdogSettingsStore::WriteSilentMinutes(uint32_t minutes) {
    if (!WriteDword(kSilentMinutesValue, minutes)) return false;
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, m_strKeyPath.c_str(), 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
        CRegKey key(hKey);
        ::RegDeleteValueW(key.get(), kSilentSecondsValue);
    }
    return true;
}

bool CWatchdogSettingsStore::WriteMemoryMb(uint32_t megabytes) {
    return WriteDword(kMemoryMbValue, megabytes);
}

bool CWatchdogSettingsStore::Watch(HWND hWnd, UINT uMsg) {
    if (m_hWait) return true;
    HKEY hKey = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, m_strKeyPath.c_str(), 0, nullptr, 0, KEY_NOTIFY, nullptr, &hKey,
                          nullptr) != ERROR_SUCCESS)
        return false;
    m_hWatchedKey.reset(hKey);
    m_hChanged.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hChanged) return false;
    m_hWnd = hWnd;
    m_uMsg = uMsg;
    Rearm();
    HANDLE hWait = nullptr;
    if (!::RegisterWaitForSingleObject(&hWait, m_hChanged.get(), &OnKeyChanged, this, INFINITE,
                                       WT_EXECUTEINWAITTHREAD))
        return false;
    m_hWait.reset(hWait);
    return true;
}

void CWatchdogSettingsStore::Rearm() {
    if (!m_hWatchedKey || !m_hChanged) return;
    ::RegNotifyChangeKeyValue(m_hWatchedKey.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, m_hChanged.get(), TRUE);
}

void CALLBACK CWatchdogSettingsStore::OnKeyChanged(void* pv, BOOLEAN /*bTimedOut*/) {
    const auto* self = static_cast<const CWatchdogSettingsStore*>(pv);
    ::PostMessageW(self->m_hWnd, self->m_uMsg, 0, 0);
}
