#include <stdlib.h>
#include <string.h>

#include "file_lock.h"
#include "file_read.h"
#include "file_replace.h"
#include "fnv1a.h"
#include "index_format.h"
#include "large_block.h"
#include "orlixdb.h"
#include "safe_sort/safe_sort.h"

/* One input file as read: its bytes, or absent when the file is missing. */
struct Input {
    uint8_t* data;
    size_t size;
    struct IndexScan scan;
};

/*
** A de-duplication slot: the record's hash beside its number (n + 1; 0 is
** an empty slot), so that a probe passing a different record is settled in
** the table without a load from the records.
*/
struct HashSlot {
    uint32_t hash;
    uint32_t record;
};

/* Everything a merge allocates, so that one function can release it all. */
struct Merge {
    struct Input* inputs;
    size_t inputCount;
    struct IndexRecord* records;
    char* arena;
    const void** items;
    struct HashSlot* slots;
    uint8_t* image;
    size_t imageSize;
    size_t recordCount;
    bool unchanged;                /* the image is what the target holds */
    struct OrlixMergeInput* tally; /* the caller's, or null */
};

static void ReleaseMerge(struct Merge* m)
{
    for (size_t n = 0; m->inputs != nullptr && n < m->inputCount; n++) free(m->inputs[n].data);
    free(m->inputs);
    free(m->records);
    free(m->arena);
    free(m->items);
    free(m->slots);
    free(m->image);
}

/*
** malloc for count elements of `size` bytes, null on overflow as on lack;
** advised as a large block, which every caller's array is.
*/
static void* AllocArray(size_t count, size_t size)
{
    if (size != 0 && count > (size_t)-1 / size) return nullptr;
    void* block = malloc(count * size + 1);
    AdviseLargeBlock(block, count * size + 1);
    return block;
}

/*
** Read and check one input.  A missing file is an empty index; anything
** else that is not an intact index stops the whole job before any output
** exists.  *status says what failed reading it; a corrupt input's problem
** is in input->scan.
*/
static int32_t ReadInput(const char* path, struct Input* input, struct FileStatus* status)
{
    enum FileRead read = FileReadWhole(path, kIndexMaxFile, &input->data, &input->size, status);
    if (read == kFileMissing) return kOrlixOk;
    if (read == kFileNoMemory) return kOrlixNoMemory;
    if (read == kFileTooLarge) {
        input->scan.problem = kIndexTooLarge;
        return kOrlixCorrupt;
    }
    if (read != kFileReadOk) return kOrlixCannotRead;
    if (IndexCheck(input->data, input->size, &input->scan) == kIndexFine) return kOrlixOk;
    *status = FileStatus{"is not an intact index", path, 0};
    return kOrlixCorrupt;
}

/* FNV-1a over the key bytes and the reference: what makes two records the same. */
static uint32_t HashRecord(const struct IndexRecord* r)
{
    uint8_t reference[4] = {(uint8_t)r->reference, (uint8_t)(r->reference >> 8),
                            (uint8_t)(r->reference >> 16), (uint8_t)(r->reference >> 24)};
    uint64_t h = Fnv1a(Fnv1a(kFnv1aStart, r->key, r->length), reference, sizeof reference);
    return (uint32_t)(h ^ h >> 32);
}

static bool SameRecord(const struct IndexRecord* a, const struct IndexRecord* b)
{
    return a->reference == b->reference && a->length == b->length &&
           memcmp(a->key, b->key, a->length) == 0;
}

/* How many records ahead the slot of a record is fetched; a power of two. */
enum { kProbeAhead = 16 };

/*
** Put into m->items, in input order, the first occurrence of every
** distinct record and return how many there are.  Sameness is decided on
** the bytes, never by the collation: keys that merely sort together
** ('abc' and 'abc ', say) are different records and both stay, and a
** comparator's answers cannot make a duplicate survive.  Open addressing
** over a table at least twice the record count, so probing ends.
**
** The table is far larger than the caches and each record lands in it at
** random, so the hash of a record is taken kProbeAhead records early and
** its slot fetched then; by the time it is probed the slot is in cache.
*/
static size_t KeepFirstOccurrences(struct Merge* m, size_t total, size_t tableSize)
{
    uint32_t ahead[kProbeAhead];
    size_t mask = tableSize - 1, unique = 0;
    for (size_t n = 0; n < total && n < kProbeAhead; n++) {
        ahead[n] = HashRecord(&m->records[n]);
        __builtin_prefetch(&m->slots[ahead[n] & mask], 1);
    }
    for (size_t n = 0; n < total; n++) {
        const struct IndexRecord* r = &m->records[n];
        uint32_t hash = ahead[n % kProbeAhead];
        if (n + kProbeAhead < total) {
            uint32_t later = HashRecord(&m->records[n + kProbeAhead]);
            ahead[n % kProbeAhead] = later;
            __builtin_prefetch(&m->slots[later & mask], 1);
        }
        size_t slot = hash & mask;
        struct HashSlot* s;
        for (;;) {
            s = &m->slots[slot];
            if (s->record == 0) break;
            if (s->hash == hash && SameRecord(&m->records[s->record - 1], r)) break;
            slot = (slot + 1) & mask;
        }
        if (s->record != 0) continue;
        s->hash = hash;
        s->record = (uint32_t)(n + 1);
        m->items[unique++] = r;
    }
    return unique;
}

/*
** Count what each input kept: m->items[0 .. unique) are in input order,
** and input n's records follow those of the inputs before it.
*/
static void TallyKept(struct Merge* m, size_t unique)
{
    size_t k = 0, end = 0;
    for (size_t n = 0; n < m->inputCount; n++) {
        size_t first = k;
        end += m->inputs[n].scan.count;
        while (k < unique && (const struct IndexRecord*)m->items[k] < m->records + end) k++;
        m->tally[n].kept = (uint32_t)(k - first);
    }
}

static int32_t CompareRecordKeys(const void* a, const void* b, void* context)
{
    OrlixKeyCompare compare = *(const OrlixKeyCompare*)context;
    return compare(((const struct IndexRecord*)a)->key, ((const struct IndexRecord*)b)->key);
}

/* The smallest power of two that is at least 2 * count, or 0 past uint32 slots. */
static size_t TableSizeFor(size_t count)
{
    size_t size = 2;
    while (size < 2 * count && size <= 0x7FFFFFFFu) size *= 2;
    return size < 2 * count ? 0 : size;
}

/*
** All inputs are in m->inputs and intact.  Load their records into one
** arena in the stable order (target, then sources in list order), drop
** repeats, sort, and leave the new file image in m->image.
*/
static int32_t BuildImage(struct Merge* m, OrlixKeyCompare compare)
{
    uint64_t total = 0, arenaBytes = 0;
    for (size_t n = 0; n < m->inputCount; n++) {
        total += m->inputs[n].scan.count;
        arenaBytes += m->inputs[n].scan.keyBytes + m->inputs[n].scan.count;
    }
    if (total > 0x7FFFFFFFu || arenaBytes > (size_t)-1 / 2) return kOrlixTooLarge;

    size_t tableSize = TableSizeFor((size_t)total);
    if (tableSize == 0) return kOrlixTooLarge;
    m->records = (struct IndexRecord*)AllocArray((size_t)total, sizeof *m->records);
    m->arena = (char*)malloc((size_t)arenaBytes + 1);
    m->items = (const void**)AllocArray((size_t)total, sizeof *m->items);
    m->slots = (struct HashSlot*)calloc(tableSize, sizeof *m->slots);
    if (!m->records || !m->arena || !m->items || !m->slots) return kOrlixNoMemory;
    AdviseLargeBlock(m->arena, (size_t)arenaBytes + 1);
    AdviseLargeBlock(m->slots, tableSize * sizeof *m->slots);

    size_t loaded = 0;
    char* arena = m->arena;
    for (size_t n = 0; n < m->inputCount; n++) {
        struct Input* in = &m->inputs[n];
        if (in->data == nullptr) continue;
        IndexLoad(in->data, &in->scan, m->records + loaded, arena);
        loaded += in->scan.count;
        arena += in->scan.keyBytes + in->scan.count;
        if (n > 0) { /* the target's bytes are kept to compare the result with */
            free(in->data);
            in->data = nullptr;
        }
    }

    size_t unique = KeepFirstOccurrences(m, loaded, tableSize);
    if (m->tally != nullptr) TallyKept(m, unique);
    /*
    ** The table, done with, is the sort's scratch: at least two slots per
    ** record hold a pointer per record, and its pages are already mapped,
    ** so the sort costs neither a new block nor page faults.  Released
    ** before the image is allocated, which lowers the peak.
    */
    static_assert(2 * sizeof(struct HashSlot) >= sizeof(void*), "scratch fits in the table");
    SafeStableSort(m->items, unique, (const void**)(void*)m->slots, CompareRecordKeys, &compare);
    free(m->slots);
    m->slots = nullptr;

    const struct IndexRecord* const* sorted = (const struct IndexRecord* const*)m->items;
    uint64_t size = IndexImageSize(sorted, unique);
    if (size == 0) return kOrlixTooLarge;
    m->image = (uint8_t*)malloc((size_t)size);
    if (m->image == nullptr) return kOrlixNoMemory;
    AdviseLargeBlock(m->image, (size_t)size);
    IndexWriteImage(m->image, sorted, unique);
    m->imageSize = (size_t)size;
    m->recordCount = unique;
    return kOrlixOk;
}

static bool ValidCall(const char* target, int32_t count, const char* const* sources,
                      OrlixKeyCompare compare)
{
    if (target == nullptr || *target == 0 || compare == nullptr) return false;
    if (count < 0 || count > kOrlixMaxSources || (count > 0 && sources == nullptr)) return false;
    for (int32_t n = 0; n < count; n++)
        if (sources[n] == nullptr || *sources[n] == 0) return false;
    return true;
}

/* Note in the report what failed: the input (or -1), the step, the file, the reason. */
static void Note(struct OrlixMergeReport* report, int32_t input, const struct FileStatus* status,
                 const char* path)
{
    report->input = input;
    report->action = status->action != nullptr ? status->action : "failed";
    report->systemError = status->error;
    report->path = path;
}

/*
** Read and check every input, then build the merged image in m: the one
** place a merge's result is made, for the job and for a dry run.  Nothing
** is written.  readTarget is the file read for the target; `target` is
** its name for the report.  m->unchanged tells the job to leave the
** target alone: the image equals it byte for byte (so a second run with
** the same sources leaves the file, its time included, untouched), or
** there is nothing at all to index and no target (so no file appears).
*/
static int32_t BuildMerged(struct Merge* m, const char* readTarget, const char* target,
                           int32_t count, const char* const* sources, OrlixKeyCompare compare,
                           struct OrlixMergeReport* report)
{
    m->inputCount = (size_t)count + 1;
    m->inputs = (struct Input*)calloc(m->inputCount, sizeof *m->inputs);
    int32_t result = m->inputs != nullptr ? kOrlixOk : kOrlixNoMemory;
    struct FileStatus status = {nullptr, nullptr, 0};
    for (size_t n = 0; result == kOrlixOk && n < m->inputCount; n++) {
        const char* path = n == 0 ? readTarget : sources[n - 1];
        result = ReadInput(path, &m->inputs[n], &status);
        if (result == kOrlixOk && m->tally != nullptr) {
            m->tally[n].missing = m->inputs[n].data == nullptr;
            m->tally[n].records = m->inputs[n].scan.count;
        }
        if (result == kOrlixOk) continue;
        Note(report, (int32_t)n, &status, n == 0 ? target : path);
        report->indexProblem = m->inputs[n].scan.problem;
        report->badRecord = m->inputs[n].scan.badRecord;
    }
    if (result == kOrlixOk) result = BuildImage(m, compare);
    if (result == kOrlixOk) {
        const struct Input* old = &m->inputs[0];
        m->unchanged = old->data != nullptr ? old->size == m->imageSize &&
                                                  memcmp(old->data, m->image, m->imageSize) == 0
                                            : m->recordCount == 0;
    }
    return result;
}

/*
** A job runs in three stages, nothing written until the last: read and
** check every input, build the new image in memory, then replace the
** target, or, when the image leaves it as it is, make sure it is on the
** disk.  The job holds the target's lock throughout, so no other job
** reads or replaces the target meanwhile.  A dry run is the first two
** stages, without the lock.
*/
int32_t OrlixMerge(const struct OrlixMergeRequest* request, struct OrlixMergeResult* result)
{
    memset(result, 0, sizeof *result);
    struct OrlixMergeReport* report = &result->report;
    report->input = -1;
    const char* target = request->target;
    if (!ValidCall(target, request->count, request->sources, request->compare)) return kOrlixBadCall;
    if (request->inputs != nullptr)
        memset(request->inputs, 0, ((size_t)request->count + 1) * sizeof *request->inputs);

    struct Merge m;
    memset(&m, 0, sizeof m);
    m.tally = request->inputs;
    int32_t code;
    if (request->dryRun) {
        code = BuildMerged(&m, target, target, request->count, request->sources, request->compare, report);
        if (code == kOrlixOk) {
            result->image = OrlixMergedImage{m.image, m.imageSize, (uint32_t)m.recordCount, m.unchanged};
            m.image = nullptr;
        }
        ReleaseMerge(&m);
        return code;
    }
    struct FileJob job;
    struct FileStatus status = {nullptr, nullptr, 0};
    enum FileJobStart start = FileJobBegin(target, request->lockWaitMs, &job, &status);
    if (start != kFileJobStarted) {
        Note(report, -1, &status, target);
        return start == kFileJobBusy ? kOrlixLockTimeout : kOrlixWriteFailed;
    }
    code = BuildMerged(&m, job.target, target, request->count, request->sources, request->compare, report);
    if (code == kOrlixOk && (m.unchanged ? !FileJobKeep(&job, &status)
                                         : !FileJobReplace(&job, m.image, m.imageSize, &status))) {
        code = kOrlixWriteFailed;
        Note(report, -1, &status, status.path);
        report->targetReplaced = status.action == kFileDirectoryNotFlushed;
    }
    ReleaseMerge(&m);
    FileJobEnd(&job);
    return code;
}

/* Export 12's merge: the default bound, no report. */
int32_t OrlixMergeIndexes(const char* target, int32_t count, const char* const* sources,
                          OrlixKeyCompare compare)
{
    struct OrlixMergeRequest request = {target, count, sources, compare, kFileLockWaitMs, false, nullptr};
    struct OrlixMergeResult result;
    return OrlixMerge(&request, &result);
}

const char* OrlixResultText(int32_t result)
{
    switch (result) {
    case kOrlixOk: return "ok";
    case kOrlixCannotRead: return "a file could not be read";
    case kOrlixCorrupt: return "a file is not an intact index";
    case kOrlixWriteFailed: return "the new index could not be written";
    case kOrlixNoMemory: return "out of memory";
    case kOrlixBadCall: return "invalid arguments";
    case kOrlixTooLarge: return "the merged index would be too large";
    case kOrlixLockTimeout: return "another job kept the index locked for too long";
    }
    return "unknown result";
}
