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

#include "collation/compare_headwords.h"
#include "orlixdb/file_io.h"
#include "safe_sort/safe_sort.h"

enum { kExitOk = 0, kExitDisorder = 1, kExitTrouble = 2 };

static const char kUsage[] =
    "usage: hwsort [OPTION]... [FILE]...\n"
    "Write the lines of the FILEs (standard input when there are none, or for\n"
    "\"-\") in headword order, the order of the dictionary's index.  Lines that\n"
    "compare equal keep their input order.\n"
    "\n"
    "  -o FILE      write to FILE instead of standard output; FILE may also be\n"
    "               an input, and is replaced only once the whole result is written\n"
    "  -c, --check  only check that the input is sorted: report the first line\n"
    "               out of order and exit 1 (one FILE at most)\n"
    "  -u           keep only the first of each run of lines that compare equal;\n"
    "               with -c, lines that compare equal are out of order too\n"
    "  -r           reverse the order (equal lines still keep input order)\n"
    "  -z           lines end in a NUL byte, not a newline\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "With newlines as separators, a NUL byte inside a line ends the line's key;\n"
    "the whole line is written.  A last line without a separator gets one.\n"
    "Exit status: 0 success, 1 input out of order (-c), 2 trouble.\n";

struct Options {
    const char* output;  /* -o, or null for standard output */
    bool check, unique, reverse;
    char separator;
};

/* Everything read, and the lines found in it. */
struct Input {
    char* bytes;
    size_t size, capacity;
    const void** lines;  /* start of each line, its separator made a NUL */
    size_t count;
    const void** starts; /* input order, kept only when a line holds a NUL */
};

static int Trouble(const char* what, const char* detail)
{
    fprintf(stderr, "hwsort: %s: %s\n", what, detail);
    return kExitTrouble;
}

static int32_t Forward(const void* a, const void* b, void*)
{
    return CompareHeadwords((const char*)a, (const char*)b);
}

/* The sign only is flipped: the magnitude could be any int32_t. */
static int32_t Backward(const void* a, const void* b, void*)
{
    int32_t c = CompareHeadwords((const char*)a, (const char*)b);
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
            return Trouble(name, strerror(errno));
        }
        in->size += (size_t)got;
    }
    if (in->size > first && in->bytes[in->size - 1] != separator) {
        if (!Reserve(in, 1)) return Trouble(name, "out of memory");
        in->bytes[in->size++] = separator;
    }
    return kExitOk;
}

static int ReadFile(Input* in, const char* name, char separator)
{
    if (strcmp(name, "-") == 0) return ReadAll(in, 0, "-", separator);
    int fd = open(name, O_RDONLY);
    if (fd < 0) return Trouble(name, strerror(errno));
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
    return kExitOk;
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
        bool threaded = sysconf(_SC_NPROCESSORS_ONLN) > 1 &&
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
    if (!out->failed) out->failed = true, out->error = errno;
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

static void WriteLines(const Input* in, const Options* opt, SafeSortCompare order, Output* out)
{
    const char* kept = nullptr;
    for (size_t i = 0; i < in->count; i++) {
        const char* line = (const char*)in->lines[i];
        if (opt->unique && kept != nullptr && order(kept, line, nullptr) == 0) continue;
        WriteLine(out, line, LineLength(in, line), opt->separator);
        kept = line;
    }
    Flush(out);
}

/* "FILE: the step: the system's reason", for a failure of -o. */
static int OutputTrouble(const char* output, const FileStatus* status)
{
    char reason[256];
    fprintf(stderr, "hwsort: %s: %s%s%s\n", output, status->action != nullptr ? status->action : "failed",
            status->error != 0 ? ": " : "",
            status->error != 0 ? FileErrorText(status->error, reason, sizeof reason) : "");
    return kExitTrouble;
}

/*
** -o: the library's replace, the same as the index job's.  The result goes
** to a temporary file beside FILE, flushed to the disk, which then takes
** FILE's place, and the directory is flushed; so FILE is whole and
** unchanged when anything fails (it may be one of the inputs).  An
** existing FILE's permissions are kept; a symbolic link stays a link and
** the file it names is replaced.
*/
static int WriteToFile(const Input* in, const Options* opt, SafeSortCompare order, Output* out,
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
    return kExitOk;
}

/* -c: the first line that sorts before the one above it, or equal with -u. */
static int Check(const Input* in, const Options* opt, SafeSortCompare order, const char* name)
{
    for (size_t i = 1; i < in->count; i++) {
        int32_t c = order(in->lines[i - 1], in->lines[i], nullptr);
        if (c > 0 || (opt->unique && c == 0)) {
            const char* line = (const char*)in->lines[i];
            fprintf(stderr, "hwsort: %s:%zu: disorder: ", name, i + 1);
            fwrite(line, 1, LineLength(in, line), stderr);
            fputc('\n', stderr);
            return kExitDisorder;
        }
    }
    return kExitOk;
}

/*
** Options may come before, between or after the file names, as in sort;
** after "--" every argument is a file name.  The names are gathered in
** files[0 .. *count).  Returns false after reporting misuse.
*/
static bool ParseArguments(int argc, char** argv, Options* opt, const char** files, int* count)
{
    bool optionsEnd = false;
    *count = 0;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (optionsEnd || arg[0] != '-' || arg[1] == 0) {
            files[(*count)++] = arg;
        } else if (strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (strcmp(arg, "--check") == 0) {
            opt->check = true;
        } else if (strcmp(arg, "--version") == 0) {
            /* At once, as sort does: later arguments are not looked at. */
            printf("hwsort %s\n", ORLIX_VERSION);
            exit(kExitOk);
        } else if (arg[1] == '-') {
            fprintf(stderr, "hwsort: unknown option '%s'\n", arg);
            return false;
        } else {
            for (const char* p = arg + 1; *p != 0; p++) {
                if (*p == 'o') {
                    /* The rest of the argument, or the next one, is the name. */
                    if (p[1] == 0 && i + 1 == argc) {
                        fprintf(stderr, "hwsort: option -o needs a file name\n");
                        return false;
                    }
                    opt->output = p[1] != 0 ? p + 1 : argv[++i];
                    break;
                }
                if (*p == 'c')
                    opt->check = true;
                else if (*p == 'u')
                    opt->unique = true;
                else if (*p == 'r')
                    opt->reverse = true;
                else if (*p == 'z')
                    opt->separator = 0;
                else {
                    fprintf(stderr, "hwsort: unknown option '-%c'\n", *p);
                    return false;
                }
            }
        }
    }
    return true;
}

/* Read, sort and write (or check); `job` holds -o's FILE. */
static int Sort(const Options* opt, const char* const* files, int fileCount, const FileJob* job)
{
    static Input in;
    int status = kExitOk;
    for (int i = 0; i < fileCount && status == kExitOk; i++) status = ReadFile(&in, files[i], opt->separator);
    if (status == kExitOk) status = SplitLines(&in, opt->separator);
    if (status != kExitOk) return status;

    SafeSortCompare order = opt->reverse ? Backward : Forward;
    if (opt->check) return Check(&in, opt, order, files[0]);

    const void** scratch = (const void**)malloc((in.count ? in.count : 1) * sizeof *scratch);
    if (scratch == nullptr) return Trouble("input", "out of memory");
    SortLines(&in, scratch, order);
    free(scratch);

    static Output out;
    if (job != nullptr) return WriteToFile(&in, opt, order, &out, job);
    out.file = stdout;
    WriteLines(&in, opt, order, &out);
    if (fflush(stdout) != 0) Fail(&out);
    if (out.failed) return Trouble("standard output", strerror(out.error));
    return kExitOk;
}

/*
** --help among the options shows the usage whatever else the line holds.
** Only an option counts: the argument that names -o's file, and every
** argument after "--", is a file name, as ParseArguments reads it.
*/
static bool WantsHelp(int argc, char** argv)
{
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; i++) {
        const char* arg = argv[i];
        if (strcmp(arg, "--help") == 0) return true;
        if (arg[0] != '-' || arg[1] == '-' || arg[1] == 0) continue;
        const char* o = strchr(arg + 1, 'o');
        if (o != nullptr && o[1] == 0) i++; /* -o FILE: skip FILE */
    }
    return false;
}

int main(int argc, char** argv)
{
    FileJobsCleanUpOnSignals();
    if (WantsHelp(argc, argv)) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    Options opt = {nullptr, false, false, false, '\n'};
    static const char** files; /* static: reachable until exit */
    files = (const char**)malloc((size_t)argc * sizeof *files);
    int fileCount = 0;
    if (files == nullptr) return Trouble("arguments", "out of memory");
    if (!ParseArguments(argc, argv, &opt, files, &fileCount)) {
        fputs("Try 'hwsort --help'.\n", stderr);
        return kExitTrouble;
    }
    if (opt.check && fileCount > 1) {
        fprintf(stderr, "hwsort: -c takes one file at most\n");
        return kExitTrouble;
    }
    if (fileCount == 0) files[fileCount++] = "-";

    /*
    ** -o holds FILE's job lock from before the inputs are read until it is
    ** replaced, so runs that write FILE from FILE itself queue, and neither
    ** loses what the other wrote.
    */
    if (opt.output == nullptr || opt.check) return Sort(&opt, files, fileCount, nullptr);
    static FileJob job;
    FileStatus begun = {nullptr, nullptr, 0};
    if (FileJobBegin(opt.output, kFileLockWaitMs, &job, &begun) != kFileJobStarted)
        return OutputTrouble(opt.output, &begun);
    int status = Sort(&opt, files, fileCount, &job);
    FileJobEnd(&job);
    return status;
}
