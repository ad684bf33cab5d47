/*
** Reading and writing the bytes of an index file (docs/index-format.md).
**
** Everything here works on memory: a file is read whole, checked whole,
** and only then turned into records, so a file that lies about itself is
** refused before anything is allocated for its contents.
*/
#ifndef ORLIXDB_INDEX_FORMAT_H
#define ORLIXDB_INDEX_FORMAT_H

#include <stddef.h>
#include <stdint.h>

enum {
    kIndexHeaderSize = 16,     /* magic 8, version 2, flags 2, count 4 */
    kIndexTrailerSize = 4,     /* CRC-32 of everything before it */
    kIndexVersion = 1,
    kIndexMaxKey = 1024,       /* key bytes, terminator not stored */
    kIndexMinRecord = 2 + 1 + 4 /* length, one key byte, reference */
};

/* The largest file the format allows: 2 GiB - 1 bytes. */
static const uint64_t kIndexMaxFile = 0x7FFFFFFFu;

extern const uint8_t kIndexMagic[8];

/* What is wrong with a file, for the tools' messages; kIndexFine if nothing. */
enum IndexProblem {
    kIndexFine = 0,
    kIndexTruncated,     /* shorter than an empty index */
    kIndexTooLarge,      /* longer than the format allows */
    kIndexBadMagic,
    kIndexBadVersion,    /* unknown version or nonzero flags */
    kIndexBadChecksum,
    kIndexBadCount,      /* the count does not fit the file's size */
    kIndexEmptyKey,
    kIndexKeyTooLong,
    kIndexNulInKey,
    kIndexRecordOverrun, /* a record runs past the records' end */
    kIndexTrailingBytes  /* bytes left between the last record and the checksum */
};

/* A record in memory; key is NUL-terminated and holds no other NUL. */
struct IndexRecord {
    const char* key;
    uint32_t length;
    uint32_t reference;
};

/* What IndexScan learnt of a file. */
struct IndexScan {
    enum IndexProblem problem;
    uint32_t count;     /* records the header announces */
    uint32_t badRecord; /* the record at fault, for record problems */
    size_t keyBytes;    /* sum of key lengths, valid when problem is kIndexFine */
};

/*
** Check data[0 .. size) completely: size, magic, version, checksum, then
** every record against the format's limits.  Reads nothing outside the
** buffer whatever it holds.  Returns the first problem found.
*/
enum IndexProblem IndexCheck(const uint8_t* data, size_t size, struct IndexScan* scan);

/*
** Turn a buffer that IndexCheck accepted into scan->count records, copying
** the keys with terminators into arena, which has room for
** scan->keyBytes + scan->count bytes.
*/
void IndexLoad(const uint8_t* data, const struct IndexScan* scan, struct IndexRecord* records,
               char* arena);

/* Bytes of the file holding these records, or 0 past kIndexMaxFile. */
uint64_t IndexImageSize(const struct IndexRecord* const* items, size_t count);

/* Write the file image of items[0 .. count) to out, IndexImageSize bytes. */
void IndexWriteImage(uint8_t* out, const struct IndexRecord* const* items, size_t count);

const char* IndexProblemText(enum IndexProblem problem);

#endif
