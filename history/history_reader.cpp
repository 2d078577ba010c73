#include "history/history_reader.h"

#include <algorithm>
#include <cstring>

#include "journal/journal_rules.h"

namespace {

constexpr size_t kPieceBytes = 4u * 1024 * 1024;
constexpr size_t kKeyBytes = 64;
// A run's tail and a hit's neighbours are read within this much of the
// journal; beyond it the lines are too long to be worth showing.
constexpr uint64_t kNearbyBytes = 4u * 1024 * 1024;
constexpr size_t kShownLineChars = 1000;

std::wstring ShownLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::wstring text = WideFromUtf8(line.substr(0, kShownLineChars * 3));
    if (text.size() > kShownLineChars) text.resize(kShownLineChars);
    return text;
}

// The lines of a piece, last first; onLine returns false to stop.
bool EachLineBackward(std::string_view piece, const std::function<bool(std::string_view, size_t)>& onLine) {
    size_t end = piece.size();
    if (end > 0 && piece[end - 1] == '\n') --end;
    for (;;) {
        const size_t nl = end == 0 ? std::string_view::npos : piece.rfind('\n', end - 1);
        const size_t start = nl == std::string_view::npos ? 0 : nl + 1;
        if (!onLine(piece.substr(start, end - start), start)) return false;
        if (start == 0) return true;
        end = start - 1;
    }
}

// Opens the file a place names; false when it is gone or held.
bool OpenPlaceFile(const JournalSource& source, const std::vector<HistoryFile>& files, uint32_t index,
                   CJournalFileReader& reader) {
    if (index >= files.size()) return false;
    const std::wstring path = LocateHistoryFile(source, files[index]);
    return !path.empty() && reader.Open(path) == FileOpen::Opened;
}

}  // namespace

std::vector<std::wstring> JournalFilesNewestFirst(const JournalSource& source) {
    std::vector<std::wstring> names = {source.fileName, RotatingJournalName(source.fileName)};
    for (int n = 1; n <= kJournalKeptFiles; ++n) names.push_back(RotatedJournalName(source.fileName, n));
    std::vector<std::wstring> paths;
    for (const std::wstring& name : names) {
        const std::wstring path = source.folder + L"\\" + name;
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0;
        // One that cannot be looked at may still be there: it is tried, and
        // counted as held or failed.
        if ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) ||
            (attributes == INVALID_FILE_ATTRIBUTES && error != ERROR_FILE_NOT_FOUND &&
             error != ERROR_PATH_NOT_FOUND))
            paths.push_back(path);
    }
    return paths;
}

FileOpen CJournalFileReader::Open(const std::wstring& path) {
    m_hFile.reset(::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (m_hFile) return FileOpen::Opened;
    switch (::GetLastError()) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return FileOpen::Held;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return FileOpen::Missing;
        default:
            return FileOpen::Failed;
    }
}

uint64_t CJournalFileReader::Size() const {
    LARGE_INTEGER size = {};
    return ::GetFileSizeEx(m_hFile.get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool CJournalFileReader::ReadInto(uint64_t offset, char* out, size_t size, size_t& got) const {
    got = 0;
    while (got < size) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + got);
        at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size - got, 1u << 30));
        if (!::ReadFile(m_hFile.get(), out + got, want, &n, &at)) return ::GetLastError() == ERROR_HANDLE_EOF;
        if (n == 0) break;
        got += n;
    }
    return true;
}

bool CJournalFileReader::ReadAt(uint64_t offset, size_t size, std::string& out) const {
    out.resize(size);
    size_t got = 0;
    const bool ok = ReadInto(offset, &out[0], size, got);
    out.resize(got);
    return ok;
}

std::string CJournalFileReader::Key() const {
    std::string key;
    ReadAt(0, kKeyBytes, key);
    return key;
}

uint64_t ReadForward(const CJournalFileReader& file, uint64_t offset, bool bCutTail,
                     const std::function<bool(std::string_view, uint64_t)>& onPiece, bool& bReadError) {
    bReadError = false;
    const uint64_t size = file.Size();
    // One buffer for the whole file: the carried part of a line moves to its
    // front and the next piece is read in behind it, so no byte is copied
    // twice.
    std::string buffer(kPieceBytes, '\0');
    size_t carried = 0;
    uint64_t bufferAt = offset;  // the file offset of buffer[0]
    uint64_t pos = offset;
    while (pos < size) {
        if (buffer.size() - carried < kPieceBytes / 2) buffer.resize(buffer.size() * 2);  // a very long line
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size() - carried, size - pos));
        size_t got = 0;
        if (!file.ReadInto(pos, &buffer[carried], want, got)) {
            bReadError = true;
            break;
        }
        if (got == 0) break;  // cut short since the size was taken
        pos += got;
        const std::string_view filled(buffer.data(), carried + got);
        const size_t lastLineEnd = filled.rfind('\n');
        if (lastLineEnd == std::string_view::npos) {
            carried += got;
            continue;
        }
        if (!onPiece(filled.substr(0, lastLineEnd + 1), bufferAt)) return bufferAt;
        carried = filled.size() - (lastLineEnd + 1);
        std::memmove(&buffer[0], buffer.data() + lastLineEnd + 1, carried);
        bufferAt += lastLineEnd + 1;
    }
    if (bCutTail && carried != 0 && !bReadError) {
        onPiece(std::string_view(buffer.data(), carried), bufferAt);
        return bufferAt + carried;
    }
    return bufferAt;
}

void ReadBackward(const CJournalFileReader& file, uint64_t stop, uint64_t end,
                  const std::function<bool(std::string_view, uint64_t)>& onPiece) {
    std::string buffer;
    uint64_t pos = end;
    size_t want = kPieceBytes;
    while (pos > stop) {
        const uint64_t from = pos - std::min<uint64_t>(want, pos - stop);
        if (!file.ReadAt(from, static_cast<size_t>(pos - from), buffer) || buffer.size() != pos - from)
            return;
        size_t skip = 0;
        if (from > stop) {
            // The piece starts after the first line end in it: the line
            // before belongs to the next piece.
            const size_t nl = buffer.find('\n');
            if (nl == std::string::npos || nl + 1 == buffer.size()) {
                want *= 2;  // one line longer than the piece
                continue;
            }
            skip = nl + 1;
        }
        if (!onPiece(std::string_view(buffer).substr(skip), from + skip)) return;
        pos = from + skip;
        want = kPieceBytes;
    }
}

AgentHistory ReadAgentHistory(const JournalSource& source, std::vector<HistoryFile>* files) {
    CHistoryBuilder builder;
    HistoryCounts counts;
    const std::vector<std::wstring> paths = JournalFilesNewestFirst(source);
    uint32_t number = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        CJournalFileReader reader;
        const FileOpen opened = reader.Open(paths[i]);
        if (opened == FileOpen::Held) ++counts.heldFiles;
        if (opened == FileOpen::Failed) ++counts.failedFiles;
        if (opened != FileOpen::Opened) continue;
        HistoryFile file{paths[i], reader.Key(), 0};
        builder.BeginFile(number++);
        bool bReadError = false;
        file.readBytes = ReadForward(
            reader, 0, i != 0,
            [&](std::string_view piece, uint64_t offset) {
                builder.Feed(piece, offset);
                return true;
            },
            bReadError);
        if (bReadError) ++counts.failedFiles;
        builder.EndFile();
        if (files != nullptr) files->push_back(std::move(file));
    }
    builder.Finish();
    AgentHistory history = std::move(builder.History());
    history.counts.heldFiles += counts.heldFiles;
    history.counts.failedFiles += counts.failedFiles;
    return history;
}

std::wstring LocateHistoryFile(const JournalSource& source, const HistoryFile& file) {
    const auto matches = [&](const std::wstring& path) {
        CJournalFileReader reader;
        if (reader.Open(path) != FileOpen::Opened) return false;
        const std::string key = reader.Key();
        return key.compare(0, file.key.size(), file.key) == 0;
    };
    if (matches(file.path)) return file.path;
    for (const std::wstring& path : JournalFilesNewestFirst(source))
        if (!file.key.empty() && matches(path)) return path;
    return std::wstring();
}

RunTail ReadRunTail(const JournalSource& source, const std::vector<HistoryFile>& files, const AgentRun& run,
                    size_t count) {
    RunTail tail;
    if (!run.endAt.Known()) return tail;
    CJournalFileReader reader;
    if (!OpenPlaceFile(source, files, run.endAt.File(), reader)) {
        tail.bUnreadable = true;
        return tail;
    }
    std::string line;
    if (reader.ReadAt(run.endAt.Offset(), 64 * 1024, line))
        tail.endLine = ShownLine(line.substr(0, line.find('\n')));
    if (run.end == RunEnd::LaunchFailed) return tail;

    // Back from the end line to the run's start, across an older file when
    // the run began there.
    std::vector<std::wstring> newestFirst;
    std::vector<std::wstring> continuation;  // lines of the entry above, newest first
    uint64_t budget = kNearbyBytes;
    uint32_t file = run.endAt.File();
    uint64_t end = run.endAt.Offset();
    for (;;) {
        const bool bStartHere = run.startAt.Known() && run.startAt.File() == file;
        const uint64_t stop = bStartHere ? run.startAt.Offset() : 0;
        bool bDone = false;
        ReadBackward(reader, stop, end, [&](std::string_view piece, uint64_t offset) {
            budget -= std::min<uint64_t>(budget, piece.size());
            EachLineBackward(piece, [&](std::string_view text, size_t) {
                if (IsContinuationLine(text)) {
                    continuation.push_back(ShownLine(text));
                    return true;
                }
                JournalLine entry;
                if (ParseJournalLine(text, entry) && entry.source == JournalLine::Agent) {
                    newestFirst.insert(newestFirst.end(), continuation.begin(), continuation.end());
                    newestFirst.push_back(ShownLine(text));
                }
                continuation.clear();
                bDone = newestFirst.size() >= count;
                return !bDone;
            });
            (void)offset;
            return !bDone && budget > 0;
        });
        if (bDone || budget == 0 || bStartHere || file + 1 >= files.size()) break;
        if (!OpenPlaceFile(source, files, ++file, reader)) {
            tail.bUnreadable = true;
            break;
        }
        end = files[file].readBytes;
    }
    if (newestFirst.size() > count) newestFirst.resize(count);
    tail.lines.assign(newestFirst.rbegin(), newestFirst.rend());
    return tail;
}

std::vector<std::wstring> ReadLinesAround(const JournalSource& source, const std::vector<HistoryFile>& files,
                                          JournalPlace at, size_t before, size_t after, size_t& hitIndex) {
    std::vector<std::wstring> lines;
    hitIndex = 0;
    CJournalFileReader reader;
    if (!at.Known() || !OpenPlaceFile(source, files, at.File(), reader)) return lines;
    std::vector<std::wstring> above;
    uint64_t budget = kNearbyBytes / 2;
    ReadBackward(reader, 0, at.Offset(), [&](std::string_view piece, uint64_t) {
        budget -= std::min<uint64_t>(budget, piece.size());
        EachLineBackward(piece, [&](std::string_view text, size_t) {
            above.push_back(ShownLine(text));
            return above.size() < before;
        });
        return above.size() < before && budget > 0;
    });
    lines.assign(above.rbegin(), above.rend());
    hitIndex = lines.size();
    std::string below;
    reader.ReadAt(at.Offset(), 256 * 1024, below);
    size_t pos = 0;
    while (pos < below.size() && lines.size() < hitIndex + 1 + after) {
        size_t nl = below.find('\n', pos);
        if (nl == std::string::npos) nl = below.size();
        lines.push_back(ShownLine(std::string_view(below).substr(pos, nl - pos)));
        pos = nl + 1;
    }
    return lines;
}
