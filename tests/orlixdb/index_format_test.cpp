#include <gtest/gtest.h>

#include "index_fixture.h"
#include "orlixdb/crc32.h"
#include "orlixdb/index_format.h"
#include "orlixdb/little_endian.h"

namespace {

IndexProblem Check(const std::vector<uint8_t>& bytes)
{
    IndexScan scan;
    return IndexCheck(bytes.data(), bytes.size(), &scan);
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
    expected.resize(expected.size() + 4);
    Store32(expected.data() + expected.size() - 4, crc);
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

TEST(IndexFormat, DamageIsDetected)
{
    const std::vector<uint8_t> good = IndexBytes({{"abc", 1}, {"de", 2}});
    ASSERT_EQ(Check(good), kIndexFine);
    for (size_t d = 0; d < DamageCount(); d++) {
        std::vector<uint8_t> bad = good;
        ApplyDamage(d, &bad);
        EXPECT_EQ(Check(bad), DamageProblem(d)) << DamageName(d);
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
