/*
** FNV-1a, 64 bits: the one hash of the library.  It names long files and
** shared objects apart and spreads records over the merge's table; none
** of those needs more than a fast, well-mixed hash of a few bytes.
*/
#ifndef ORLIXDB_FNV1A_H
#define ORLIXDB_FNV1A_H

#include <stddef.h>
#include <stdint.h>

enum : uint64_t { kFnv1aStart = 14695981039346656037ull };

static inline uint64_t Fnv1aByte(uint64_t hash, uint8_t byte)
{
    return (hash ^ byte) * 1099511628211ull;
}

static inline uint64_t Fnv1a(uint64_t hash, const void* data, size_t size)
{
    const uint8_t* p = (const uint8_t*)data;
    for (size_t i = 0; i < size; i++) hash = Fnv1aByte(hash, p[i]);
    return hash;
}

#endif
