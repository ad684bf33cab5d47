#include "record_sort.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <vector>

#include "run_file.h"

/*
** A record in memory and in a run file: the key's parts, each ending in a
** NUL, the payload's size in 7-bit groups (low first, high bit: more), and
** the payload.  A record is sorted through a pointer to its first byte,
** which is also its key's first part, so the comparator takes it as it is.
*/
static const char* KeyEnd(const char* record, unsigned parts)
{
    for (unsigned n = 0; n < parts; n++) record += strlen(record) + 1;
    return record;
}

static size_t PutSize(char* at, size_t size)
{
    size_t n = 0;
    for (; size >= 0x80; size >>= 7) at[n++] = (char)(0x80 | (size & 0x7F));
    at[n++] = (char)size;
    return n;
}

/* Decode the size at `at`, within `limit` bytes; 0 when it is not all there. */
static size_t GetSize(const char* at, size_t limit, size_t* size)
{
    size_t value = 0;
    for (size_t n = 0; n < limit && n < 10; n++) {
        value |= (size_t)(at[n] & 0x7F) << (7 * n);
        if (!(at[n] & 0x80)) return *size = value, n + 1;
    }
    return 0;
}

/* The bytes of the whole record at `record`, found in memory. */
static size_t RecordSize(const char* record, unsigned parts)
{
    const char* p = KeyEnd(record, parts);
    size_t payload = 0, n = GetSize(p, 10, &payload);
    return (size_t)(p - record) + n + payload;
}

/*
** The size of the record that starts at `at` when all of it lies within
** `available` bytes, else 0.  Only what is there is read.
*/
static size_t CompleteSize(const char* at, size_t available, unsigned parts)
{
    size_t used = 0;
    for (unsigned n = 0; n < parts; n++) {
        const char* nul = (const char*)memchr(at + used, 0, available - used);
        if (nul == nullptr) return 0;
        used = (size_t)(nul - at) + 1;
    }
    size_t payload = 0, n = GetSize(at + used, available - used, &payload);
    if (n == 0 || payload > available - used - n) return 0;
    return used + n + payload;
}

static bool Emit(const char* record, unsigned parts, RecordSink sink, void* context)
{
    const char* p = KeyEnd(record, parts);
    size_t payload = 0, n = GetSize(p, 10, &payload);
    return sink(record, p + n, payload, context);
}

/* ---- sorting in memory ------------------------------------------------ */

/*
** Sorting a million records is mostly waiting for memory: the merges read
** keys scattered over the whole buffer.  So records are sorted in stages,
** and after each stage their bytes are copied, in the order just found, to
** the same place in a second buffer: what the next merge reads then lies in
** a few sequential streams.  Every stage sorts with the same comparator-safe
** merge, and the last stage, a sort of all the records, alone decides the
** result; the stages before it only make it cheap.
*/
struct SortJob {
    const void** items;
    size_t count;
    const void** scratch;
    const RecordSortSettings* settings;
    char* buffers[2]; /* the records, and room for a copy of them */
};

/*
** Copy the records items[0 .. count) in their present order into `to`,
** starting at `offset`, where the first of them lay before the sort (the
** records of a range lie together, the first one lowest).
*/
static void CopyInOrder(const void** items, size_t count, size_t offset, char* to, unsigned parts)
{
    char* end = to + offset;
    for (size_t i = 0; i < count; i++) {
        size_t size = RecordSize((const char*)items[i], parts);
        memcpy(end, items[i], size);
        items[i] = end;
        end += size;
    }
}

/* Blocks of this many records (a power of two) fit a core's cache. */
static const size_t kBlockRecords = 1 << 15;

/* Sort each block and copy it out, then sort the range and copy it back. */
static void* SortRange(void* arg)
{
    const SortJob* job = (const SortJob*)arg;
    const RecordSortSettings* s = job->settings;
    size_t offset = (size_t)((const char*)job->items[0] - job->buffers[0]);
    for (size_t lo = 0; lo < job->count; lo += kBlockRecords) {
        size_t n = job->count - lo < kBlockRecords ? job->count - lo : kBlockRecords;
        size_t blockOffset = (size_t)((const char*)job->items[lo] - job->buffers[0]);
        SafeStableSort(job->items + lo, n, job->scratch + lo, s->compare, s->context);
        CopyInOrder(job->items + lo, n, blockOffset, job->buffers[1], s->keyParts);
    }
    SafeStableSort(job->items, job->count, job->scratch, s->compare, s->context);
    CopyInOrder(job->items, job->count, offset, job->buffers[0], s->keyParts);
    return nullptr;
}

/*
** Sort items[0 .. count), whose records lie in order from `bytes` on and
** take `size` bytes.  Large sorts go in stages: the two parts the final
** merge joins, each on a thread of its own when there is a second core,
** split where the bottom-up sort splits, so that the last call finds every
** run below its top merge in order.  Without memory for the copies, the
** one call sorts alone, to the same result.
*/
static void SortInMemory(const void** items, size_t count, const void** scratch, char* bytes, size_t size,
                         const RecordSortSettings* s)
{
    char* spare = nullptr;
    if (count >= 2 * kBlockRecords) spare = (char*)malloc(size);
    if (spare != nullptr) {
        size_t split = 1;
        while (split < count - split) split *= 2;
        SortJob left = {items, split, scratch, s, {bytes, spare}};
        SortJob right = {items + split, count - split, scratch + split, s, {bytes, spare}};
        pthread_t thread;
        bool threaded = ProcessorCount() > 1 && pthread_create(&thread, nullptr, SortRange, &right) == 0;
        SortRange(&left);
        if (threaded)
            pthread_join(thread, nullptr);
        else
            SortRange(&right);
        free(spare);
    }
    SafeStableSort(items, count, scratch, s->compare, s->context);
}

/* ---- runs in files ---------------------------------------------------- */

/*
** A sorted run: the records at input positions [start, start + count),
** `bytes` bytes at `offset` in files[file]; the last one at lastOffset.
*/
struct Run {
    uint64_t start, count;
    size_t file;
    uint64_t offset, bytes, lastOffset;
};

enum { kStreamBytes = 1 << 20 };

/* Buffered appending to a run file, noting where each record went. */
struct RunWriter {
    RunFile* file;
    uint64_t written; /* bytes in the file, the buffer's included */
    uint64_t last;    /* where the last record appended starts */
    std::vector<char> buffer;
    size_t used;
};

static bool WriterFlush(RunWriter* w, RecordSortStatus* status)
{
    if (w->used > 0 && !RunFileAppend(w->file, w->buffer.data(), w->used, &status->error))
        return status->action = "write a temporary file", false;
    w->used = 0;
    return true;
}

static bool WriterAppend(RunWriter* w, const char* record, size_t size, RecordSortStatus* status)
{
    w->last = w->written;
    w->written += size;
    if (size > w->buffer.size() - w->used) {
        if (!WriterFlush(w, status)) return false;
        if (size > w->buffer.size()) {
            if (!RunFileAppend(w->file, record, size, &status->error))
                return status->action = "write a temporary file", false;
            return true;
        }
    }
    memcpy(w->buffer.data() + w->used, record, size);
    w->used += size;
    return true;
}

/* Reading the records of one run, each whole in the buffer when handed out. */
struct RunReader {
    RunFile* file;
    uint64_t offset, end; /* what is still to be read from the file */
    std::vector<char> buffer;
    size_t at, filled;
    size_t size; /* of the current record at buffer[at], 0 at the end */
};

static bool ReaderNext(RunReader* r, unsigned parts, RecordSortStatus* status)
{
    r->at += r->size;
    for (;;) {
        r->size = CompleteSize(r->buffer.data() + r->at, r->filled - r->at, parts);
        if (r->size > 0) return true;
        if (r->offset == r->end) {
            if (r->at == r->filled) return true;
            status->action = "read a temporary file", status->error = EIO;
            return false;
        }
        memmove(r->buffer.data(), r->buffer.data() + r->at, r->filled - r->at);
        r->filled -= r->at, r->at = 0;
        if (r->filled == r->buffer.size()) r->buffer.resize(r->buffer.size() * 2);
        size_t want = r->buffer.size() - r->filled, got = 0;
        if (want > r->end - r->offset) want = (size_t)(r->end - r->offset);
        if (!RunFileRead(r->file, r->offset, r->buffer.data() + r->filled, want, &got, &status->error))
            return status->action = "read a temporary file", false;
        if (got == 0) {
            status->action = "read a temporary file", status->error = EIO;
            return false;
        }
        r->offset += got, r->filled += got;
    }
}

static bool ReaderOpen(RunReader* r, RunFile* file, uint64_t offset, uint64_t end, unsigned parts,
                       RecordSortStatus* status)
{
    r->file = file, r->offset = offset, r->end = end;
    r->buffer.resize(kStreamBytes / 4);
    r->at = r->filled = r->size = 0;
    return ReaderNext(r, parts, status);
}

static const char* ReaderRecord(const RunReader* r)
{
    return r->size > 0 ? r->buffer.data() + r->at : nullptr;
}

struct RecordSort {
    RecordSortSettings settings;
    size_t budget;
    char* bytes;          /* the records not yet in a run, in input order */
    size_t size, capacity;
    const void** items;   /* grown by realloc, which moves large blocks without a copy */
    size_t count, itemCapacity;
    uint64_t base;        /* the input position of items[0] */
    size_t spills;        /* runs written from memory */
    std::vector<RunFile*> files;
    std::vector<Run> runs;
    RunWriter writer;     /* to files.back() while runs are made */
};

size_t RecordSortDefaultBuffer(void)
{
    uint64_t eighth = PhysicalMemory() / 8;
    const uint64_t low = (uint64_t)64 << 20, high = (uint64_t)1 << 30;
    if (eighth < low) eighth = low;
    if (eighth > high) eighth = high;
    return (size_t)eighth;
}

RecordSort* RecordSortBegin(const RecordSortSettings* settings)
{
    RecordSort* sort = new (std::nothrow) RecordSort();
    if (sort == nullptr) return nullptr;
    sort->settings = *settings;
    if (sort->settings.keyParts == 0) sort->settings.keyParts = 1;
    sort->budget = settings->bufferBytes > 0 ? settings->bufferBytes : RecordSortDefaultBuffer();
    return sort;
}

/* Memory the records in the buffer take to sort: theirs, the copy's, two pointers each. */
static size_t Footprint(size_t bytes, size_t count)
{
    return 2 * bytes + 2 * count * sizeof(void*);
}

static bool StartRunFile(RecordSort* sort, RecordSortStatus* status)
{
    RunFile* file = RunFileCreate(sort->settings.tempDir, &status->error);
    if (file == nullptr) return status->action = "create a temporary file", false;
    sort->files.push_back(file);
    sort->writer.file = file;
    sort->writer.written = sort->writer.used = 0;
    sort->writer.buffer.resize(kStreamBytes);
    return true;
}

/*
** Sort the first records of the buffer into a run of its own and keep the
** rest.  The run is the largest block of the bottom-up sort that begins at
** the buffer's first record and fits in it: a power of two records, at a
** position that is a multiple of it.  Sorted runs are then exactly the
** blocks the in-memory sort would have sorted, and the merges of
** MergeRunFiles are exactly its merges.
*/
static bool Spill(RecordSort* sort, RecordSortStatus* status)
{
    size_t count = sort->count, block = 1;
    while (block * 2 <= count && sort->base % (block * 2) == 0) block *= 2;
    if (sort->files.empty() && !StartRunFile(sort, status)) return false;
    const void** items = sort->items;
    size_t blockBytes = block < count ? (size_t)((const char*)items[block] - sort->bytes) : sort->size;
    std::unique_ptr<const void*[]> scratch(new (std::nothrow) const void*[block]);
    if (scratch == nullptr) return status->action = "out of memory", status->error = 0, false;
    SortInMemory(items, block, scratch.get(), sort->bytes, blockBytes, &sort->settings);
    Run run = {sort->base, block, sort->files.size() - 1, sort->writer.written, blockBytes, 0};
    for (size_t i = 0; i < block; i++) {
        const char* record = (const char*)items[i];
        if (!WriterAppend(&sort->writer, record, RecordSize(record, sort->settings.keyParts), status))
            return false;
    }
    run.lastOffset = sort->writer.last;
    sort->runs.push_back(run);
    sort->spills++;
    memmove(sort->bytes, sort->bytes + blockBytes, sort->size - blockBytes);
    sort->size -= blockBytes;
    sort->count -= block;
    memmove(items, items + block, sort->count * sizeof *items);
    for (size_t i = 0; i < sort->count; i++) items[i] = (const char*)items[i] - blockBytes;
    sort->base += block;
    return true;
}

bool RecordSortAdd(RecordSort* sort, const char* key, size_t keySize, const char* payload,
                   size_t payloadSize, RecordSortStatus* status)
{
    size_t size = keySize + 10 + payloadSize;
    if (sort->count > 0 && Footprint(sort->size + size, sort->count + 1) > sort->budget &&
        !Spill(sort, status))
        return false;
    if (sort->count == sort->itemCapacity) {
        size_t want = sort->itemCapacity < 4096 ? 4096 : sort->itemCapacity * 2;
        const void** grown = (const void**)realloc(sort->items, want * sizeof *grown);
        if (grown == nullptr) return status->action = "out of memory", status->error = 0, false;
        sort->items = grown, sort->itemCapacity = want;
    }
    if (sort->capacity - sort->size < size) {
        size_t want = sort->capacity < (1u << 16) ? (1u << 16) : sort->capacity;
        while (want - sort->size < size) want *= 2;
        char* grown = (char*)realloc(sort->bytes, want);
        if (grown == nullptr) return status->action = "out of memory", status->error = 0, false;
        for (size_t i = 0; i < sort->count; i++)
            sort->items[i] = grown + ((const char*)sort->items[i] - sort->bytes);
        sort->bytes = grown, sort->capacity = want;
    }
    char* at = sort->bytes + sort->size;
    memcpy(at, key, keySize);
    size_t n = PutSize(at + keySize, payloadSize);
    memcpy(at + keySize + n, payload, payloadSize);
    sort->items[sort->count++] = at;
    sort->size += keySize + n + payloadSize;
    return true;
}

/*
** Merge two neighbouring runs as MergeRuns of safe_sort.cpp merges two
** neighbouring blocks: not at all when the left one's last record does not
** sort after the right one's first, else taking the right record only when
** it sorts strictly before the left.  To a file (out) or, for the last
** merge, to the sink.
*/
static bool MergePair(RecordSort* sort, const Run& left, const Run& right, RunWriter* out, RecordSink sink,
                      void* context, RecordSortStatus* status)
{
    const RecordSortSettings* s = &sort->settings;
    RunReader last, l, r;
    if (!ReaderOpen(&last, sort->files[left.file], left.lastOffset, left.offset + left.bytes, s->keyParts,
                    status) ||
        !ReaderOpen(&r, sort->files[right.file], right.offset, right.offset + right.bytes, s->keyParts, status) ||
        !ReaderOpen(&l, sort->files[left.file], left.offset, left.offset + left.bytes, s->keyParts, status))
        return false;
    bool merge = ReaderRecord(&last) != nullptr && ReaderRecord(&r) != nullptr &&
                 s->compare(ReaderRecord(&last), ReaderRecord(&r), s->context) > 0;
    last.buffer.clear();
    for (;;) {
        RunReader* next;
        if (ReaderRecord(&l) == nullptr && ReaderRecord(&r) == nullptr) return true;
        if (ReaderRecord(&l) == nullptr)
            next = &r;
        else if (ReaderRecord(&r) == nullptr || !merge)
            next = &l;
        else
            next = s->compare(ReaderRecord(&l), ReaderRecord(&r), s->context) > 0 ? &r : &l;
        const char* record = ReaderRecord(next);
        if (out != nullptr ? !WriterAppend(out, record, next->size, status)
                           : !Emit(record, s->keyParts, sink, context))
            return out == nullptr ? (status->action = "write", status->error = 0, false) : false;
        if (!ReaderNext(next, s->keyParts, status)) return false;
    }
}

/* Close the files no run reads any more. */
static void CloseUnused(RecordSort* sort)
{
    for (size_t f = 0; f < sort->files.size(); f++) {
        bool used = false;
        for (const Run& run : sort->runs) used = used || run.file == f;
        if (!used && sort->files[f] != nullptr) RunFileClose(sort->files[f]), sort->files[f] = nullptr;
    }
}

/*
** The bottom-up sort's merges, width by width: at width w, the runs that
** cover [lo, lo + w) and [lo + w, lo + 2w) for lo a multiple of 2w are
** merged into one.  Each width's merges go to a new file; the last merge,
** of everything, goes to the sink.
*/
static bool MergeRunFiles(RecordSort* sort, RecordSink sink, void* context, RecordSortStatus* status)
{
    uint64_t total = sort->base;
    if (sort->runs.size() == 1) {
        const Run& run = sort->runs[0];
        RunReader r;
        if (!ReaderOpen(&r, sort->files[run.file], run.offset, run.offset + run.bytes, sort->settings.keyParts,
                        status))
            return false;
        for (; ReaderRecord(&r) != nullptr; )
            if (!Emit(ReaderRecord(&r), sort->settings.keyParts, sink, context))
                return status->action = "write", status->error = 0, false;
            else if (!ReaderNext(&r, sort->settings.keyParts, status))
                return false;
        return true;
    }
    for (uint64_t width = 1; sort->runs.size() > 1; width *= 2) {
        std::vector<Run> next;
        bool started = false;
        for (size_t i = 0; i < sort->runs.size(); i++) {
            const Run& left = sort->runs[i];
            bool pair = left.start % (2 * width) == 0 && left.count == width && i + 1 < sort->runs.size();
            if (!pair) {
                next.push_back(left);
                continue;
            }
            const Run& right = sort->runs[i + 1];
            i++;
            if (left.start == 0 && right.start + right.count == total)
                return MergePair(sort, left, right, nullptr, sink, context, status);
            if (!started && !StartRunFile(sort, status)) return false;
            started = true;
            Run merged = {left.start, left.count + right.count, sort->files.size() - 1, sort->writer.written,
                          0, 0};
            if (!MergePair(sort, left, right, &sort->writer, nullptr, nullptr, status)) return false;
            merged.bytes = sort->writer.written - merged.offset;
            merged.lastOffset = sort->writer.last;
            next.push_back(merged);
        }
        if (started && !WriterFlush(&sort->writer, status)) return false;
        sort->runs.swap(next);
        CloseUnused(sort);
    }
    return true;
}

bool RecordSortFinish(RecordSort* sort, RecordSink sink, void* context, RecordSortStatus* status)
{
    const RecordSortSettings* s = &sort->settings;
    if (sort->runs.empty()) {
        size_t count = sort->count;
        /* Not cleared: the sort writes scratch before it reads it. */
        std::unique_ptr<const void*[]> scratch(new (std::nothrow) const void*[count ? count : 1]);
        if (scratch == nullptr) return status->action = "out of memory", status->error = 0, false;
        SortInMemory(sort->items, count, scratch.get(), sort->bytes, sort->size, s);
        for (size_t i = 0; i < count; i++)
            if (!Emit((const char*)sort->items[i], s->keyParts, sink, context))
                return status->action = "write", status->error = 0, false;
        return true;
    }
    while (sort->count > 0)
        if (!Spill(sort, status)) return false;
    if (!WriterFlush(&sort->writer, status)) return false;
    free(sort->bytes);
    sort->bytes = nullptr, sort->size = sort->capacity = 0;
    return MergeRunFiles(sort, sink, context, status);
}

void RecordSortEnd(RecordSort* sort)
{
    if (sort == nullptr) return;
    for (RunFile* file : sort->files) RunFileClose(file);
    free(sort->bytes);
    free(sort->items);
    delete sort;
}

size_t RecordSortRuns(const RecordSort* sort)
{
    return sort->spills;
}
