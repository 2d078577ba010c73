// The name rule shared by the instance mutex and the output pipe: both are
// derived from a full path so that one installation maps to one name.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::wstring_view kNameSuffix = L"_MariskAgentNamedPipe_1234567890_";

// Every backslash, colon and forward slash becomes "_", then the suffix follows.
std::wstring ApplyNameRule(std::wstring_view path);

// Instance mutex name for the supervisor's own executable path.
std::wstring MakeInstanceName(std::wstring_view ownPath);

// Second instance mutex name, for the canonical (long-form, case-folded)
// path of the same executable: every spelling of one installation meets on
// it. Never equal to an instance name.
std::wstring MakeCanonicalInstanceName(std::wstring_view canonicalPath);

// Output pipe name for the agent's full path: "\\.\pipe\" + rule.
std::wstring MakePipeName(std::wstring_view agentPath);

// The system's limits on these names. A longer pipe name is refused by
// CreateNamedPipeW; a longer mutex name by CreateMutexW. Both grow with the
// installation folder, so a deep enough folder cannot have them.
inline constexpr size_t kMaxPipeNameChars = 256;
inline constexpr size_t kMaxObjectNameChars = 259;  // MAX_PATH less the terminating zero
inline bool PipeNameFits(std::wstring_view name) { return name.size() <= kMaxPipeNameChars; }
inline bool ObjectNameFits(std::wstring_view name) {
    return !name.empty() && name.size() <= kMaxObjectNameChars;
}
