#include "watchdog/watchdog_rules.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

size_t MemoryChoiceCount(bool b64Bit) {
    return b64Bit ? kMemoryMbChoices.size() : kMemoryMbChoices.size() - 1;
}

namespace {

bool SameName(const std::wstring& a, const wchar_t* b) {
    const size_t n = std::wcslen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

// A value's number within [low, high], or a complaint naming it.
bool TakeNumber(const RegistryValue& value, uint32_t low, uint32_t high, uint32_t& out,
                std::vector<std::wstring>& complaints) {
    if (!value.bDword) {
        complaints.push_back(L"setting " + value.name + L" ignored: not a DWORD");
        return false;
    }
    if (value.data != 0 && (value.data < low || value.data > high)) {
        complaints.push_back(L"setting " + value.name + L" ignored: " + std::to_wstring(value.data) +
                             L" is out of range (0 or " + std::to_wstring(low) + L" to " +
                             std::to_wstring(high) + L")");
        return false;
    }
    out = value.data;
    return true;
}

}  // namespace

WatchdogSettings ReadWatchdogSettings(const std::vector<RegistryValue>& values,
                                      std::vector<std::wstring>& complaints) {
    WatchdogSettings settings;
    bool bSeconds = false;
    uint32_t minutes = 0;
    for (const RegistryValue& value : values) {
        uint32_t number = 0;
        if (SameName(value.name, kSilentMinutesValue)) {
            if (TakeNumber(value, 1, kMaxSilentMinutes, number, complaints)) minutes = number;
        } else if (SameName(value.name, kSilentSecondsValue)) {
            if (TakeNumber(value, 1, kMaxSilentSeconds, number, complaints)) {
                settings.silentSeconds = number;
                bSeconds = true;
            }
        } else if (SameName(value.name, kMemoryMbValue)) {
            if (TakeNumber(value, kMinMemoryMb, kMaxMemoryMb, number, complaints)) settings.memoryMb = number;
        } else {
            complaints.push_back(L"setting " +
                                 (value.name.empty() ? std::wstring(L"(default)") : value.name) +
                                 L" ignored: unknown");
        }
    }
    if (!bSeconds) settings.silentSeconds = minutes * 60;
    return settings;
}

void CSilenceClock::OnAgentStarted(uint64_t nowMs) {
    m_bRunning = true;
    m_bAsked = false;
    m_lastMs = nowMs;
}

void CSilenceClock::OnMessage(uint64_t atMs) { m_lastMs = std::max(m_lastMs, atMs); }

// The sleep-free clock stood still while the machine slept, but what the
// agent waited for may not have: it gets a full period again.
void CSilenceClock::OnResume(uint64_t nowMs) { m_lastMs = std::max(m_lastMs, nowMs); }

uint64_t CSilenceClock::Deadline(uint32_t silentSeconds) const {
    if (silentSeconds == 0 || !m_bRunning || m_bAsked) return 0;
    return m_lastMs + uint64_t{silentSeconds} * 1000;
}

bool CSilenceClock::IsDue(uint64_t nowMs, uint32_t silentSeconds) const {
    const uint64_t deadline = Deadline(silentSeconds);
    return deadline != 0 && nowMs >= deadline;
}

MemoryVerdict JudgeMemory(const std::vector<ProcessMemory>& processes, uint32_t boundMb) {
    MemoryVerdict verdict;
    for (const ProcessMemory& p : processes) {
        verdict.totalBytes += p.privateBytes;
        if (verdict.top.pid == 0 || p.privateBytes > verdict.top.privateBytes) verdict.top = p;
    }
    verdict.bOver = boundMb != 0 && verdict.totalBytes > uint64_t{boundMb} * 1024 * 1024;
    return verdict;
}

std::wstring SilenceAmount(uint32_t silentSeconds) {
    if (silentSeconds % 60 == 0) return std::to_wstring(silentSeconds / 60) + L" min";
    return std::to_wstring(silentSeconds) + L" s";
}

std::wstring MemoryAmount(uint64_t megabytes) {
    if (megabytes < 1024) return std::to_wstring(megabytes) + L" MB";
    const uint64_t tenths = megabytes * 10 / 1024;
    std::wstring text = std::to_wstring(tenths / 10);
    if (tenths % 10 != 0) text += L"." + std::to_wstring(tenths % 10);
    return text + L" GB";
}

std::wstring BytesAmount(uint64_t bytes) { return MemoryAmount(bytes / (1024 * 1024)); }

namespace {

std::wstring Fill(std::wstring text, const wchar_t* mark, const std::wstring& value) {
    const size_t at = text.find(mark);
    if (at != std::wstring::npos) text.replace(at, std::wcslen(mark), value);
    return text;
}

}  // namespace

std::wstring WatchingLine(const WatchingTexts& texts, const WatchdogSettings& settings) {
    std::wstring what;
    if (settings.silentSeconds != 0)
        what = Fill(texts.silence, L"{amount}", SilenceAmount(settings.silentSeconds));
    if (settings.memoryMb != 0) {
        if (!what.empty()) what += L", ";
        what += Fill(texts.memory, L"{amount}", MemoryAmount(settings.memoryMb));
    }
    return what.empty() ? std::wstring() : Fill(texts.whole, L"{what}", what);
}

std::wstring InstallationId(const std::string& idFileText, const std::wstring& folderHash) {
    std::string id =
        idFileText.substr(0, std::min<size_t>(idFileText.find_first_of("\r\n "), idFileText.size()));
    const bool bHex = id.size() == 8 && std::all_of(id.begin(), id.end(), [](char c) {
                          return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
                      });
    if (bHex) {
        std::wstring wide(id.begin(), id.end());
        std::transform(wide.begin(), wide.end(), wide.begin(), [](wchar_t c) { return std::towlower(c); });
        return wide;
    }
    return folderHash;
}

std::wstring SettingsKeyPath(const std::wstring& installationId) {
    return L"Software\\QuorvelTollvane\\" + installationId;
}
