// Which processes make up the agent's tree. No Win32 here: the caller takes
// the process snapshot and ends what this selects.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// One process of a snapshot.
struct ProcessRow {
    uint32_t pid = 0;
    uint32_t ppid = 0;
    // Full path of the main executable as the platform gave it; empty when it
    // could not be read.
    std::optional<std::wstring> path;
    // Creation time in 100 ns units; kCreatedUnknown when it could not be read.
    uint64_t created = 0;
    // Set by the caller when the file system says the executable lies in the
    // agent directory however its path is spelled, and for the agent it
    // launched itself: selected whatever path says.
    bool inAgentDir = false;
};

inline constexpr uint64_t kCreatedUnknown = 0;
// How many ancestors up a process may be from a selected one.
inline constexpr int kMaxTreeDepth = 30;

// "//" becomes "\" and every run of backslashes becomes one.
std::wstring NormalizeSeparators(std::wstring_view path);

// True when path, normalised, is agentDir or lies below it (agentDir
// followed by "\"), ASCII letters compared without regard to case:
// "...\bin" takes "...\bin\tools\x.exe" but not "...\binaries\x.exe".
bool IsUnderAgentDir(std::wstring_view path, std::wstring_view agentDir);

// How an executable's native path ("\Device\HarddiskVolume3\Sup\bin\a.exe")
// stands to the agent directory's final native path. Paths on one device
// compare as text (ASCII letters without case, the folder test above).
// Paths on two devices are apart, unless the executable's path holds the
// directory's last two names: then one device may be another's way to the
// same files (a mapped network drive beside the redirector's own name), and
// only the file system can tell.
enum class NativeVerdict { Under, NotUnder, AskFileSystem };
NativeVerdict JudgeNativeImage(std::wstring_view imageNative, std::wstring_view dirNative);

// The processes to end, ascending by id: every process marked inAgentDir or
// whose executable lies under agentDir and every process up to kMaxTreeDepth generations below one
// of those. Never 0 and never selfPid (whose descendants are still taken).
//
// ended lists processes that were ended after an earlier snapshot of the same
// kill. They count as selected even when they are gone from rows, so that a
// child one of them started just before its end is still found through its
// parent id. One whose id now belongs to another process (a different
// creation time) is left out.
std::set<uint32_t> SelectAgentTree(const std::vector<ProcessRow>& rows, std::wstring_view agentDir,
                                   uint32_t selfPid, const std::vector<ProcessRow>& ended = {});
