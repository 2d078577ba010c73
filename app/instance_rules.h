// Win32-free rules of the entry: the command-line word scan and the test
// that decides whether a window belongs to a running supervisor.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// True when one of the words equals word exactly (whole word, case-sensitive).
bool HasCommandWord(const std::vector<std::wstring>& words, std::wstring_view word);

// The instance name that every session of the machine sees: "Global\\",
// the product, the user's SID in its string form and eight hex digits of
// the hash of the folder's identity path. Its length does not grow with the
// folder, so a deep installation is guarded too; the SID keeps two users'
// supervisors of one folder apart (the output pipe decides between them).
std::wstring MakeGlobalInstanceName(std::wstring_view userSid, std::wstring_view folderIdentity);

// The file under the user's own local application data whose holder is the
// user's supervisor of the installation, in every session:
// "instance-<the eight hex digits of the global name>.lock".
std::wstring InstanceLockFileName(std::wstring_view folderIdentity);

// What a start makes of an instance name that another holds. With the
// user's lock ours (bLockOurs), no supervisor of this user runs anywhere, so
// the name is another program's and is passed by; except a name of this
// session that we may open, which a supervisor from before the lock may
// hold: its window is awaited, or its end. Without the lock (its folder
// cannot be had) the name decides as before.
enum class HeldName { PassBy, AwaitWindowOrEnd, AwaitWindow };
HeldName JudgeHeldName(bool bLockOurs, bool bGlobalName, bool bMayOpenName);

// Equality that ignores the case of ASCII letters; other units compare exactly.
bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);

// What a running supervisor's window must look like. An empty field skips
// that test, as a null field of the search record does.
struct InstanceWindowRule {
    std::optional<std::wstring> className;
    std::optional<std::wstring> title;
    std::optional<std::wstring> modulePath;
};

// One candidate window as read through the platform; a field that could not
// be read (or read as empty) is nullopt.
struct WindowCandidate {
    std::optional<std::wstring> className;
    std::optional<std::wstring> title;
    std::optional<std::wstring> modulePath;
};

// Each stage is tested separately so the caller can skip the costly reads
// (opening the process) once an earlier stage has failed.
bool ClassMatches(const InstanceWindowRule& rule, const std::optional<std::wstring>& className);
bool TitleMatches(const InstanceWindowRule& rule, const std::optional<std::wstring>& title);
bool ModulePathMatches(const InstanceWindowRule& rule, const std::optional<std::wstring>& modulePath);
bool MatchesInstanceWindow(const InstanceWindowRule& rule, const WindowCandidate& candidate);
