#include <algorithm>

#include "index_fixture.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "collation/compare_headwords.h"
#include "orlixdb/crc32.h"
#include "orlixdb/index_format.h"
#include "orlixdb/little_endian.h"

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
    Store32(bytes->data() + body, crc);
}

/* Rewrite the 16-bit key length of the first record. */
static void SetFirstLength(std::vector<uint8_t>* b, uint32_t length)
{
    Store16(b->data() + 16, length);
}

static void SetCount(std::vector<uint8_t>* b, uint32_t count)
{
    Store32(b->data() + 12, count);
}

namespace {
struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>*)> apply;
    IndexProblem expected;
};
}  // namespace

/* `expected` is IndexCheck's answer on the index of "abc"/1 and "de"/2. */
static const std::vector<Damage>& Damages()
{
    static const std::vector<Damage> table = {
        {"empty file", [](auto* b) { b->clear(); }, kIndexTruncated},
        {"header only", [](auto* b) { b->resize(19); }, kIndexTruncated},
        {"last byte cut", [](auto* b) { b->pop_back(); }, kIndexBadChecksum},
        {"one record cut", [](auto* b) { b->resize(b->size() - 4 - 8); }, kIndexBadChecksum},
        {"byte appended", [](auto* b) { b->push_back(0); }, kIndexBadChecksum},
        {"bit flipped in key", [](auto* b) { (*b)[19] ^= 0x10; }, kIndexBadChecksum},
        {"bit flipped in checksum", [](auto* b) { b->back() ^= 0x80; }, kIndexBadChecksum},
        {"wrong magic", [](auto* b) { (*b)[0] = 'X'; ResealChecksum(b); }, kIndexBadMagic},
        {"version 2", [](auto* b) { (*b)[8] = 2; ResealChecksum(b); }, kIndexBadVersion},
        {"flags set", [](auto* b) { (*b)[11] = 1; ResealChecksum(b); }, kIndexBadVersion},
        {"count lies high", [](auto* b) { SetCount(b, 0xFFFFFFFFu); ResealChecksum(b); }, kIndexBadCount},
        {"count one too many", [](auto* b) { SetCount(b, 3); ResealChecksum(b); }, kIndexBadCount},
        {"count one too few", [](auto* b) { SetCount(b, 1); ResealChecksum(b); }, kIndexTrailingBytes},
        {"count zero", [](auto* b) { SetCount(b, 0); ResealChecksum(b); }, kIndexTrailingBytes},
        {"empty key", [](auto* b) { SetFirstLength(b, 0); ResealChecksum(b); }, kIndexEmptyKey},
        {"key 1025 bytes", [](auto* b) { SetFirstLength(b, 1025); ResealChecksum(b); }, kIndexKeyTooLong},
        {"key length past end", [](auto* b) { SetFirstLength(b, 1000); ResealChecksum(b); }, kIndexRecordOverrun},
        {"NUL inside key", [](auto* b) { (*b)[19] = 0; ResealChecksum(b); }, kIndexNulInKey},
    };
    return table;
}

size_t DamageCount() { return Damages().size(); }
const char* DamageName(size_t n) { return Damages()[n].what; }
void ApplyDamage(size_t n, std::vector<uint8_t>* bytes) { Damages()[n].apply(bytes); }
IndexProblem DamageProblem(size_t n) { return Damages()[n].expected; }

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

int32_t Merge(const char* target, const std::vector<const char*>& sources, uint32_t waitMs,
              OrlixMergeReport* report, OrlixMergeInput* inputs, OrlixMergedImage* image)
{
    OrlixMergeRequest request = {target,          (int32_t)sources.size(), sources.data(), CompareHeadwords,
                                 waitMs,          image != nullptr,        inputs};
    OrlixMergeResult result;
    int32_t code = OrlixMerge(&request, &result);
    if (report != nullptr) *report = result.report;
    if (image != nullptr) *image = result.image;
    return code;
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
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> TempDir::Leftovers() const
{
    std::vector<std::string> left;
    for (const std::string& name : Entries())
        if (name.find(".orlixdb-") != std::string::npos) left.push_back(name);
    return left;
}
