#include "diagnostics/zip_rules.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

namespace {

class CMemorySink : public CZipSink {
public:
    bool Write(const void* data, size_t size) override {
        if (bytes.size() + size > limit) return false;
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
    size_t limit = std::string::npos;
};

// What Python's zipfile reads back: each entry's name, size, date and
// content's checksum, after it has checked every entry's CRC itself.
std::string ReadBackWithPython(const std::string& zip) {
    char path[] = "/tmp/zip_rules_test_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "mkstemp failed";
    std::ofstream(path, std::ios::binary).write(zip.data(), static_cast<std::streamsize>(zip.size()));
    const std::string command = std::string("python3 -c \"") +
                                "import sys,zipfile,zlib\n"
                                "z=zipfile.ZipFile(sys.argv[1])\n"
                                "assert z.testzip() is None\n"
                                "for i in z.infolist():\n"
                                "  print(i.filename, i.file_size, i.date_time[:3], zlib.crc32(z.read(i)))\n"
                                "\" " +
                                path + " 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof(buffer), pipe) != nullptr) out += buffer;
        pclose(pipe);
    }
    std::remove(path);
    return out;
}

std::string Line(const std::string& name, const std::string& bytes) {
    const unsigned long crc = [&] {
        unsigned long c = 0xFFFFFFFFul;
        for (unsigned char b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320ul & (0ul - (c & 1)));
        }
        return c ^ 0xFFFFFFFFul;
    }();
    return name + " " + std::to_string(bytes.size()) + " (2026, 12, 9) " + std::to_string(crc) + "\n";
}

TEST(ZipRules, AStandardUnzipReadsBackEveryEntry) {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const ZipTime when{2026, 12, 9, 14, 3, 7};
    // Text that packs, bytes that do not (stored bigger than they are), an
    // empty entry, a UTF-8 name in a folder, and one written in pieces.
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "2026-12-09 14:03:07.215 [agent] line " + std::to_string(i) + "\r\n";
    std::string noise(300000, '\0');
    std::mt19937 random(7);
    for (char& ch : noise) ch = static_cast<char>(random());

    CMemorySink sink;
    CZipWriter zip(sink);
    ASSERT_TRUE(zip.AddEntry("summary.txt", when, text));
    ASSERT_TRUE(zip.AddEntry("noise.bin", when, noise));
    ASSERT_TRUE(zip.AddEntry("empty.log", when, ""));
    ASSERT_TRUE(zip.BeginEntry("logs/\xE6\x97\xA5\xE5\xBF\x97.log", when));
    for (size_t at = 0; at < text.size(); at += 4093)
        ASSERT_TRUE(zip.WriteEntryData(text.data() + at, std::min<size_t>(4093, text.size() - at)));
    ASSERT_TRUE(zip.Finish());
    EXPECT_LT(sink.bytes.size(), text.size() / 2 + noise.size() + 2000);

    EXPECT_EQ(ReadBackWithPython(sink.bytes), Line("summary.txt", text) + Line("noise.bin", noise) +
                                                  Line("empty.log", "") +
                                                  Line("logs/\xE6\x97\xA5\xE5\xBF\x97.log", text));
}

TEST(ZipRules, ASinkThatFailsFailsTheArchiveForGood) {
    CMemorySink sink;
    sink.limit = 100;
    CZipWriter zip(sink);
    EXPECT_TRUE(zip.BeginEntry("a.txt", ZipTime{}));
    EXPECT_FALSE(zip.WriteEntryData(std::string(100000, 'x').data(), 100000) && zip.EndEntry());
    EXPECT_TRUE(zip.Failed());
    sink.limit = std::string::npos;
    EXPECT_FALSE(zip.AddEntry("b.txt", ZipTime{}, "b"));
    EXPECT_FALSE(zip.Finish());
    // An archive finished once takes nothing more.
    CMemorySink whole;
    CZipWriter done(whole);
    EXPECT_TRUE(done.Finish());
    EXPECT_EQ(whole.bytes.size(), 22u);
    EXPECT_FALSE(done.AddEntry("late.txt", ZipTime{}, "x"));
}

TEST(ZipRules, DosTimesInTwoSecondStepsWithinTheirYears) {
    EXPECT_EQ(ZipDosDateTime(ZipTime{2026, 12, 9, 14, 3, 7}),
              (46u << 9 | 12u << 5 | 9u) << 16 | (14u << 11 | 3u << 5 | 3u));
    EXPECT_EQ(ZipDosDateTime(ZipTime{1970, 1, 1, 0, 0, 0}), (1u << 5 | 1u) << 16);
    EXPECT_EQ(ZipDosDateTime(ZipTime{2200, 1, 1, 0, 0, 0}) >> 16, 127u << 9 | 12u << 5 | 31u);
}

}  // namespace
