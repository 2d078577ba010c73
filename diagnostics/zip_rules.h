// A .zip archive written front to back: each entry deflated with zlib as its
// bytes arrive, the container around it (local headers, data descriptors,
// the central directory) written here. No Win32 here.
//
// The archive is the plain 32-bit form every unzip reads: an entry, the
// archive and the count of entries must stay under 4 GiB and 65,535; past
// that the writer fails rather than write a wrong header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Where the archive's bytes go, in order; false when they were not all taken.
class CZipSink {
public:
    virtual ~CZipSink() = default;
    virtual bool Write(const void* data, size_t size) = 0;
};

// A local wall-clock time, as an entry's modification time.
struct ZipTime {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The MS-DOS date (high 16 bits) and time (low 16 bits) a zip header holds:
// two-second steps; a year before 1980 becomes 1980-01-01 00:00:00 and one
// after 2107 the last day of 2107.
uint32_t ZipDosDateTime(const ZipTime& t);

class CZipWriter {
public:
    explicit CZipWriter(CZipSink& sink);
    ~CZipWriter();
    CZipWriter(const CZipWriter&) = delete;
    CZipWriter& operator=(const CZipWriter&) = delete;

    // An entry named name (UTF-8, "/" between folders), modified at
    // modified; its bytes follow through WriteEntryData, and EndEntry closes
    // it. An entry left open is closed by the next BeginEntry or Finish.
    bool BeginEntry(std::string_view name, const ZipTime& modified);
    bool WriteEntryData(const void* data, size_t size);
    bool EndEntry();
    // A whole entry at once.
    bool AddEntry(std::string_view name, const ZipTime& modified, std::string_view bytes);
    // The central directory and the archive's end; nothing can be added
    // afterwards. True when the whole archive reached the sink.
    bool Finish();
    // Once anything failed, every later call fails too.
    bool Failed() const { return m_bFailed; }

private:
    struct CentralEntry {
        std::string name;
        uint32_t dosTime = 0;
        uint32_t crc = 0;
        uint64_t packed = 0;
        uint64_t size = 0;
        uint64_t offset = 0;
    };
    struct Deflater;

    bool Put(const void* data, size_t size);
    bool Deflate(const void* data, size_t size, bool bLast);
    bool Fail();

    CZipSink& m_sink;
    std::unique_ptr<Deflater> m_pDeflater;  // while an entry is open
    std::vector<CentralEntry> m_entries;
    std::vector<unsigned char> m_out;  // deflate's output, kept for its capacity
    uint64_t m_nOffset = 0;            // bytes the sink took
    bool m_bFailed = false;
    bool m_bFinished = false;
};
