#include "supervision/exit_texts.h"

#include "supervision/exit_code_rules.h"

namespace {

// The message-table text for id, from module (or the system's when null).
std::wstring MessageText(HMODULE module, DWORD id) {
    const DWORD source = module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | source | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     module, id, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
    if (buffer != nullptr) ::LocalFree(buffer);
    return text;
}

}  // namespace

std::wstring AgentExitCodeName(DWORD exitCode) {
    const std::wstring_view known = KnownExitCodeName(exitCode);
    if (!known.empty()) return std::wstring(known);
    if (!IsStatusCode(exitCode)) return std::wstring();
    return StatusNameFromMessage(MessageText(::GetModuleHandleW(L"ntdll.dll"), exitCode));
}

std::wstring DescribeAgentExitCode(DWORD exitCode) {
    return DescribeExitCode(exitCode, AgentExitCodeName(exitCode));
}

std::wstring LaunchErrorText(DWORD error, const std::wstring& agentPath) {
    std::wstring text = FillErrorInserts(MessageText(nullptr, error), agentPath);
    return text.empty() ? std::wstring(L"unknown error") : text;
}
