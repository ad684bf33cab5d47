#include "index_fixture.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "orlixdb/crc32.h"
#include "orlixdb/index_format.h"

std::vector<uint8_t> IndexBytes(const Recs& records)
{
    std::vector<IndexRecord> r;
    std::vector<const IndexRecord*> items;
    for (const Rec& rec : records)
        r.push_back(IndexRecord{rec.first.c_str(), (uint32_t)rec.first.size(), rec.second});
    for (const IndexRecord& x : r) items.push_back(&x);
    std::vector<uint8_t> bytes((size_t)IndexImageSize(items.data(), items.size()));
    IndexWriteImage(bytes.data(), items.data(), items.size());
    return bytes;
}

void ResealChecksum(std::vector<uint8_t>* bytes)
{
    size_t body = bytes->size() - 4;
    uint32_t crc = Crc32(bytes->data(), body);
    for (int i = 0; i < 4; i++) (*bytes)[body + i] = (uint8_t)(crc >> (8 * i));
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(fclose(f), 0);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back((uint8_t)c);
    fclose(f);
    return bytes;
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

Recs ReadRecords(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadBytes(path);
    IndexScan scan;
    EXPECT_EQ(IndexCheck(bytes.data(), bytes.size(), &scan), kIndexFine) << path;
    if (scan.problem != kIndexFine) return Recs();
    std::vector<IndexRecord> records(scan.count);
    std::vector<char> arena(scan.keyBytes + scan.count + 1);
    IndexLoad(bytes.data(), &scan, records.data(), arena.data());
    Recs out;
    for (const IndexRecord& r : records) out.push_back(Rec(std::string(r.key, r.length), r.reference));
    return out;
}

TempDir::TempDir()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/orlixdb-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()) != nullptr) dir_ = buf.data();
    EXPECT_FALSE(dir_.empty());
}

TempDir::~TempDir()
{
    for (const std::string& name : Entries()) {
        std::string path = Path(name);
        if (remove(path.c_str()) != 0) rmdir(path.c_str());
    }
    rmdir(dir_.c_str());
}

std::vector<std::string> TempDir::Entries() const
{
    std::vector<std::string> names;
    DIR* d = opendir(dir_.c_str());
    if (d == nullptr) return names;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    return names;
}
