// Splitting the command line into words.
#pragma once

#include <string>
#include <vector>

// The words of lpCmdLine as CommandLineToArgvW splits them; none on failure.
std::vector<std::wstring> SplitCommandLine(const wchar_t* lpCmdLine);
