// Facts about this system and the agent's file for a diagnostics bundle.
// Any thread.
#pragma once

#include <windows.h>

#include <string>

#include "diagnostics/bundle_rules.h"

// "10.0.19045 (build 19045, service pack none)": what the system itself
// says, not what a compatibility layer tells the program.
std::wstring WindowsVersionText();
// "en-US (0409)": the user-interface language the string tables follow.
std::wstring UiLanguageText();
// The file's version, size and SHA-256, read shared with whoever holds it.
AgentFileFacts ReadAgentFileFacts(const std::wstring& path);
// Lower-case hex SHA-256 of a file by the system's cryptographic provider;
// empty (and *pError set) when the file or the provider cannot be read.
std::wstring FileSha256(const std::wstring& path, DWORD* pError);
