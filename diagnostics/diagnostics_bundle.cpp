#include "diagnostics/diagnostics_bundle.h"

#include <process.h>

#include <cwchar>
#include <memory>
#include <string_view>
#include <vector>

#include "diagnostics/system_facts.h"
#include "diagnostics/zip_file.h"
#include "framework/handle.h"
#include "framework/utf8.h"

namespace {
// Enough of the journal's end for kBundleLastLines lines of any sane length.
constexpr DWORD kTailBytes = 256 * 1024;

// The file's last bytes, shared with the journal's writer; empty when it
// cannot be read.
std::string ReadTail(const std::wstring& path, DWORD maxBytes) {
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size)) return std::string();
    const LONGLONG from = size.QuadPart > maxBytes ? size.QuadPart - maxBytes : 0;
    LARGE_INTEGER at = {};
    at.QuadPart = from;
    if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return std::string();
    std::string bytes(static_cast<size_t>(size.QuadPart - from), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        !::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        return std::string();
    bytes.resize(read);
    // A cut first line is not one of the lines.
    if (from > 0) {
        const size_t lf = bytes.find('\n');
        bytes.erase(0, lf == std::string::npos ? bytes.size() : lf + 1);
    }
    return bytes;
}

// The journal's last lines: the live file's end, and the previous
// generation's before it when the live file is younger than that.
void ReadLastLines(const std::wstring& folder, const std::vector<std::wstring>& names,
                   DiagnosticsFacts& facts) {
    std::string text;
    for (const std::wstring* name : {&names[0], &names[2]}) {
        text.insert(0, ReadTail(folder + L"\\" + *name, kTailBytes));
        if (LastLines(text, kBundleLastLines).size() < text.size()) break;
    }
    const std::string_view last = LastLines(text, kBundleLastLines);
    size_t count = 0;
    for (char ch : last) count += ch == '\n';
    if (!last.empty() && last.back() != '\n') ++count;
    facts.lastLineCount = count;
    facts.lastLines = FromUtf8(last);
}

std::string EntryName(const std::wstring& fileName) { return "journal/" + ToUtf8(fileName); }
}  // namespace

std::string SummaryFileBytes(const std::wstring& summary) { return "\xEF\xBB\xBF" + ToUtf8(summary); }

DWORD WriteDiagnosticsBundle(DiagnosticsRequest request) {
    DiagnosticsFacts& facts = request.facts;
    if (facts.created.empty()) {
        const ZipTime now = ZipTimeNow();
        wchar_t text[32] = {};
        std::swprintf(text, 32, L"%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                      now.minute, now.second);
        facts.created = text;
    }
    if (facts.windowsVersion.empty()) facts.windowsVersion = WindowsVersionText();
    if (facts.language.empty()) facts.language = UiLanguageText();
    if (!facts.agentPath.empty()) facts.agent = ReadAgentFileFacts(facts.agentPath);

    CZipFile zip(request.zipPath);
    if (const DWORD error = zip.Open()) return error;
    if (request.journalFolder.empty() || request.journalFileName.empty()) {
        facts.notes.push_back(L"No journal folder on this system.");
    } else {
        const std::vector<std::wstring> names = BundleJournalNames(request.journalFileName);
        for (const std::wstring& name : names) {
            const std::wstring path = request.journalFolder + L"\\" + name;
            DWORD error = 0;
            switch (zip.AddFile(EntryName(name), path, &error)) {
                case CZipFile::CopyResult::Copied:
                    break;
                case CZipFile::CopyResult::CutShort:
                    facts.notes.push_back(name + L": read in part (error " + std::to_wstring(error) + L")");
                    break;
                case CZipFile::CopyResult::NotOpened:
                    // Most generations do not exist yet; only a file that is
                    // there and will not open is worth a note.
                    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
                        facts.notes.push_back(name + L": not readable (error " + std::to_wstring(error) +
                                              L")");
                    break;
            }
            if (zip.Failed()) return zip.Commit();
        }
        ReadLastLines(request.journalFolder, names, facts);
        if (request.readRuns)
            facts.bRunsKnown = request.readRuns(request.journalFolder, request.journalFileName, facts.runs);
    }
    zip.AddBytes("summary.txt", ZipTimeNow(), SummaryFileBytes(FormatDiagnosticsSummary(facts)));
    return zip.Commit();
}

namespace {
struct BundleJob {
    DiagnosticsRequest request;
    HWND hWnd = nullptr;
    UINT message = 0;
};

unsigned __stdcall BundleThreadProc(void* pv) {
    std::unique_ptr<BundleJob> job(static_cast<BundleJob*>(pv));
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    try {
        error = WriteDiagnosticsBundle(std::move(job->request));
    } catch (...) {
        // A failure of memory is a failure to write, said like any other.
    }
    ::PostMessageW(job->hWnd, job->message, error, 0);
    return 0;
}
}  // namespace

bool StartDiagnosticsBundle(DiagnosticsRequest request, HWND hWnd, UINT message) {
    auto job = std::make_unique<BundleJob>(BundleJob{std::move(request), hWnd, message});
    const uintptr_t h = ::_beginthreadex(nullptr, 0, BundleThreadProc, job.get(), 0, nullptr);
    if (h == 0) return false;
    job.release();  // the thread owns it now
    // Detached: the window hears of the end by message.
    ::CloseHandle(reinterpret_cast<HANDLE>(h));
    return true;
}
