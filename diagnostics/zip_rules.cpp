#include "diagnostics/zip_rules.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace {
constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint16_t kVersionNeeded = 20;  // deflate
// Bit 3: sizes and CRC follow the data; bit 11: the name is UTF-8.
constexpr uint16_t kFlags = 0x0008 | 0x0800;
constexpr uint16_t kDeflated = 8;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
constexpr size_t kMaxEntries = 0xFFFF;
constexpr size_t kOutChunk = 64 * 1024;

void Put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, uint64_t v) {
    Put16(out, static_cast<uint32_t>(v & 0xFFFF));
    Put16(out, static_cast<uint32_t>((v >> 16) & 0xFFFF));
}
}  // namespace

uint32_t ZipDosDateTime(const ZipTime& t) {
    if (t.year < 1980) return (1u << 5 | 1u) << 16;
    if (t.year > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
    const uint32_t date = static_cast<uint32_t>((t.year - 1980) << 9 | t.month << 5 | t.day);
    const uint32_t time = static_cast<uint32_t>(t.hour << 11 | t.minute << 5 | t.second / 2);
    return date << 16 | time;
}

struct CZipWriter::Deflater {
    z_stream stream = {};
    bool bReady = false;
    CentralEntry entry;
    uLong crc = crc32(0, Z_NULL, 0);

    Deflater() {
        // Raw deflate (negative window bits): the zip headers replace zlib's.
        bReady = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                              Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater() {
        if (bReady) deflateEnd(&stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

CZipWriter::CZipWriter(CZipSink& sink) : m_sink(sink) {}

CZipWriter::~CZipWriter() = default;

bool CZipWriter::Fail() {
    m_bFailed = true;
    m_pDeflater.reset();
    return false;
}

bool CZipWriter::Put(const void* data, size_t size) {
    if (size == 0) return true;
    if (!m_sink.Write(data, size)) return Fail();
    m_nOffset += size;
    return true;
}

bool CZipWriter::BeginEntry(std::string_view name, const ZipTime& modified) {
    if (m_bFailed || m_bFinished) return false;
    if (m_pDeflater && !EndEntry()) return false;
    if (m_entries.size() >= kMaxEntries || name.empty() || name.size() > 0xFFFF || m_nOffset > kMax32)
        return Fail();
    m_pDeflater = std::make_unique<Deflater>();
    if (!m_pDeflater->bReady) return Fail();
    CentralEntry& entry = m_pDeflater->entry;
    entry.name.assign(name);
    entry.dosTime = ZipDosDateTime(modified);
    entry.offset = m_nOffset;

    std::string header;
    Put32(header, kLocalHeaderSig);
    Put16(header, kVersionNeeded);
    Put16(header, kFlags);
    Put16(header, kDeflated);
    Put16(header, entry.dosTime & 0xFFFF);
    Put16(header, entry.dosTime >> 16);
    Put32(header, 0);  // CRC, packed and unpacked size: in the descriptor
    Put32(header, 0);
    Put32(header, 0);
    Put16(header, static_cast<uint32_t>(name.size()));
    Put16(header, 0);
    header.append(name);
    return Put(header.data(), header.size());
}

bool CZipWriter::Deflate(const void* data, size_t size, bool bLast) {
    z_stream& zs = m_pDeflater->stream;
    const unsigned char* next = static_cast<const unsigned char*>(data);
    m_out.resize(kOutChunk);
    // zlib counts its input in 32-bit units: feed it in pieces.
    do {
        const size_t piece = std::min<size_t>(size, std::numeric_limits<uInt>::max() / 2);
        zs.next_in = const_cast<Bytef*>(next);
        zs.avail_in = static_cast<uInt>(piece);
        next += piece;
        size -= piece;
        const int flush = bLast && size == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result = Z_OK;
        do {
            zs.next_out = m_out.data();
            zs.avail_out = static_cast<uInt>(m_out.size());
            result = deflate(&zs, flush);
            if (result == Z_STREAM_ERROR) return Fail();
            const size_t produced = m_out.size() - zs.avail_out;
            if (!Put(m_out.data(), produced)) return false;
            m_pDeflater->entry.packed += produced;
        } while (zs.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    } while (size > 0);
    return true;
}

bool CZipWriter::WriteEntryData(const void* data, size_t size) {
    if (m_bFailed || !m_pDeflater) return false;
    CentralEntry& entry = m_pDeflater->entry;
    if (size > kMax32 - entry.size) return Fail();
    // crc32 also counts in 32-bit units.
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t done = 0; done < size;) {
        const size_t piece = std::min<size_t>(size - done, std::numeric_limits<uInt>::max() / 2);
        m_pDeflater->crc = crc32(m_pDeflater->crc, bytes + done, static_cast<uInt>(piece));
        done += piece;
    }
    entry.size += size;
    return size == 0 || Deflate(data, size, false);
}

bool CZipWriter::EndEntry() {
    if (m_bFailed || !m_pDeflater) return false;
    if (!Deflate(nullptr, 0, true)) return false;
    CentralEntry entry = std::move(m_pDeflater->entry);
    entry.crc = static_cast<uint32_t>(m_pDeflater->crc);
    m_pDeflater.reset();
    if (entry.packed > kMax32) return Fail();

    std::string descriptor;
    Put32(descriptor, kDescriptorSig);
    Put32(descriptor, entry.crc);
    Put32(descriptor, entry.packed);
    Put32(descriptor, entry.size);
    if (!Put(descriptor.data(), descriptor.size())) return false;
    m_entries.push_back(std::move(entry));
    return true;
}

bool CZipWriter::AddEntry(std::string_view name, const ZipTime& modified, std::string_view bytes) {
    return BeginEntry(name, modified) && WriteEntryData(bytes.data(), bytes.size()) && EndEntry();
}

bool CZipWriter::Finish() {
    if (m_bFailed || m_bFinished) return false;
    if (m_pDeflater && !EndEntry()) return false;
    const uint64_t directoryAt = m_nOffset;
    std::string directory;
    for (const CentralEntry& entry : m_entries) {
        Put32(directory, kCentralHeaderSig);
        Put16(directory, kVersionNeeded);  // made by: MS-DOS attributes, version 2.0
        Put16(directory, kVersionNeeded);
        Put16(directory, kFlags);
        Put16(directory, kDeflated);
        Put16(directory, entry.dosTime & 0xFFFF);
        Put16(directory, entry.dosTime >> 16);
        Put32(directory, entry.crc);
        Put32(directory, entry.packed);
        Put32(directory, entry.size);
        Put16(directory, static_cast<uint32_t>(entry.name.size()));
        Put16(directory, 0);  // extra field
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, 0);  // external attributes
        Put32(directory, entry.offset);
        directory.append(entry.name);
    }
    const uint64_t directorySize = directory.size();
    if (directoryAt > kMax32 || directorySize > kMax32) return Fail();
    Put32(directory, kEndSig);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, static_cast<uint32_t>(m_entries.size()));
    Put16(directory, static_cast<uint32_t>(m_entries.size()));
    Put32(directory, directorySize);
    Put32(directory, directoryAt);
    Put16(directory, 0);
    if (!Put(directory.data(), directory.size())) return false;
    m_bFinished = true;
    return true;
}
