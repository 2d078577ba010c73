#include "journal/journal_rules.h"

#include <algorithm>
#include <cstddef>
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

std::wstring FolderHash(std::wstring_view canonicalFolder) {
    wchar_t hash[16] = {};
    std::swprintf(hash, 16, L"%08lx", static_cast<unsigned long>(Fnv1a32(canonicalFolder)));
    return hash;
}

std::wstring JournalFileName(std::wstring_view canonicalFolder) {
    return L"agent-" + FolderHash(canonicalFolder) + L".log";
}

std::wstring RotatedJournalName(std::wstring_view fileName, int n) {
    std::wstring name(fileName);
    if (n == 0) return name;
    const size_t dot = name.rfind(L'.');
    const std::wstring generation = L"." + std::to_wstring(n);
    if (dot == std::wstring::npos) return name + generation;
    return name.insert(dot, generation);
}

std::wstring RotatingJournalName(std::wstring_view fileName) {
    std::wstring name(fileName);
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name + L".rotating" : name.insert(dot, L".rotating");
}

namespace {
// Renames one file of a rotation; on failure notes which and why.
bool MoveGeneration(CJournalFiles& files, int from, int to, JournalRotation* held) {
    const uint32_t error = files.Move(from, to, to == kJournalKeptFiles);
    if (error == 0) return true;
    if (held != nullptr) *held = JournalRotation{JournalRotation::Pending, from, error};
    return false;
}
}  // namespace

bool FinishJournalRotation(CJournalFiles& files, JournalRotation* held) {
    if (!files.Exists(kJournalRotating)) return true;
    // The older files move up as far as the first gap; with none, the oldest
    // is replaced.
    int top = 1;
    while (top < kJournalKeptFiles && files.Exists(top)) ++top;
    for (int n = top - 1; n >= 1; --n) {
        if (!MoveGeneration(files, n, n + 1, held)) return false;
    }
    return MoveGeneration(files, kJournalRotating, 1, held);
}

JournalRotation RotateJournal(CJournalFiles& files) {
    JournalRotation rotation;
    if (!FinishJournalRotation(files, &rotation)) {
        rotation.result = JournalRotation::PutOff;
        return rotation;
    }
    if (const uint32_t error = files.Move(0, kJournalRotating, false))
        return JournalRotation{JournalRotation::PutOff, 0, error};
    if (!FinishJournalRotation(files, &rotation)) return rotation;
    return JournalRotation{};
}

std::wstring RotationTroubleText(const JournalRotation& rotation, std::wstring_view fileName) {
    const std::wstring held = rotation.heldGeneration == kJournalRotating
                                  ? RotatingJournalName(fileName)
                                  : RotatedJournalName(fileName, rotation.heldGeneration);
    const std::wstring why = held + L" could not be renamed (error " + std::to_wstring(rotation.error) +
                             L", held open by another program?); ";
    if (rotation.result == JournalRotation::PutOff)
        return L"journal: rotation put off: " + why + std::wstring(fileName) +
               L" grows on and the rotation is tried again after each further 1 MiB";
    return L"journal: rotation unfinished: " + why + L"the previous entries stay in " +
           RotatingJournalName(fileName) + L" until the next rotation";
}

std::wstring LiveFileGoneText(std::wstring_view fileName) {
    return L"journal: the previous " + std::wstring(fileName) +
           L" was deleted or renamed while it was written; a new one begins here";
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

void CJournalBlock::Truncate(size_t count) {
    if (count >= m_entries.size()) return;
    m_text.resize(m_entries[count].offset);
    m_entries.resize(count);
}

void CJournalBlock::EraseFront(size_t count) {
    if (count == 0) return;
    if (count >= m_entries.size()) {
        Clear();
        return;
    }
    const size_t offset = m_entries[count].offset;
    m_text.erase(0, offset);
    m_entries.erase(m_entries.begin(), m_entries.begin() + static_cast<std::ptrdiff_t>(count));
    for (Entry& entry : m_entries) entry.offset -= offset;
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
    if (m_block.Size() < kMaxEntries && m_block.Chars() + text.size() <= m_nMaxChars) {
        try {
            m_block.ReserveUpTo(m_block.Chars() + text.size(), kMaxChars);
            m_block.Append(stamp, source, text);
            return true;
        } catch (const std::bad_alloc&) {
            // No memory for it: lost like an entry that finds the queue full,
            // rather than an error thrown into the output path.
        }
    }
    CountLost(1, stamp, stamp);
    return false;
}

void CJournalQueue::TakeAll(CJournalBlock& block) {
    block.Clear();
    m_block.Swap(block);
}

bool CJournalQueue::PutBack(CJournalBlock& block) {
    if (!m_block.Empty()) return false;
    m_block.Swap(block);
    SetMaxChars(m_nMaxChars);  // what the file gave back may pass a lowered bound
    return true;
}

void CJournalQueue::SetMaxChars(size_t maxChars) {
    m_nMaxChars = maxChars;
    if (m_block.Chars() <= maxChars) return;
    // The first entry that ends past the bound, and all after it, go.
    size_t keep = 0;
    while (keep < m_block.Size() && m_block[keep].offset + m_block[keep].length <= maxChars) ++keep;
    CountLost(m_block.Size() - keep, m_block[keep].stamp, m_block[m_block.Size() - 1].stamp);
    m_block.Truncate(keep);
}

void CJournalQueue::CountLost(uint64_t count, uint64_t first, uint64_t last) {
    if (count == 0) return;
    m_firstLost = m_nLost == 0 ? first : std::min(m_firstLost, first);
    m_lastLost = m_nLost == 0 ? last : std::max(m_lastLost, last);
    m_nLost += count;
}

uint64_t CJournalQueue::TakeLost(uint64_t& first, uint64_t& last) {
    const uint64_t lost = m_nLost;
    first = m_firstLost;
    last = m_lastLost;
    m_nLost = 0;
    return lost;
}
