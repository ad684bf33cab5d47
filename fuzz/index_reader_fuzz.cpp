/*
** The index reader on arbitrary bytes.  Whatever the input, IndexCheck
** must answer without reading outside it; what it accepts must load, and
** writing the loaded records again must give back exactly the input, so
** the checker never accepts a file the writer would not produce.  The
** records are then ordered by the collation, which must keep them all.
**
** Random bytes almost never carry a valid checksum, so each input is also
** tried with its last four bytes set to the right CRC-32: that is what
** drives the record parser.
*/
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "collation/compare_headwords.h"
#include "orlixdb/crc32.h"
#include "orlixdb/index_format.h"
#include "orlixdb/little_endian.h"
#include "safe_sort/safe_sort.h"

static int32_t ByKey(const void* a, const void* b, void*)
{
    return CompareHeadwords(static_cast<const IndexRecord*>(a)->key,
                            static_cast<const IndexRecord*>(b)->key);
}

static void Exercise(const uint8_t* data, size_t size)
{
    IndexScan scan;
    if (IndexCheck(data, size, &scan) != kIndexFine) return;

    IndexRecord* records = (IndexRecord*)malloc(scan.count * sizeof *records + 1);
    char* arena = (char*)malloc(scan.keyBytes + scan.count + 1);
    const void** items = (const void**)malloc(scan.count * sizeof *items + 1);
    const void** scratch = (const void**)malloc(scan.count * sizeof *scratch + 1);
    IndexLoad(data, &scan, records, arena);

    for (uint32_t n = 0; n < scan.count; n++) items[n] = &records[n];
    uint64_t imageSize = IndexImageSize((const IndexRecord* const*)items, scan.count);
    if (imageSize != size) abort();
    uint8_t* image = (uint8_t*)malloc(size);
    IndexWriteImage(image, (const IndexRecord* const*)items, scan.count);
    if (memcmp(image, data, size) != 0) abort();

    SafeStableSort(items, scan.count, scratch, ByKey, nullptr);
    uint8_t* seen = (uint8_t*)calloc(scan.count + 1, 1);
    for (uint32_t n = 0; n < scan.count; n++) {
        size_t at = (size_t)(static_cast<const IndexRecord*>(items[n]) - records);
        if (at >= scan.count || seen[at]++) abort();
    }

    free(seen);
    free(image);
    free(scratch);
    free(items);
    free(arena);
    free(records);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Exercise(data, size);
    if (size < kIndexHeaderSize + kIndexTrailerSize) return 0;
    uint8_t* sealed = (uint8_t*)malloc(size);
    memcpy(sealed, data, size);
    uint32_t crc = Crc32(sealed, size - 4);
    Store32(sealed + size - 4, crc);
    Exercise(sealed, size);
    free(sealed);
    return 0;
}
