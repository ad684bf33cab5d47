/*
** Little-endian integers in byte buffers, as the index files store them.
** Bytes are assembled by hand, so no alignment or host byte order is
** assumed.  The stores return the position after what they wrote.
*/
#ifndef ORLIXDB_LITTLE_ENDIAN_H
#define ORLIXDB_LITTLE_ENDIAN_H

#include <stdint.h>

static inline uint32_t Load16(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }

static inline uint32_t Load32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static inline uint8_t* Store16(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    return p + 2;
}

static inline uint8_t* Store32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
    return p + 4;
}

#endif
