#ifndef ORLIXDB_CRC32_H
#define ORLIXDB_CRC32_H

#include <stddef.h>
#include <stdint.h>

/*
** CRC-32 as in zlib and PNG (reflected polynomial 0xEDB88320, initial and
** final value 0xFFFFFFFF): Crc32("123456789", 9) is 0xCBF43926.
*/
uint32_t Crc32(const uint8_t* data, size_t size);

#endif
