// The journal's files as the history reads them: opened with every share
// mode (the writer appends and renames meanwhile), never written, never kept
// open between reads.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/handle.h"
#include "history/history_rules.h"

// Where the journal lies: its folder and its live file's name
// ("agent-xxxxxxxx.log").
struct JournalSource {
    std::wstring folder;
    std::wstring fileName;
};

// One file as it was read. The key (its first bytes) finds it again after a
// rotation has renamed it.
struct HistoryFile {
    std::wstring path;
    std::string key;
    uint64_t readBytes = 0;  // whole lines read, from its start
};

// The journal's files that exist, newest first: the live file, the rotating
// one, then .1 to .5.
std::vector<std::wstring> JournalFilesNewestFirst(const JournalSource& source);

enum class FileOpen { Opened, Held, Missing, Failed };

// One file open for reading.
class CJournalFileReader {
public:
    FileOpen Open(const std::wstring& path);
    uint64_t Size() const;
    // Up to size bytes at offset into out; false on a read error.
    bool ReadAt(uint64_t offset, size_t size, std::string& out) const;
    // The same into memory of the caller's; got says how much came.
    bool ReadInto(uint64_t offset, char* out, size_t size, size_t& got) const;
    // The first bytes, by which the file is found again after a rotation.
    std::string Key() const;

private:
    CFileHandle m_hFile;
};

// Reads from offset on, in pieces of whole lines; with bCutTail a last line
// without its line end is passed too (a cut file). onPiece returns false to
// stop. Returns the offset after the last line passed; bReadError is set
// when a read failed.
uint64_t ReadForward(const CJournalFileReader& file, uint64_t offset, bool bCutTail,
                     const std::function<bool(std::string_view, uint64_t)>& onPiece, bool& bReadError);
// Reads [stop, end) backwards in pieces of whole lines, the newest piece
// first; onPiece returns false to stop.
void ReadBackward(const CJournalFileReader& file, uint64_t stop, uint64_t end,
                  const std::function<bool(std::string_view, uint64_t)>& onPiece);

// The whole history, read at once on the calling thread: every file of the
// journal, newest first. The live file's last line is left out while it has
// no line end (it is being written). files, when given, receives the files
// in the order of the places' file numbers.
AgentHistory ReadAgentHistory(const JournalSource& source, std::vector<HistoryFile>* files = nullptr);

// The file a place's number names now: where it was read, or where a
// rotation has moved it since; empty when it is gone.
std::wstring LocateHistoryFile(const JournalSource& source, const HistoryFile& file);

// The end of a run as the journal tells it: up to count lines the agent wrote
// before its end, oldest first, and the line that ended it.
struct RunTail {
    std::vector<std::wstring> lines;
    std::wstring endLine;
    bool bUnreadable = false;  // a file it lies in is gone or held
};
RunTail ReadRunTail(const JournalSource& source, const std::vector<HistoryFile>& files, const AgentRun& run,
                    size_t count = 20);

// The lines around a place: up to before lines above it, the line, up to
// after below it; hitIndex receives the line's index in the result.
std::vector<std::wstring> ReadLinesAround(const JournalSource& source, const std::vector<HistoryFile>& files,
                                          JournalPlace at, size_t before, size_t after, size_t& hitIndex);
