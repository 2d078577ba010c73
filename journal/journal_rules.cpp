#include "journal/journal_rules.h"

#include <algorithm>
#include <cstdio>
#include <new>

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

void CJournalBlock::Append(uint64_t stamp, const wchar_t* source, std::wstring_view text) {
    m_entries.push_back(Entry{stamp, source, m_text.size(), text.size()});
    try {
        m_text.append(text);
    } catch (...) {
        m_entries.pop_back();  // the block stays as it was
        throw;
    }
}

void CJournalBlock::AppendFrom(const CJournalBlock& other, size_t from) {
    for (size_t i = from; i < other.Size(); ++i)
        Append(other[i].stamp, other[i].source, other.TextOf(other[i]));
}

void CJournalBlock::ReserveUpTo(size_t chars, size_t limit) {
    // Doubling, as the buffer would grow by itself, but never past the
    // limit: the queue's bound in characters is then its bound in memory.
    // A fresh buffer: reserve on the old one may round up to twice its size.
    if (chars <= m_text.capacity()) return;
    std::wstring grown;
    grown.reserve(std::min(std::max(chars, 2 * m_text.capacity()), std::max(chars, limit)));
    grown.append(m_text);
    m_text.swap(grown);
}

void CJournalBlock::Clear() {
    m_entries.clear();
    m_text.clear();
}

void CJournalBlock::Release() {
    std::vector<Entry>().swap(m_entries);
    std::wstring().swap(m_text);
}

void CJournalBlock::Swap(CJournalBlock& other) noexcept {
    m_entries.swap(other.m_entries);
    m_text.swap(other.m_text);
}

bool CJournalQueue::Push(uint64_t stamp, const wchar_t* source, std::wstring_view text) {
    if (m_block.Size() < kMaxEntries && m_block.Chars() + text.size() <= kMaxChars) {
        try {
            m_block.ReserveUpTo(m_block.Chars() + text.size(), kMaxChars);
            m_block.Append(stamp, source, text);
            return true;
        } catch (const std::bad_alloc&) {
            // No memory for it: lost like an entry that finds the queue full,
            // rather than an error thrown into the output path.
        }
    }
    if (m_nLost == 0) m_firstLost = stamp;
    m_lastLost = stamp;
    ++m_nLost;
    return false;
}

void CJournalQueue::TakeAll(CJournalBlock& block) {
    block.Clear();
    m_block.Swap(block);
}

void CJournalQueue::PutBack(const CJournalBlock& block, size_t from) {
    CJournalBlock merged;
    merged.ReserveUpTo(block.Chars() + m_block.Chars(), block.Chars() + m_block.Chars());
    merged.AppendFrom(block, from);
    merged.AppendFrom(m_block, 0);
    m_block.Swap(merged);
}

uint64_t CJournalQueue::TakeLost(uint64_t& first, uint64_t& last) {
    const uint64_t lost = m_nLost;
    first = m_firstLost;
    last = m_lastLost;
    m_nLost = 0;
    return lost;
}
