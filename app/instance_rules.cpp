#include "app/instance_rules.h"

#include <algorithm>

#include "journal/journal_rules.h"

namespace {
wchar_t FoldAscii(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

bool ReadAndNonEmpty(const std::optional<std::wstring>& text) { return text.has_value() && !text->empty(); }
}  // namespace

bool HasCommandWord(const std::vector<std::wstring>& words, std::wstring_view word) {
    return std::any_of(words.begin(), words.end(), [word](const std::wstring& w) { return w == word; });
}

std::wstring MakeGlobalInstanceName(std::wstring_view userSid, std::wstring_view folderIdentity) {
    return L"Global\\QuorvelTollvane_" + std::wstring(userSid) + L"_" + FolderHash(folderIdentity);
}

std::wstring InstanceLockFileName(std::wstring_view folderIdentity) {
    return L"instance-" + FolderHash(folderIdentity) + L".lock";
}

HeldName JudgeHeldName(bool bLockOurs, bool bGlobalName, bool bMayOpenName) {
    if (bLockOurs && (bGlobalName || !bMayOpenName)) return HeldName::PassBy;
    return bMayOpenName ? HeldName::AwaitWindowOrEnd : HeldName::AwaitWindow;
}

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

bool ClassMatches(const InstanceWindowRule& rule, const std::optional<std::wstring>& className) {
    if (!rule.className) return true;
    return ReadAndNonEmpty(className) && *className == *rule.className;
}

bool TitleMatches(const InstanceWindowRule& rule, const std::optional<std::wstring>& title) {
    if (!rule.title) return true;
    return ReadAndNonEmpty(title) && *title == *rule.title;
}

bool ModulePathMatches(const InstanceWindowRule& rule, const std::optional<std::wstring>& modulePath) {
    if (!rule.modulePath) return true;
    return ReadAndNonEmpty(modulePath) && EqualsIgnoringAsciiCase(*modulePath, *rule.modulePath);
}

bool MatchesInstanceWindow(const InstanceWindowRule& rule, const WindowCandidate& candidate) {
    return ClassMatches(rule, candidate.className) && TitleMatches(rule, candidate.title) &&
           ModulePathMatches(rule, candidate.modulePath);
}
