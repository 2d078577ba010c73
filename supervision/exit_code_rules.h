// Words for the numbers an agent's end leaves behind: exit codes and the
// system's error texts. No Win32 here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The name of an exit code agents commonly die with; empty when the code is
// not one of them.
std::wstring_view KnownExitCodeName(uint32_t code);

// True for a code with a severity (warning, error or information): the only
// codes worth looking up in the system's status texts.
bool IsStatusCode(uint32_t code);

// A status text as the system's message table gives it, made fit for a name:
// its first line, trimmed; empty when that line still holds an insert ("%")
// or a placeholder ("{").
std::wstring StatusNameFromMessage(std::wstring_view message);

// "3221225477 (0xC0000005, access violation)"; without a name
// "1 (0x00000001)". name comes from KnownExitCodeName or, failing that, from
// the system's status text.
std::wstring DescribeExitCode(uint32_t code, std::wstring_view name);

// An error text with its inserts filled: "%1" becomes file, any other "%n"
// is dropped, and the text is cut to its first line.
std::wstring FillErrorInserts(std::wstring_view message, std::wstring_view file);
