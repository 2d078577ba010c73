#include "diagnostics/zip_file.h"

#include <vector>

namespace {
constexpr DWORD kCopyChunk = 256 * 1024;

ZipTime FromSystemTime(const SYSTEMTIME& st) {
    return ZipTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}
}  // namespace

ZipTime ZipTimeOf(const FILETIME& utc) {
    FILETIME local = {};
    SYSTEMTIME st = {};
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) return ZipTime{};
    return FromSystemTime(st);
}

ZipTime ZipTimeNow() {
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    return FromSystemTime(st);
}

bool CZipFile::CFileSink::Write(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > kCopyChunk ? kCopyChunk : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(hFile.get(), bytes, piece, &written, nullptr) || written != piece) {
            error = ::GetLastError();
            if (error == 0) error = ERROR_WRITE_FAULT;
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

CZipFile::CZipFile(std::wstring path) : m_strPath(std::move(path)) {}

CZipFile::~CZipFile() { Discard(); }

void CZipFile::Discard() {
    m_sink.hFile.reset();
    if (!m_strTempPath.empty()) ::DeleteFileW(m_strTempPath.c_str());
    m_strTempPath.clear();
}

DWORD CZipFile::Open() {
    wchar_t temp[MAX_PATH] = {};
    // A unique name in the archive's own folder: the move at the end stays
    // on one volume and so cannot leave half a file under the chosen name.
    if (::GetTempFileNameW(FolderOf(m_strPath).c_str(), L"tvz", 0, temp) == 0)
        return m_error = ::GetLastError();
    m_strTempPath = temp;
    m_sink.hFile.reset(
        ::CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_sink.hFile) {
        m_error = ::GetLastError();
        Discard();
    }
    return m_error;
}

bool CZipFile::AddBytes(std::string_view name, const ZipTime& modified, std::string_view bytes) {
    return m_sink.hFile && m_writer.AddEntry(name, modified, bytes);
}

CZipFile::CopyResult CZipFile::AddFile(std::string_view name, const std::wstring& path, DWORD* pError) {
    *pError = 0;
    CFileHandle source(::CreateFileW(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) {
        *pError = ::GetLastError();
        return CopyResult::NotOpened;
    }
    FILETIME written = {};
    const ZipTime modified =
        ::GetFileTime(source.get(), nullptr, nullptr, &written) ? ZipTimeOf(written) : ZipTimeNow();
    if (!m_sink.hFile || !m_writer.BeginEntry(name, modified)) return CopyResult::CutShort;
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(source.get(), buffer.data(), kCopyChunk, &read, nullptr)) {
            *pError = ::GetLastError();
            m_writer.EndEntry();
            return CopyResult::CutShort;
        }
        if (read == 0) break;
        if (!m_writer.WriteEntryData(buffer.data(), read)) return CopyResult::CutShort;
    }
    return m_writer.EndEntry() ? CopyResult::Copied : CopyResult::CutShort;
}

DWORD CZipFile::Commit() {
    if (m_error == 0 && !m_sink.hFile) m_error = ERROR_INVALID_HANDLE;
    if (m_error == 0 && !m_writer.Finish()) m_error = m_sink.error != 0 ? m_sink.error : ERROR_WRITE_FAULT;
    if (m_error == 0 && !::FlushFileBuffers(m_sink.hFile.get())) m_error = ::GetLastError();
    if (m_error == 0) {
        m_sink.hFile.reset();
        if (!::MoveFileExW(m_strTempPath.c_str(), m_strPath.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            m_error = ::GetLastError();
        else
            m_strTempPath.clear();
    }
    Discard();
    return m_error;
}
