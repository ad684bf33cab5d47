/*
** The sort engine of hwsort and idxtool build.
**
** A record is a key of one or more parts, each NUL-terminated, and bytes
** that travel with it (the line, an index reference).  Records are put in
** the order SafeStableSort gives their keys, byte for byte the same, in
** memory when they fit the buffer and else through sorted runs in
** anonymous temporary files merged in the bottom-up sort's own pairs.  So
** the order never depends on the buffer size, even under a comparator that
** is not a strict weak ordering.  Both cores sort when the input is large.
*/
#ifndef ORLIX_SAFE_SORT_RECORD_SORT_H
#define ORLIX_SAFE_SORT_RECORD_SORT_H

#include <stddef.h>
#include <stdint.h>

#include "safe_sort.h"

struct RecordSortSettings {
    /* Compares two keys, each given by its first part. */
    SafeSortCompare compare;
    void* context;
    unsigned keyParts;   /* NUL-terminated parts in a key, at least 1 */
    size_t bufferBytes;  /* memory for records in sorting; 0: RecordSortDefaultBuffer() */
    const char* tempDir; /* where runs go; null: TMPDIR, /tmp (Windows: the user's temp) */
};

/* A failure: the step that failed and the system's error (errno or GetLastError). */
struct RecordSortStatus {
    const char* action;
    int error;
};

/* Where the sorted records go; false stops the sort (a failed write). */
typedef bool (*RecordSink)(const char* key, const char* payload, size_t payloadSize, void* context);

struct RecordSort;

/*
** The default buffer: an eighth of physical memory, at least 64 MiB and at
** most 1 GiB, so that a sort leaves the machine room and large inputs still
** sort in few runs.
*/
size_t RecordSortDefaultBuffer(void);

/* A new empty sort; null when out of memory. */
RecordSort* RecordSortBegin(const RecordSortSettings* settings);

/*
** Add a record: `key` holds keyParts NUL-terminated parts (keySize bytes
** in all, terminators included), `payload` payloadSize bytes of anything.
** May sort and write a run; false and *status when that fails.
*/
bool RecordSortAdd(RecordSort* sort, const char* key, size_t keySize, const char* payload,
                   size_t payloadSize, RecordSortStatus* status);

/*
** Hand every record to `sink` in order.  False and *status on failure; a
** sink's false is the failure {"write", 0}, the sink knowing its reason.
** When no run was written (RecordSortRuns is 0 before this call), the keys
** and payloads handed to the sink stay where they are until RecordSortEnd.
*/
bool RecordSortFinish(RecordSort* sort, RecordSink sink, void* context, RecordSortStatus* status);

/* Release everything, run files included; null is allowed. */
void RecordSortEnd(RecordSort* sort);

/* How many runs went to temporary files (0: all was sorted in memory). */
size_t RecordSortRuns(const RecordSort* sort);

#endif
