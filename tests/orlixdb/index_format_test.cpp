#include <gtest/gtest.h>

#include <functional>

#include "index_fixture.h"
#include "orlixdb/crc32.h"
#include "orlixdb/index_format.h"

namespace {

IndexProblem Check(const std::vector<uint8_t>& bytes)
{
    IndexScan scan;
    return IndexCheck(bytes.data(), bytes.size(), &scan);
}

TEST(Crc32, StandardCheckValue)
{
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

/* The layout documented in docs/index-format.md, byte by byte. */
TEST(IndexFormat, OneRecordLayout)
{
    std::vector<uint8_t> expected = {'O', 'R', 'L', 'I', 'X', 'I', 'D', 'X',
                                     1, 0, 0, 0,        /* version 1, flags 0 */
                                     1, 0, 0, 0,        /* one record */
                                     2, 0, 'a', 0xE9,   /* key length 2, key */
                                     0x78, 0x56, 0x34, 0x12};
    uint32_t crc = Crc32(expected.data(), expected.size());
    for (int i = 0; i < 4; i++) expected.push_back((uint8_t)(crc >> (8 * i)));
    EXPECT_EQ(IndexBytes({{"a\xE9", 0x12345678}}), expected);
}

TEST(IndexFormat, RoundTripsEveryKeyByte)
{
    Recs records;
    for (int c = 1; c < 256; c++) records.push_back(Rec(std::string(1, (char)c) + "k", (uint32_t)c));
    records.push_back(Rec(std::string(kIndexMaxKey, 'x'), 0xFFFFFFFFu));
    TempDir dir;
    WriteBytes(dir.Path("i"), IndexBytes(records));
    EXPECT_EQ(ReadRecords(dir.Path("i")), records);
}

/* Rewrite the 16-bit key length of the first record. */
void SetFirstLength(std::vector<uint8_t>* b, uint32_t length)
{
    (*b)[16] = (uint8_t)length;
    (*b)[17] = (uint8_t)(length >> 8);
}

void SetCount(std::vector<uint8_t>* b, uint32_t count)
{
    for (int i = 0; i < 4; i++) (*b)[12 + i] = (uint8_t)(count >> (8 * i));
}

struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>*)> apply;
    IndexProblem expected;
};

/* Two records, "abc"/1 and "de"/2; each damage is applied to a fresh copy. */
const std::vector<Damage>& Damages()
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

TEST(IndexFormat, DamageIsDetected)
{
    const std::vector<uint8_t> good = IndexBytes({{"abc", 1}, {"de", 2}});
    ASSERT_EQ(Check(good), kIndexFine);
    for (const Damage& d : Damages()) {
        std::vector<uint8_t> bad = good;
        d.apply(&bad);
        EXPECT_EQ(Check(bad), d.expected) << d.what;
    }
}

TEST(IndexFormat, EverySingleBitFlipIsDetected)
{
    const std::vector<uint8_t> good = IndexBytes({{"abc", 1}, {"x@2", 77}, {"\xFF", 3}});
    for (size_t bit = 0; bit < good.size() * 8; bit++) {
        std::vector<uint8_t> bad = good;
        bad[bit / 8] ^= (uint8_t)(1u << (bit % 8));
        EXPECT_NE(Check(bad), kIndexFine) << "bit " << bit;
    }
}

/* Every prefix of a valid file is refused: a torn write never reads as an index. */
TEST(IndexFormat, EveryTruncationIsDetected)
{
    const std::vector<uint8_t> good = IndexBytes({{"abc", 1}, {"de", 2}});
    for (size_t size = 0; size < good.size(); size++) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + (long)size);
        EXPECT_NE(Check(cut), kIndexFine) << "size " << size;
    }
}

}  // namespace

/* The damage table, shared with the job's tests. */
size_t DamageCount() { return Damages().size(); }
const char* DamageName(size_t n) { return Damages()[n].what; }
void ApplyDamage(size_t n, std::vector<uint8_t>* bytes) { Damages()[n].apply(bytes); }
