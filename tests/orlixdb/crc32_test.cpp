#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <vector>

#include "orlixdb/crc32.h"

namespace {

/* The CRC one bit at a time, straight from the polynomial: no table to share a fault with. */
uint32_t BitwiseCrc32(const uint8_t* data, size_t size)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) {
        c ^= data[i];
        for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

TEST(Crc32, KnownValues)
{
    struct {
        const char* text;
        uint32_t crc;
    } const cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(c.text), strlen(c.text)), c.crc)
            << c.text;
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

/*
** Every length from 0 to 64 at every start offset within eight bytes: the
** eight-byte steps, the byte tail and every split between them, on
** unaligned starts too; all zeros, all ones, then random bytes.
*/
TEST(Crc32, AgreesWithBitwiseAtEveryLengthAndOffset)
{
    std::mt19937 random(12345);
    std::vector<uint8_t> buffer(64 + 8);
    for (int round = 0; round < 4; round++) {
        for (auto& b : buffer) b = round == 0 ? 0x00 : round == 1 ? 0xFF : (uint8_t)random();
        for (size_t offset = 0; offset < 8; offset++)
            for (size_t length = 0; length <= 64; length++)
                ASSERT_EQ(Crc32(buffer.data() + offset, length),
                          BitwiseCrc32(buffer.data() + offset, length))
                    << "offset " << offset << " length " << length;
    }
}

}  // namespace
