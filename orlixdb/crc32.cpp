#include "crc32.h"

#include "little_endian.h"

/*
** Slicing-by-8: entry[k][n] is the CRC of byte n followed by k zero
** bytes, so eight table lookups, independent of each other, advance the
** CRC by eight bytes, where a lookup per byte would wait for the one
** before.  Every input byte and the whole output file pass through here
** (docs/performance.md has what it saved).  The tables are made by the
** compiler.
*/
struct Crc32Tables {
    uint32_t entry[8][256];
    constexpr Crc32Tables() : entry()
    {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; n++)
            for (int k = 1; k < 8; k++)
                entry[k][n] = entry[0][entry[k - 1][n] & 0xFF] ^ (entry[k - 1][n] >> 8);
    }
};

static constexpr Crc32Tables kTables;

uint32_t Crc32(const uint8_t* data, size_t size)
{
    const uint32_t(*t)[256] = kTables.entry;
    uint32_t c = 0xFFFFFFFFu;
    for (; size >= 8; data += 8, size -= 8) {
        uint32_t lo = c ^ Load32(data), hi = Load32(data + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; size > 0; data++, size--) c = t[0][(c ^ *data) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
