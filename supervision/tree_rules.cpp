#include "supervision/tree_rules.h"

#include <map>

namespace {

wchar_t FoldAscii(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

// A parent id is only a hint: once a parent exits, its id may be handed to a
// newer process. A link is real only if the parent is not younger than the
// child. When either time is unknown the link is not followed, since nothing
// then tells the real parent from a stranger that took its id.
bool IsPlausibleParent(const ProcessRow& parent, const ProcessRow& child) {
    return parent.created != kCreatedUnknown && child.created != kCreatedUnknown &&
           parent.created <= child.created;
}

// "\Device\Name" of a native path: up to its third backslash (or all of it).
std::wstring_view DeviceOf(std::wstring_view path) {
    size_t end = 0;
    for (int i = 0; i < 2 && end != std::wstring_view::npos; ++i) end = path.find(L'\\', end + 1);
    return path.substr(0, end);
}

// The text of needle inside hay, ASCII letters without case.
bool ContainsIgnoringAsciiCase(std::wstring_view hay, std::wstring_view needle) {
    if (needle.size() > hay.size()) return false;
    for (size_t at = 0; at + needle.size() <= hay.size(); ++at) {
        size_t i = 0;
        while (i < needle.size() && FoldAscii(hay[at + i]) == FoldAscii(needle[i])) ++i;
        if (i == needle.size()) return true;
    }
    return false;
}

}  // namespace

NativeVerdict JudgeNativeImage(std::wstring_view imageNative, std::wstring_view dirNative) {
    const std::wstring_view device = DeviceOf(dirNative);
    if (device.empty()) return NativeVerdict::NotUnder;
    if (device.size() == DeviceOf(imageNative).size() &&
        IsUnderAgentDir(imageNative.substr(0, device.size()), device))
        return IsUnderAgentDir(imageNative, dirNative) ? NativeVerdict::Under : NativeVerdict::NotUnder;
    // The directory's last two names, as "\Sup\bin\".
    std::wstring_view tail = dirNative;
    while (!tail.empty() && tail.back() == L'\\') tail.remove_suffix(1);
    size_t cut = tail.size();
    for (int names = 0; names < 2 && cut != std::wstring_view::npos && cut > device.size(); ++names)
        cut = tail.rfind(L'\\', cut - 1);
    if (cut == std::wstring_view::npos || cut < device.size()) cut = device.size();
    const std::wstring needle = std::wstring(tail.substr(cut)) + L"\\";
    return ContainsIgnoringAsciiCase(imageNative, needle) ? NativeVerdict::AskFileSystem
                                                          : NativeVerdict::NotUnder;
}

std::wstring NormalizeSeparators(std::wstring_view path) {
    std::wstring out;
    out.reserve(path.size());
    // "//" pairs first, scanning left to right as repeated replacement would.
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == L'/' && i + 1 < path.size() && path[i + 1] == L'/') {
            out += L'\\';
            ++i;
        } else {
            out += path[i];
        }
    }
    // Then every run of backslashes collapses to one.
    std::wstring collapsed;
    collapsed.reserve(out.size());
    for (wchar_t ch : out) {
        if (ch == L'\\' && !collapsed.empty() && collapsed.back() == L'\\') continue;
        collapsed += ch;
    }
    return collapsed;
}

bool IsUnderAgentDir(std::wstring_view path, std::wstring_view agentDir) {
    // The directory goes through the same normalisation, which leaves an
    // ordinary directory unchanged and lets a UNC one ("\\server\share\bin")
    // match the collapsed process path.
    const std::wstring p = NormalizeSeparators(path);
    const std::wstring d = NormalizeSeparators(agentDir);
    if (d.empty() || p.size() < d.size()) return false;
    for (size_t i = 0; i < d.size(); ++i) {
        if (FoldAscii(p[i]) != FoldAscii(d[i])) return false;
    }
    // The folder itself or what lies in it: a sibling that only begins with
    // the folder's name ("bin - Copy", "bin.old", "binaries") is the user's.
    return p.size() == d.size() || d.back() == L'\\' || p[d.size()] == L'\\';
}

std::set<uint32_t> SelectAgentTree(const std::vector<ProcessRow>& rows, std::wstring_view agentDir,
                                   uint32_t selfPid, const std::vector<ProcessRow>& ended) {
    // Parent table, ascending by id; a repeated id keeps its first row.
    std::map<uint32_t, const ProcessRow*> table;
    for (const ProcessRow& row : rows) table.emplace(row.pid, &row);

    // By path.
    std::set<uint32_t> kill;
    for (const auto& [pid, row] : table) {
        if (row->inAgentDir || (row->path && IsUnderAgentDir(*row->path, agentDir))) kill.insert(pid);
    }

    // Already ended: still there while it goes away, or gone and standing in
    // for itself as the parent of what it left behind.
    for (const ProcessRow& gone : ended) {
        const auto [it, added] = table.emplace(gone.pid, &gone);
        if (added || it->second->created == gone.created) kill.insert(gone.pid);
    }

    // Descendants. The kill set grows during the walk, so a later entry also
    // finds ancestors that an earlier entry of this walk added.
    for (const auto& [pid, row] : table) {
        if (pid == 0 || pid == row->ppid) continue;
        const ProcessRow* walker = row;
        for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
            if (walker->pid == 0 || walker->pid == walker->ppid) break;
            const auto parent = table.find(walker->ppid);
            if (parent == table.end() || !IsPlausibleParent(*parent->second, *walker)) break;
            if (kill.count(walker->ppid) != 0) {
                kill.insert(pid);
                break;
            }
            walker = parent->second;
        }
    }

    kill.erase(0);
    kill.erase(selfPid);
    return kill;
}
