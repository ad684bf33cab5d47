/*
** The stand-in database library: the index job behind export 12.
**
** The job merges the records of a target index and of a list of source
** indexes into one index ordered by the caller's collation and puts it in
** place of the target in one atomic, durable step.  docs/index-format.md
** describes the files.
*/
#ifndef ORLIXDB_ORLIXDB_H
#define ORLIXDB_ORLIXDB_H

#include <stddef.h>
#include <stdint.h>

#include "contract/orlixdb_export12.h"

/* Results of the job.  The utility ignores them; the tools do not. */
enum {
    kOrlixOk = 0,
    kOrlixCannotRead = 1,   /* a file exists but could not be read */
    kOrlixCorrupt = 2,      /* a file is not a well-formed, intact index */
    kOrlixWriteFailed = 3,  /* the new index could not be written in place */
    kOrlixNoMemory = 4,     /* not enough memory for the merge */
    kOrlixBadCall = 5,      /* null path or collation, or a bad source count */
    kOrlixTooLarge = 6,     /* the merged index would exceed the format's limits */
    kOrlixLockTimeout = 7   /* another job on the target held its lock too long */
};

/* The most source indexes one call takes. */
enum { kOrlixMaxSources = 1024 };

/*
** Merge target and sources[0 .. count) into target.  A missing file counts
** as an empty index; sources are only read.  The result holds each distinct
** (key, reference) record once, ordered by compare; records that compare
** equal keep the order target first, then the sources in list order, each
** in its file's order.  compare is only ever given two NUL-terminated keys.
**
** On success the target is replaced atomically and durably, or left alone
** when the merge would not change a byte of it; a run with nothing to index
** and no target creates no file.  On any failure the target is as it was
** and no temporary file remains.  A temporary file left by a run that was
** killed is removed by the next run.
**
** Jobs on one target run one at a time: each holds the target's lock from
** reading it to replacing it, so a job merges into what the one before it
** wrote and no job's records are lost.  A job waits for the lock while
** the jobs ahead of it come and go; it fails with kOrlixLockTimeout, the
** target left alone, only when one holder kept the lock for the whole
** bound (kFileLockWaitMs, orlixdb/file_io.h).
*/
int32_t OrlixMergeIndexes(const char* target, int32_t count, const char* const* sources,
                          OrlixKeyCompare compare);

/*
** What a failed job was doing, for the tools' messages: the file, the step
** and the system's reason, so that nothing need be read again to explain
** a failure.  `input` is 0 for the target and n for sources[n - 1] when
** the failure is about reading that input, -1 otherwise (the lock, the
** temporary, the replace).  `action` is null after success.
*/
struct OrlixMergeReport {
    int32_t input;
    const char* action;     /* e.g. "cannot open", "is a FIFO, not a file" */
    int32_t systemError;    /* errno, or GetLastError() on Windows; 0 when none */
    int32_t indexProblem;   /* with kOrlixCorrupt: the enum IndexProblem of the input */
    uint32_t badRecord;     /* with a record problem: the record at fault, from 0 */
    bool targetReplaced;    /* the one failure after the replace: its directory not flushed */
    const char* path;       /* the file concerned: one of the caller's paths, whole */
};

/*
** What a merge made of one input: the target (input 0) or sources[n - 1]
** (input n).  records counts the file's records; kept those the merged
** index keeps, each a (key, reference) no earlier input or record held.
*/
struct OrlixMergeInput {
    bool missing;     /* no such file: counted as an empty index */
    uint32_t records;
    uint32_t kept;
};

/* The merged index, built in memory: the very bytes the job writes. */
struct OrlixMergedImage {
    uint8_t* bytes;   /* free() it */
    size_t size;
    uint32_t records;
    bool unchanged;   /* the job writes nothing: these are the target's bytes,
                         or nothing is indexed and there is no target */
};

/*
** A merge as the tools and tests ask for it: OrlixMergeIndexes with a
** lock wait of lockWaitMs (kFileLockWaitMs, orlixdb/file_lock.h, for the
** default), or, with dryRun, only the image the job would write: read as
** the job reads, with no lock taken and nothing written (a job that runs
** meanwhile may change the target).  inputs (when not null) has count + 1
** entries, target first, and is filled as far as the inputs were read,
** also on failure.
*/
struct OrlixMergeRequest {
    const char* target;
    int32_t count;
    const char* const* sources;
    OrlixKeyCompare compare;
    uint32_t lockWaitMs;
    bool dryRun;
    struct OrlixMergeInput* inputs;
};

/*
** What came of it: on failure, what failed; with dryRun and success, the
** image (its bytes are the caller's to free()), otherwise nothing there.
*/
struct OrlixMergeResult {
    struct OrlixMergeReport report;
    struct OrlixMergedImage image;
};

int32_t OrlixMerge(const struct OrlixMergeRequest* request, struct OrlixMergeResult* result);

/* Text for a result code, for messages. */
const char* OrlixResultText(int32_t result);

#endif
