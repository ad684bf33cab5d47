/*
** hwsort: sort lines in headword order, for people who prepare dictionary
** data.  The order is exactly the index's: CompareHeadwords decides, and
** lines that compare equal keep their input order.  The sort is the
** comparator-safe merge of safe_sort/, because the collation is not a strict
** weak ordering on every input (some keys of punctuation compare
** cyclically) and a library sort is undefined under such a comparator.
**
** All input is read into one buffer, each separator is made the key's
** terminator in place, and an array of pointers is sorted: two pointers of
** memory per line besides the text itself.
*/
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#define O_BINARY 0 /* Windows alone would turn CRLF into LF */
#endif
#if !defined(O_NONBLOCK)
#define O_NONBLOCK 0 /* Windows: no FIFO to wait on */
#endif
#if !defined(S_ISSOCK)
#define S_ISSOCK(mode) 0
#endif

#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "orlixdb/file_io.h"
#include "orlixdb/index_format.h"
#include "safe_sort/safe_sort.h"
#include "sort_options.h"

/* Everything read, and the lines found in it. */
struct Input {
    char* bytes;
    size_t size, capacity;
    const void** lines;  /* start of each line, its separator made a NUL */
    size_t count;
    const void** starts; /* input order, kept only when a line holds a NUL */
    const void** keys;   /* with -k: each line's key, NUL-terminated, beside lines */
    char* keyBytes;
};

/* "hwsort: WHAT: STEP: REASON" (no reason when error is 0); exit status 2. */
static int Trouble(const char* what, const char* step, int error = 0)
{
    ToolFail("hwsort", what, step, error);
    return kSortTrouble;
}

/*
** How many keys each line has, one after the other, each ending in a NUL:
** 1 without -k (the line), else one per -k.  Set once, before the sort.
*/
static size_t keyCount = 1;

/* The keys in turn: lines whose key compares equal go to the next one. */
static int32_t Forward(const void* a, const void* b, void*)
{
    const char* p = (const char*)a;
    const char* q = (const char*)b;
    int32_t c = CompareHeadwords(p, q);
    for (size_t n = 1; n < keyCount && c == 0; n++) {
        p += strlen(p) + 1;
        q += strlen(q) + 1;
        c = CompareHeadwords(p, q);
    }
    return c;
}

/* The sign only is flipped: the magnitude could be any int32_t. */
static int32_t Backward(const void* a, const void* b, void*)
{
    int32_t c = Forward(a, b, nullptr);
    return (c < 0) - (c > 0);
}

static bool Reserve(Input* in, size_t more)
{
    if (in->capacity - in->size >= more) return true;
    size_t want = in->capacity < (1u << 20) ? (1u << 20) : in->capacity;
    while (want - in->size < more) {
        if (want > SIZE_MAX / 2) return false;
        want *= 2;
    }
    char* grown = (char*)realloc(in->bytes, want);
    if (grown == nullptr) return false;
    in->bytes = grown, in->capacity = want;
    return true;
}

/*
** An index file is binary: sorted as lines it would come out as garbage,
** and written over it is lost.  Both are refused, the way to its text named.
*/
static bool StartsAsIndex(const char* bytes, size_t size)
{
    return size >= sizeof kIndexMagic && memcmp(bytes, kIndexMagic, sizeof kIndexMagic) == 0;
}

/*
** Append all of fd to the buffer, and a separator when its last line has
** none, so that no line runs on into the next file's first.
*/
static int ReadAll(Input* in, int fd, const char* name, char separator)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        !Reserve(in, (size_t)st.st_size + 1))
        return Trouble(name, "out of memory");
    size_t first = in->size;
    for (;;) {
        if (!Reserve(in, 1 << 16)) return Trouble(name, "out of memory");
        ssize_t got = read(fd, in->bytes + in->size, in->capacity - in->size);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return Trouble(name, "read", ToolLastError());
        }
        in->size += (size_t)got;
    }
    if (StartsAsIndex(in->bytes + first, in->size - first))
        return Trouble(name, ("is an index, not text; 'idxtool dump " + std::string(name) +
                              "' prints its records").c_str());
    if (in->size > first && in->bytes[in->size - 1] != separator) {
        if (!Reserve(in, 1)) return Trouble(name, "out of memory");
        in->bytes[in->size++] = separator;
    }
    return kToolOk;
}

static int ReadFile(Input* in, const char* name, char separator)
{
    if (strcmp(name, "-") == 0) return ReadAll(in, 0, "-", separator);
    int fd = open(name, O_RDONLY | O_BINARY);
    if (fd < 0) return Trouble(name, "open", ToolLastError());
    int status = ReadAll(in, fd, name, separator);
    close(fd);
    return status;
}

/*
** Make every separator a terminator and note where each line starts.  When
** newline-separated text holds a NUL, the terminators no longer tell where a
** line ends, so the starts are kept in input order to find it again.
*/
static int SplitLines(Input* in, char separator)
{
    size_t count = 0;
    for (const char* p = in->bytes; (p = (const char*)memchr(p, separator, in->bytes + in->size - p)); p++)
        count++;
    bool inner = separator != 0 && memchr(in->bytes, 0, in->size) != nullptr;
    in->lines = (const void**)malloc((count ? count : 1) * sizeof *in->lines);
    if (in->lines == nullptr) return Trouble("input", "out of memory");
    char* start = in->bytes;
    for (size_t i = 0; i < count; i++) {
        char* end = (char*)memchr(start, separator, in->bytes + in->size - start);
        *end = 0;
        in->lines[i] = start;
        start = end + 1;
    }
    in->count = count;
    if (inner) {
        in->starts = (const void**)malloc((count ? count : 1) * sizeof *in->starts);
        if (in->starts == nullptr) return Trouble("input", "out of memory");
        memcpy(in->starts, in->lines, count * sizeof *in->starts);
    }
    return kToolOk;
}

/* The length of the line at p, its terminator not counted. */
static size_t LineLength(const Input* in, const char* p)
{
    if (in->starts == nullptr) return strlen(p);
    size_t lo = 0, hi = in->count; /* the first start after p */
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if ((const char*)in->starts[mid] <= p)
            lo = mid + 1;
        else
            hi = mid;
    }
    const char* next = lo < in->count ? (const char*)in->starts[lo] : in->bytes + in->size;
    return (size_t)(next - p) - 1;
}

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

/*
** The end of the field that starts at p: the next separator with -t, else
** the end of the blanks and then of the other bytes that follow them.
*/
static const char* FieldEnd(const char* p, const SortOptions* opt)
{
    if (opt->fieldSeparator >= 0) {
        while (*p != 0 && *p != (char)opt->fieldSeparator) p++;
        return p;
    }
    while (IsBlank(*p)) p++;
    while (*p != 0 && !IsBlank(*p)) p++;
    return p;
}

/*
** -k N,M: fields N to M of the line, as sort(1) takes them: with -t, the
** bytes between separators; without, each field with its leading blanks.
** A line with fewer fields has a shorter key, or an empty one.
*/
static const char* FieldKey(const char* line, const SortOptions* opt, const SortKey& key,
                            size_t* length)
{
    const char* p = line;
    for (unsigned long n = 1; n < key.first && *p != 0; n++) {
        p = FieldEnd(p, opt);
        if (*p != 0 && opt->fieldSeparator >= 0) p++;
    }
    const char* end = p;
    for (unsigned long n = key.first; (key.last == 0 || n <= key.last) && *end != 0; n++) {
        if (n > key.first && opt->fieldSeparator >= 0) end++;
        end = FieldEnd(end, opt);
    }
    *length = (size_t)(end - p);
    return p;
}

/* Copy each line's keys, each NUL-terminated, one after the other, into a buffer of their own. */
static int MakeKeys(Input* in, const SortOptions* opt)
{
    size_t keys = opt->keys.size();
    if (in->size + 1 > SIZE_MAX / keys) return Trouble("input", "out of memory");
    in->keyBytes = (char*)malloc((in->size + 1) * keys);
    in->keys = (const void**)malloc((in->count ? in->count : 1) * sizeof *in->keys);
    if (in->keyBytes == nullptr || in->keys == nullptr) return Trouble("input", "out of memory");
    char* at = in->keyBytes;
    for (size_t i = 0; i < in->count; i++) {
        in->keys[i] = at;
        for (const SortKey& k : opt->keys) {
            size_t length;
            const char* key = FieldKey((const char*)in->lines[i], opt, k, &length);
            memcpy(at, key, length);
            at[length] = 0;
            at += length + 1;
        }
    }
    return kToolOk;
}

/* What the order compares for line i: its key with -k, else the line. */
static const void* KeyAt(const Input* in, size_t i)
{
    return in->keys != nullptr ? in->keys[i] : in->lines[i];
}

/* The sort of -k: slots of the key array, so that each line goes with its key. */
struct SlotOrder {
    SafeSortCompare order;
};

static int32_t CompareSlots(const void* a, const void* b, void* context)
{
    return ((const SlotOrder*)context)->order(*(const void* const*)a, *(const void* const*)b, nullptr);
}

static int SortByKeys(Input* in, const void** scratch, SafeSortCompare order)
{
    const void** slots = (const void**)malloc((in->count ? in->count : 1) * sizeof *slots);
    const void** lines = (const void**)malloc((in->count ? in->count : 1) * sizeof *lines);
    if (slots == nullptr || lines == nullptr) {
        free(slots), free(lines);
        return Trouble("input", "out of memory");
    }
    for (size_t i = 0; i < in->count; i++) slots[i] = &in->keys[i];
    SlotOrder context = {order};
    SafeStableSort(slots, in->count, scratch, CompareSlots, &context);
    for (size_t i = 0; i < in->count; i++) {
        size_t from = (size_t)((const void* const*)slots[i] - in->keys);
        lines[i] = in->lines[from];
        scratch[i] = in->keys[from];
    }
    memcpy(in->lines, lines, in->count * sizeof *lines);
    memcpy(in->keys, scratch, in->count * sizeof *scratch);
    free(slots), free(lines);
    return kToolOk;
}

/*
** Sorting a million lines is mostly waiting for memory: the merges read
** keys scattered over the whole input.  So the lines are sorted in stages,
** and after each stage the text of the lines is copied, in the order just
** found, to the same place in a second buffer: what the next merge reads
** then lies in a few sequential streams.  Every stage sorts with the same
** comparator-safe merge, and the last stage, a sort of all the lines,
** alone decides the result; the stages before it only make it cheap.
*/
struct SortJob {
    const void** lines;
    size_t count;
    const void** scratch;
    SafeSortCompare order;
    char* buffers[2]; /* the text, and room for a copy of it */
};

/*
** Copy the text of lines[0 .. count) in their present order into the other
** buffer, starting at `offset`, where the first of them lay before the
** sort (the lines of a range lie together, the first one lowest).
*/
static void CopyInOrder(const void** lines, size_t count, size_t offset, char* to)
{
    char* end = to + offset;
    for (size_t i = 0; i < count; i++) {
        size_t size = strlen((const char*)lines[i]) + 1;
        memcpy(end, lines[i], size);
        lines[i] = end;
        end += size;
    }
}

/* Blocks of this many lines (a power of two) fit a core's cache. */
static const size_t kBlockLines = 1 << 15;

/* Sort each block and copy it out, then sort the range and copy it back. */
static void* SortRange(void* arg)
{
    const SortJob* job = (const SortJob*)arg;
    size_t offset = (size_t)((const char*)job->lines[0] - job->buffers[0]);
    for (size_t lo = 0; lo < job->count; lo += kBlockLines) {
        size_t n = job->count - lo < kBlockLines ? job->count - lo : kBlockLines;
        size_t blockOffset = (size_t)((const char*)job->lines[lo] - job->buffers[0]);
        SafeStableSort(job->lines + lo, n, job->scratch + lo, job->order, nullptr);
        CopyInOrder(job->lines + lo, n, blockOffset, job->buffers[1]);
    }
    SafeStableSort(job->lines, job->count, job->scratch, job->order, nullptr);
    CopyInOrder(job->lines, job->count, offset, job->buffers[0]);
    return nullptr;
}

static long Cores(void)
{
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return (long)info.dwNumberOfProcessors;
#else
    return sysconf(_SC_NPROCESSORS_ONLN);
#endif
}

/*
** Sort the lines.  Large inputs are sorted in stages: the two parts that
** the final merge joins, each on a thread of its own when there is a
** second core, split where the bottom-up sort splits, so that the last
** call finds every run below its top merge in order.  Text with a NUL
** inside a line is sorted in one stage, for its line ends are found by
** position.
*/
static void SortLines(Input* in, const void** scratch, SafeSortCompare order)
{
    const void** lines = in->lines;
    size_t count = in->count;
    char* spare = nullptr;
    if (count >= 2 * kBlockLines && in->starts == nullptr) spare = (char*)malloc(in->size);
    if (spare != nullptr) {
        size_t split = 1;
        while (split < count - split) split *= 2;
        SortJob left = {lines, split, scratch, order, {in->bytes, spare}};
        SortJob right = {lines + split, count - split, scratch + split, order, {in->bytes, spare}};
        pthread_t thread;
        bool threaded = Cores() > 1 &&
                        pthread_create(&thread, nullptr, SortRange, &right) == 0;
        SortRange(&left);
        if (threaded)
            pthread_join(thread, nullptr);
        else
            SortRange(&right);
        free(spare);
    }
    SafeStableSort(lines, count, scratch, order, nullptr);
}

/*
** Output through one large buffer, to standard output or to -o's
** temporary; a failed write is remembered.
*/
struct Output {
    FILE* file;
    FileTemp* temp;
    char buffer[1 << 16];
    size_t used;
    bool failed;
    int error; /* errno of the first failure */
    FileStatus status; /* the first failure, writing to the temporary */
};

static void Fail(Output* out)
{
    if (!out->failed) out->failed = true, out->error = ToolLastError();
}

static void Flush(Output* out)
{
    if (out->used > 0 && out->temp != nullptr && !out->failed &&
        !FileTempWrite(out->temp, out->buffer, out->used, &out->status))
        out->failed = true, out->error = out->status.error;
    if (out->used > 0 && out->file != nullptr && fwrite(out->buffer, 1, out->used, out->file) != out->used)
        Fail(out);
    out->used = 0;
}

static void WriteLine(Output* out, const char* line, size_t length, char separator)
{
    while (length + 1 > sizeof out->buffer - out->used) {
        size_t room = sizeof out->buffer - out->used;
        if (room > length) room = length;
        memcpy(out->buffer + out->used, line, room);
        out->used += room, line += room, length -= room;
        Flush(out);
        if (length == 0) break;
    }
    memcpy(out->buffer + out->used, line, length);
    out->used += length;
    out->buffer[out->used++] = separator;
}

static void WriteLines(const Input* in, const SortOptions* opt, SafeSortCompare order, Output* out)
{
    const void* kept = nullptr;
    for (size_t i = 0; i < in->count; i++) {
        const char* line = (const char*)in->lines[i];
        if (opt->unique && kept != nullptr && order(kept, KeyAt(in, i), nullptr) == 0) continue;
        WriteLine(out, line, LineLength(in, line), opt->lineEnd);
        kept = KeyAt(in, i);
    }
    Flush(out);
}

/* "FILE: the step: the system's reason", for a failure of -o. */
static int OutputTrouble(const char* output, const FileStatus* status)
{
    return Trouble(output, status->action != nullptr ? status->action : "failed", status->error);
}

/*
** -o: the library's replace, the same as the index job's.  The result goes
** to a temporary file beside FILE, flushed to the disk, which then takes
** FILE's place, and the directory is flushed; so FILE is whole and
** unchanged when anything fails (it may be one of the inputs).  An
** existing FILE's permissions are kept; a symbolic link stays a link and
** the file it names is replaced.
*/
static int WriteToFile(const Input* in, const SortOptions* opt, SafeSortCompare order, Output* out,
                       const FileJob* job)
{
    FileTemp temp;
    FileStatus status = {nullptr, nullptr, 0};
    if (!FileTempCreate(job, &temp, &status)) return OutputTrouble(opt->output, &status);
    out->temp = &temp;
    WriteLines(in, opt, order, out);
    out->temp = nullptr;
    if (out->failed) {
        FileTempDiscard(&temp);
        return OutputTrouble(opt->output, &out->status);
    }
    if (!FileTempCommit(&temp, &status)) return OutputTrouble(opt->output, &status);
    return kToolOk;
}

/* -c: the first line that sorts before the one above it, or equal with -u. */
static int Check(const Input* in, const SortOptions* opt, SafeSortCompare order, const char* name)
{
    for (size_t i = 1; i < in->count; i++) {
        int32_t c = order(KeyAt(in, i - 1), KeyAt(in, i), nullptr);
        if (c > 0 || (opt->unique && c == 0)) {
            const char* line = (const char*)in->lines[i];
            if (!opt->quietCheck)
                ToolSay("hwsort", std::string(name) + ":" + std::to_string(i + 1) + ": disorder: " +
                                      std::string(line, LineLength(in, line)));
            return kSortDisorder;
        }
    }
    return kToolOk;
}

/* Read, sort and write (or check); `job` holds -o's FILE. */
static int Sort(const SortOptions* opt, const char* const* files, int fileCount, const FileJob* job,
                FILE* to, const char* toName)
{
    static Input in;
    int status = kToolOk;
    for (int i = 0; i < fileCount && status == kToolOk; i++) status = ReadFile(&in, files[i], opt->lineEnd);
    if (status == kToolOk) status = SplitLines(&in, opt->lineEnd);
    if (status == kToolOk && !opt->keys.empty()) status = MakeKeys(&in, opt);
    if (status != kToolOk) return status;

    keyCount = opt->keys.empty() ? 1 : opt->keys.size();
    SafeSortCompare order = opt->reverse ? Backward : Forward;
    if (opt->check) return Check(&in, opt, order, files[0]);

    const void** scratch = (const void**)malloc((in.count ? in.count : 1) * sizeof *scratch);
    if (scratch == nullptr) return Trouble("input", "out of memory");
    if (!opt->keys.empty())
        status = SortByKeys(&in, scratch, order);
    else
        SortLines(&in, scratch, order);
    free(scratch);
    if (status != kToolOk) return status;

    static Output out;
    if (job != nullptr) return WriteToFile(&in, opt, order, &out, job);
    out.file = to;
    WriteLines(&in, opt, order, &out);
    if (fflush(to) != 0) Fail(&out);
    if (out.failed) return Trouble(toName, "write", out.error);
    return kToolOk;
}

/* -o FILE that holds an index: exit status 2 with the reason, else 0. */
static int RefuseIndexOutput(const char* output)
{
    char head[sizeof kIndexMagic];
    int fd = open(output, O_RDONLY | O_NONBLOCK | O_BINARY);
    if (fd < 0) return kToolOk;
    struct stat st;
    bool index = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                 read(fd, head, sizeof head) == (ssize_t)sizeof head && StartsAsIndex(head, sizeof head);
    close(fd);
    if (!index) return kToolOk;
    return Trouble(output, "is an index; hwsort writes text over no index (idxtool build makes one)");
}

/*
** -o naming standard output (/dev/stdout), a terminal, a pipe or a device
** is written to directly, as sort does: there is no file to replace, and a
** temporary or a lock beside it cannot be made or means nothing.  *same
** tells standard output itself, which may be a regular file.
*/
static bool IsStream(const char* output, bool* same)
{
    struct stat named, out;
    if (stat(output, &named) != 0) return false;
    *same = fstat(1, &out) == 0 && named.st_dev == out.st_dev && named.st_ino == out.st_ino;
    return *same || S_ISCHR(named.st_mode) || S_ISFIFO(named.st_mode) || S_ISSOCK(named.st_mode);
}

static int SortToStream(const SortOptions* opt, const char* const* names, int fileCount, bool same)
{
    if (same) return Sort(opt, names, fileCount, nullptr, stdout, opt->output);
    FILE* to = fopen(opt->output, "wb");
    if (to == nullptr) return Trouble(opt->output, "open", ToolLastError());
    int status = Sort(opt, names, fileCount, nullptr, to, opt->output);
    if (fclose(to) != 0 && status == kToolOk) status = Trouble(opt->output, "write", ToolLastError());
    return status;
}

int main(int argc, char** argv)
{
    FileJobsCleanUpOnSignals();
#if defined(_WIN32)
    /* Lines are bytes: CRLF stays CRLF, as on the host. */
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
#endif
    static SortOptions opt;
    static std::vector<const char*> files; /* static: the names reachable until exit */
    int status = ParseSortCommandLine(argc, argv, &opt, &files);
    if (status >= 0) return status;
    const char* const* names = files.data();
    int fileCount = (int)files.size();

    if (opt.output == nullptr || opt.check)
        return Sort(&opt, names, fileCount, nullptr, stdout, "standard output");
    status = RefuseIndexOutput(opt.output);
    if (status != kToolOk) return status;
    bool same = false;
    if (IsStream(opt.output, &same)) return SortToStream(&opt, names, fileCount, same);

    /*
    ** -o holds FILE's job lock from before the inputs are read until it is
    ** replaced, so runs that write FILE from FILE itself queue, and neither
    ** loses what the other wrote.
    */
    static FileJob job;
    FileStatus begun = {nullptr, nullptr, 0};
    if (FileJobBegin(opt.output, kFileLockWaitMs, &job, &begun) != kFileJobStarted)
        return OutputTrouble(opt.output, &begun);
    status = Sort(&opt, names, fileCount, &job, nullptr, opt.output);
    FileJobEnd(&job);
    return status;
}
