#include "index_format.h"

#include <string.h>

#include "crc32.h"
#include "little_endian.h"

const uint8_t kIndexMagic[8] = {'O', 'R', 'L', 'I', 'X', 'I', 'D', 'X'};

/*
** The header and the checksum, before any record is looked at.  A count
** larger than the bytes can hold at the smallest record size is refused
** here, so no caller ever sizes an allocation by a count that lies.
*/
static enum IndexProblem CheckFrame(const uint8_t* data, size_t size, struct IndexScan* scan)
{
    if (size < kIndexHeaderSize + kIndexTrailerSize) return kIndexTruncated;
    if ((uint64_t)size > kIndexMaxFile) return kIndexTooLarge;
    if (memcmp(data, kIndexMagic, sizeof kIndexMagic) != 0) return kIndexBadMagic;
    if (Load16(data + 8) != kIndexVersion || Load16(data + 10) != 0) return kIndexBadVersion;
    size_t body = size - kIndexTrailerSize;
    if (Crc32(data, body) != Load32(data + body)) return kIndexBadChecksum;
    scan->count = Load32(data + 12);
    if (scan->count > (body - kIndexHeaderSize) / kIndexMinRecord) return kIndexBadCount;
    return kIndexFine;
}

enum IndexProblem IndexCheck(const uint8_t* data, size_t size, struct IndexScan* scan)
{
    scan->count = 0;
    scan->badRecord = 0;
    scan->keyBytes = 0;
    scan->problem = CheckFrame(data, size, scan);
    if (scan->problem != kIndexFine) return scan->problem;

    size_t at = kIndexHeaderSize, end = size - kIndexTrailerSize;
    for (uint32_t n = 0; n < scan->count; n++) {
        scan->badRecord = n;
        if (end - at < 2) return scan->problem = kIndexRecordOverrun;
        uint32_t length = Load16(data + at);
        if (length == 0) return scan->problem = kIndexEmptyKey;
        if (length > kIndexMaxKey) return scan->problem = kIndexKeyTooLong;
        if (end - at - 2 < (size_t)length + 4) return scan->problem = kIndexRecordOverrun;
        if (memchr(data + at + 2, 0, length) != nullptr) return scan->problem = kIndexNulInKey;
        at += 2 + length + 4;
        scan->keyBytes += length;
    }
    scan->badRecord = 0;
    if (at != end) return scan->problem = kIndexTrailingBytes;
    return kIndexFine;
}

void IndexLoad(const uint8_t* data, const struct IndexScan* scan, struct IndexRecord* records,
               char* arena)
{
    const uint8_t* p = data + kIndexHeaderSize;
    for (uint32_t n = 0; n < scan->count; n++) {
        uint32_t length = Load16(p);
        memcpy(arena, p + 2, length);
        arena[length] = 0;
        records[n].key = arena;
        records[n].length = length;
        records[n].reference = Load32(p + 2 + length);
        arena += length + 1;
        p += 2 + length + 4;
    }
}

uint64_t IndexImageSize(const struct IndexRecord* const* items, size_t count)
{
    uint64_t size = kIndexHeaderSize + kIndexTrailerSize;
    for (size_t n = 0; n < count && size <= kIndexMaxFile; n++) size += 2 + items[n]->length + 4;
    return size <= kIndexMaxFile && count <= 0xFFFFFFFFu ? size : 0;
}

void IndexWriteImage(uint8_t* out, const struct IndexRecord* const* items, size_t count)
{
    uint8_t* p = out;
    memcpy(p, kIndexMagic, sizeof kIndexMagic);
    p = Store16(p + 8, kIndexVersion);
    p = Store16(p, 0);
    p = Store32(p, (uint32_t)count);
    for (size_t n = 0; n < count; n++) {
        p = Store16(p, items[n]->length);
        memcpy(p, items[n]->key, items[n]->length);
        p = Store32(p + items[n]->length, items[n]->reference);
    }
    Store32(p, Crc32(out, (size_t)(p - out)));
}

const char* IndexProblemText(enum IndexProblem problem)
{
    switch (problem) {
    case kIndexFine: return "well-formed";
    case kIndexTruncated: return "truncated: shorter than an empty index";
    case kIndexTooLarge: return "larger than an index may be (2 GiB)";
    case kIndexBadMagic: return "not an index file (wrong magic)";
    case kIndexBadVersion: return "unsupported format version or flags";
    case kIndexBadChecksum: return "checksum mismatch (truncated or damaged)";
    case kIndexBadCount: return "record count does not fit the file size";
    case kIndexEmptyKey: return "empty key";
    case kIndexKeyTooLong: return "key longer than 1024 bytes";
    case kIndexNulInKey: return "NUL byte inside a key";
    case kIndexRecordOverrun: return "record runs past the end of the records";
    case kIndexTrailingBytes: return "bytes after the last record";
    }
    return "unknown problem";
}
