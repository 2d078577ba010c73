// A .zip file that appears whole under its name or not at all: the archive
// is written under a temporary name in the same folder and moved into place
// once it is complete.
//
// Threads: one object, one thread; any thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "diagnostics/zip_rules.h"
#include "framework/handle.h"

class CZipFile {
public:
    explicit CZipFile(std::wstring path);
    // An archive not committed leaves nothing behind.
    ~CZipFile();
    CZipFile(const CZipFile&) = delete;
    CZipFile& operator=(const CZipFile&) = delete;

    // Creates the temporary file beside the archive's name; 0 or the
    // system's error.
    DWORD Open();
    bool AddBytes(std::string_view name, const ZipTime& modified, std::string_view bytes);

    enum class CopyResult { Copied, CutShort, NotOpened };
    // Copies the file as it can be read now, sharing it with whoever holds
    // it open (who may go on writing or renaming it meanwhile). A read that
    // fails part way keeps what was read (CutShort); a file that cannot be
    // opened at all adds no entry (NotOpened). *pError: the system's error.
    CopyResult AddFile(std::string_view name, const std::wstring& path, DWORD* pError);

    // Finishes the archive and moves it into place, replacing a file of the
    // same name; 0 or the system's error (the temporary file is gone then).
    DWORD Commit();
    // Any failure of the archive itself so far (the disk, the compressor).
    bool Failed() const { return m_writer.Failed() || m_error != 0; }

private:
    class CFileSink : public CZipSink {
    public:
        bool Write(const void* data, size_t size) override;
        CFileHandle hFile;
        DWORD error = 0;
    };
    void Discard();

    const std::wstring m_strPath;
    std::wstring m_strTempPath;
    CFileSink m_sink;
    CZipWriter m_writer{m_sink};
    DWORD m_error = 0;
};

// The local time of a file time, for an entry or a summary.
ZipTime ZipTimeOf(const FILETIME& utc);
ZipTime ZipTimeNow();
