/*
** hwsort: sort lines in headword order, for people who prepare dictionary
** data.  The order is exactly the index's: CompareHeadwords decides, and
** lines that compare equal keep their input order.  The sorting, merging
** and checking are the line sort of safe_sort/, the engine idxtool build
** sorts with too; this file reads the command line and writes the result.
*/
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#define O_BINARY 0 /* Windows alone would turn CRLF into LF */
#endif
#include <fcntl.h>
#if !defined(O_NONBLOCK)
#define O_NONBLOCK 0 /* Windows: no FIFO to wait on */
#endif
#if !defined(S_ISSOCK)
#define S_ISSOCK(mode) 0
#endif

#include "common/tool_common.h"
#include "orlixdb/file_io.h"
#include "orlixdb/index_format.h"
#include "safe_sort/line_sort.h"
#include "safe_sort/run_file.h"
#include "sort_options.h"

/* "hwsort: WHAT: STEP: REASON" (no reason when error is 0); exit status 2. */
static int Trouble(const char* what, const char* step, int error = 0)
{
    ToolFail("hwsort", what, step, error);
    return kSortTrouble;
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

/* The sort's sink: each line with its end, into the output buffer. */
struct LineWrite {
    Output* out;
    char lineEnd;
};

static bool WriteOne(const char* line, size_t length, void* context)
{
    const LineWrite* w = (const LineWrite*)context;
    WriteLine(w->out, line, length, w->lineEnd);
    return !w->out->failed;
}

/* Sort, merge or check the files, writing to `out`; Flush is the caller's. */
static int SortTo(const LineSortOptions* opt, const char* const* files, int fileCount, Output* out)
{
    LineWrite write = {out, opt->lineEnd};
    LineSortProblem problem = {std::string(), nullptr, 0, 0, std::string()};
    int status = LineSortFiles(opt, files, (size_t)fileCount, WriteOne, &write, &problem);
    if (status == kLineSortDisorder) {
        if (!opt->quietCheck)
            ToolSay("hwsort", problem.what + ":" + std::to_string(problem.line) + ": disorder: " + problem.text);
        return kSortDisorder;
    }
    if (status == kLineSortOk || problem.what.empty()) return kToolOk; /* a failed write: the caller's */
    return Trouble(problem.what.c_str(), problem.step, problem.error);
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
static int WriteToFile(const LineSortOptions* opt, const char* const* files, int fileCount, Output* out,
                       const FileJob* job)
{
    FileTemp temp;
    FileStatus status = {nullptr, nullptr, 0};
    if (!FileTempCreate(job, &temp, &status)) return OutputTrouble(opt->output, &status);
    out->temp = &temp;
    int result = SortTo(opt, files, fileCount, out);
    if (result == kToolOk) Flush(out);
    out->temp = nullptr;
    if (result != kToolOk || out->failed) {
        FileTempDiscard(&temp);
        return result != kToolOk ? result : OutputTrouble(opt->output, &out->status);
    }
    if (!FileTempCommit(&temp, &status)) return OutputTrouble(opt->output, &status);
    return kToolOk;
}

/* Sort, merge or check, and write; `job` holds -o's FILE. */
static int Sort(const LineSortOptions* opt, const char* const* files, int fileCount, const FileJob* job,
                FILE* to, const char* toName)
{
    static Output out;
    if (job != nullptr) return WriteToFile(opt, files, fileCount, &out, job);
    out.file = to;
    int status = SortTo(opt, files, fileCount, &out);
    if (status != kToolOk) return status;
    Flush(&out);
    if (fflush(to) != 0) Fail(&out);
    if (out.failed) return Trouble(toName, "write", out.error);
    return kToolOk;
}

/*
** An index file is binary: sorted as lines it would come out as garbage,
** and written over it is lost.  Both are refused, the way to its text named.
*/
static bool StartsAsIndex(const char* bytes, size_t size)
{
    return size >= sizeof kIndexMagic && memcmp(bytes, kIndexMagic, sizeof kIndexMagic) == 0;
}

/* A named FILE that is an index: exit status 2 with the way to its text, else 0. */
static int RefuseIndexInputs(const std::vector<const char*>& files)
{
    for (const char* name : files) {
        char head[sizeof kIndexMagic];
        int fd = strcmp(name, "-") != 0 ? open(name, O_RDONLY | O_NONBLOCK | O_BINARY) : -1;
        if (fd < 0) continue;
        struct stat st;
        bool index = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                     read(fd, head, sizeof head) == (ssize_t)sizeof head && StartsAsIndex(head, sizeof head);
        close(fd);
        if (index)
            return Trouble(name, ("is an index, not text; 'idxtool dump " + std::string(name) +
                                  "' prints its records").c_str());
    }
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

static int SortToStream(const LineSortOptions* opt, const char* const* names, int fileCount, bool same)
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
    static LineSortOptions opt;
    static std::vector<const char*> files; /* static: the names reachable until exit */
    int status = ParseSortCommandLine(argc, argv, &opt, &files);
    if (status >= 0) return status;
    const char* const* names = files.data();
    int fileCount = (int)files.size();
    status = RefuseIndexInputs(files);
    if (status != kToolOk) return status;
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
