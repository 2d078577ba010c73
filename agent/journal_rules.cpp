#include "agent/journal_rules.h"

#include <cstdio>

uint32_t Fnv1a32(std::wstring_view text) {
    uint32_t hash = 2166136261u;
    for (wchar_t ch : text) {
        const uint32_t unit = static_cast<uint32_t>(ch) & 0xFFFFu;
        for (uint32_t byte : {unit & 0xFFu, unit >> 8}) {
            hash ^= byte;
            hash *= 16777619u;
        }
    }
    return hash;
}

std::wstring JournalFileName(std::wstring_view canonicalFolder) {
    wchar_t name[32] = {};
    std::swprintf(name, 32, L"agent-%08lx.log", static_cast<unsigned long>(Fnv1a32(canonicalFolder)));
    return name;
}

std::wstring RotatedJournalName(std::wstring_view fileName, int n) {
    std::wstring name(fileName);
    if (n == 0) return name;
    const size_t dot = name.rfind(L'.');
    const std::wstring generation = L"." + std::to_wstring(n);
    if (dot == std::wstring::npos) return name + generation;
    return name.insert(dot, generation);
}

namespace {
// Writes value as exactly n decimal digits; every entry has a time, so this
// is on the writer's hot path.
void PutDigits(std::wstring& out, int value, int n) {
    wchar_t digits[8];
    for (int i = n - 1; i >= 0; --i) {
        digits[i] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<size_t>(n));
}

// Appends "2026-12-08 14:03:07.215" to out.
void AppendJournalTime(std::wstring& out, const JournalTime& t) {
    const struct {
        int value, digits;
        wchar_t after;  // 0: none
    } fields[] = {{t.year, 4, L'-'},   {t.month, 2, L'-'},  {t.day, 2, L' '},    {t.hour, 2, L':'},
                  {t.minute, 2, L':'}, {t.second, 2, L'.'}, {t.millis, 3, L'\0'}};
    for (const auto& field : fields) {
        PutDigits(out, field.value, field.digits);
        if (field.after != L'\0') out += field.after;
    }
}

// The first CR or LF at or after pos, or the text's size. A plain loop: the
// library's find_first_of tests every character against the set through a
// call of its own, and the writer runs this over every character it writes.
size_t FindLineBreak(std::wstring_view text, size_t pos) {
    while (pos < text.size() && text[pos] != L'\n' && text[pos] != L'\r') ++pos;
    return pos;
}
}  // namespace

std::wstring FormatJournalTime(const JournalTime& t) {
    std::wstring text;
    text.reserve(23);
    AppendJournalTime(text, t);
    return text;
}

std::wstring FormatJournalEntry(const JournalTime& t, std::wstring_view source, std::wstring_view text) {
    std::wstring entry;
    AppendJournalEntry(entry, t, source, text);
    return entry;
}

void AppendJournalEntry(std::wstring& out, const JournalTime& t, std::wstring_view source,
                        std::wstring_view text) {
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.remove_suffix(1);
    AppendJournalTime(out, t);
    out += L" [";
    out += source;
    out += L"] ";
    // Runs between line breaks go in whole.
    size_t pos = 0;
    for (;;) {
        const size_t brk = FindLineBreak(text, pos);
        out.append(text.data() + pos, brk - pos);
        if (brk == text.size()) break;
        out += L"\r\n  ";
        pos = brk + (text[brk] == L'\r' && brk + 1 < text.size() && text[brk + 1] == L'\n' ? 2 : 1);
    }
    out += L"\r\n";
}

std::wstring LostEntriesText(uint64_t count, const JournalTime& first, const JournalTime& last) {
    return L"journal: " + std::to_wstring(count) + L" entries lost between " + FormatJournalTime(first) +
           L" and " + FormatJournalTime(last) + L" (the disk did not keep up)";
}

bool CJournalQueue::Push(JournalEntry entry) {
    if (m_entries.size() >= kMaxEntries || m_nChars + entry.text.size() > kMaxChars) {
        if (m_nLost == 0) m_firstLost = entry.stamp;
        m_lastLost = entry.stamp;
        ++m_nLost;
        return false;
    }
    m_nChars += entry.text.size();
    m_entries.push_back(std::move(entry));
    return true;
}

void CJournalQueue::TakeAll(std::vector<JournalEntry>& out) {
    out.reserve(out.size() + m_entries.size());
    for (JournalEntry& entry : m_entries) out.push_back(std::move(entry));
    m_entries.clear();
    m_nChars = 0;
}

void CJournalQueue::PutBack(std::vector<JournalEntry>& entries) {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        m_nChars += it->text.size();
        m_entries.push_front(std::move(*it));
    }
    entries.clear();
}

uint64_t CJournalQueue::TakeLost(uint64_t& first, uint64_t& last) {
    const uint64_t lost = m_nLost;
    first = m_firstLost;
    last = m_lastLost;
    m_nLost = 0;
    return lost;
}
