// Reads a .zip back for the tests: the central directory, and each entry
// inflated and checked against its CRC, the way any unzip reads it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace zip_reader {
inline uint32_t Get(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}
}  // namespace zip_reader

// Name to content; empty with *pError set when the archive does not read.
inline std::map<std::string, std::string> ReadZip(const std::string& zip, std::string* pError) {
    using zip_reader::Get;
    std::map<std::string, std::string> entries;
    *pError = "no end record";
    if (zip.size() < 22 || Get(zip, zip.size() - 22, 4) != 0x06054b50) return entries;
    const size_t count = Get(zip, zip.size() - 12, 2);
    size_t at = Get(zip, zip.size() - 6, 4);
    for (size_t i = 0; i < count; ++i) {
        *pError = "bad central header " + std::to_string(i);
        if (at + 46 > zip.size() || Get(zip, at, 4) != 0x02014b50) return {};
        const uint32_t crc = Get(zip, at + 16, 4), packed = Get(zip, at + 20, 4), size = Get(zip, at + 24, 4);
        const size_t nameLength = Get(zip, at + 28, 2), local = Get(zip, at + 42, 4);
        const std::string name = zip.substr(at + 46, nameLength);
        at += 46 + nameLength + Get(zip, at + 30, 2) + Get(zip, at + 32, 2);
        if (local + 30 > zip.size() || Get(zip, local, 4) != 0x04034b50 || Get(zip, local + 8, 2) != 8)
            return {};
        const size_t data = local + 30 + Get(zip, local + 26, 2) + Get(zip, local + 28, 2);
        std::string content(size, '\0');
        z_stream zs = {};
        inflateInit2(&zs, -MAX_WBITS);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
        zs.avail_in = packed;
        zs.next_out = reinterpret_cast<Bytef*>(&content[0]);
        zs.avail_out = size;
        const int result = inflate(&zs, Z_FINISH);
        inflateEnd(&zs);
        *pError = "entry " + name + " does not inflate";
        if (result != Z_STREAM_END || zs.total_out != size) return {};
        *pError = "entry " + name + " has the wrong CRC";
        if (crc32(0, reinterpret_cast<const Bytef*>(content.data()), size) != crc) return {};
        entries[name] = content;
    }
    pError->clear();
    return entries;
}

// The archive at path.
inline std::map<std::string, std::string> ReadZipFile(const std::wstring& path, std::string* pError) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return ReadZip(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), pError);
}
