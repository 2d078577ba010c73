// What the end-to-end tests read of an installation's journal: its name, a
// whole file read while the supervisor may still be writing it, and the
// current journal as one text (JournalText).
#pragma once

#include <windows.h>

#include <string>

#include "framework/file_identity.h"
#include "journal/journal.h"
#include "journal/journal_rules.h"
#include "tests/support/e2e_support.h"

namespace e2e {

// The journal's file name: the installation folder's canonical path names it.
inline std::wstring JournalNameOf(const TempInstall& install) {
    return JournalFileName(CanonicalPath(install.Dir().substr(0, install.Dir().size() - 1)));
}

// A file's bytes, read with full sharing so the writer is never in the way;
// empty when it cannot be opened.
inline std::string ReadWholeFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[65536];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

// The installation's journal as one text; it is removed first and at the end.
class JournalText {
public:
    explicit JournalText(const TempInstall& install)
        : m_path(CJournal::DefaultFolder() + L"\\" + JournalNameOf(install)) {
        ::DeleteFileW(m_path.c_str());
    }
    ~JournalText() { ::DeleteFileW(m_path.c_str()); }
    JournalText(const JournalText&) = delete;
    JournalText& operator=(const JournalText&) = delete;

    std::string Read() const { return ReadWholeFile(m_path); }
    // True once the journal holds text.
    bool WaitFor(const std::string& text, Millis timeout = 5s) const {
        return WaitUntil([&] { return Read().find(text) != std::string::npos; }, timeout);
    }

private:
    std::wstring m_path;
};

}  // namespace e2e
