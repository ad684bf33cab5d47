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

#include "common/arguments.h"
#include "common/tool_common.h"
#include "orlixdb/file_io.h"
#include "safe_sort/line_sort.h"
#include "safe_sort/run_file.h"

enum { kExitOk = 0, kExitDisorder = 1, kExitTrouble = 2 };

static const ToolOption kOptions[] = {
    {'o', "output", true,
     "  -o FILE      write to FILE instead of standard output; FILE may also be\n"
     "               an input, and is replaced only once the whole result is written\n"},
    {'c', "check", false,
     "  -c, --check  only check that the input is sorted: report the first line\n"
     "               out of order and exit 1 (one FILE at most)\n"},
    {'u', "unique", false,
     "  -u           keep only the first of each run of lines that compare equal;\n"
     "               with -c, lines that compare equal are out of order too\n"},
    {'r', "reverse", false, "  -r           reverse the order (equal lines still keep input order)\n"},
    {'z', "zero-terminated", false, "  -z           lines end in a NUL byte, not a newline\n"},
    {'t', "field-separator", true,
     "  -t SEP       fields are separated by the byte SEP ('\\t' is a TAB), not by\n"
     "               the change from blanks to other bytes\n"},
    {'k', "key", true,
     "  -k N[,M]     compare fields N to M (to the end of the line without M),\n"
     "               counted from 1, instead of the whole line; -t '\\t' -k 1,1\n"
     "               sorts idxtool build's text by its key\n"},
    {'m', "merge", false, "  -m, --merge  merge FILEs that are each in order already, a line of each at a time\n"},
    {'S', "buffer-size", true,
     "  -S SIZE      sort in at most SIZE of memory (K, M, G; N% of memory); the\n"
     "               default is an eighth of memory, from 64M to 1G\n"},
    {'T', "temporary-directory", true,
     "  -T DIR       put the sorted runs of input beyond the buffer in DIR, not in\n"
     "               $TMPDIR or /tmp; they are gone when hwsort ends\n"},
    {0, "help", false, "  --help       show this text\n"},
    {0, "version", false, "  --version    show the version\n"},
    {0, nullptr, false, nullptr},
};

static const ToolCommand kCommand = {
    nullptr, "[FILE]...", 0, -1, false, kOptions,
    "Write the lines of the FILEs (standard input when there are none, or for\n"
    "\"-\") in headword order, the order of the dictionary's index.  Lines that\n"
    "compare equal keep their input order. Options may stand anywhere among\n"
    "the FILEs; after \"--\" every argument is a FILE. A wrong command line is\n"
    "reported before any file is opened or written.\n"};

static const char kNotes[] =
    "\n"
    "With newlines as separators, a NUL byte inside a line ends the line's key;\n"
    "the whole line is written. A last line without a separator gets one.\n"
    "Exit status: 0 success, 1 input out of order (-c), 2 trouble or wrong\n"
    "usage (a wrong command line touches nothing).\n";

/* "hwsort: WHAT: STEP: REASON" (no reason when error is 0); exit status 2. */
static int Trouble(const char* what, const char* step, int error = 0)
{
    ToolFail("hwsort", what, step, error);
    return kExitTrouble;
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
        if (!opt->quietCheck) {
            fprintf(stderr, "hwsort: %s:%llu: disorder: ", problem.what.c_str(), (unsigned long long)problem.line);
            fwrite(problem.text.data(), 1, problem.text.size(), stderr);
            fputc('\n', stderr);
        }
        return kExitDisorder;
    }
    if (status == kLineSortOk || problem.what.empty()) return kExitOk; /* a failed write: the caller's */
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
    if (result == kExitOk) Flush(out);
    out->temp = nullptr;
    if (result != kExitOk || out->failed) {
        FileTempDiscard(&temp);
        return result != kExitOk ? result : OutputTrouble(opt->output, &out->status);
    }
    if (!FileTempCommit(&temp, &status)) return OutputTrouble(opt->output, &status);
    return kExitOk;
}

/* -t SEP: one byte, or "\t" for a TAB as people type it. */
static bool ParseSeparator(const char* text, int* separator)
{
    if (strcmp(text, "\\t") == 0) return *separator = '\t', true;
    if (text[0] == 0 || text[1] != 0) return false;
    return *separator = (unsigned char)text[0], true;
}

/* -k N[,M]: fields counted from 1, M not before N. */
static bool ParseKey(const char* text, LineSortKey* key)
{
    char* end;
    if (*text < '1' || *text > '9') return false;
    key->first = strtoul(text, &end, 10);
    key->last = 0;
    if (*end == ',') {
        if (end[1] < '1' || end[1] > '9') return false;
        key->last = strtoul(end + 1, &end, 10);
        if (key->last < key->first) return false;
    }
    return *end == 0;
}

/*
** -S SIZE: bytes with a suffix b, K, M, G or T (powers of 1024; K without
** one, as sort(1) reads it), or a percentage of physical memory with %.
*/
static bool ParseSize(const char* text, size_t* bytes)
{
    char* end;
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    unsigned long long n = strtoull(text, &end, 10);
    if (errno != 0 || (end[0] != 0 && end[1] != 0)) return false;
    const char* units = "bKMGT";
    const char* unit = *end == 0 ? units + 1 : *end == '%' ? nullptr : strchr(units, *end);
    if (unit == nullptr && *end != '%') return false;
    if (*end == '%') {
        if (n == 0 || n > 100) return false;
        n = (unsigned long long)(PhysicalMemory() / 100 * n);
    } else {
        for (const char* u = units; u < unit; u++) {
            if (n > ~0ull / 1024) return false;
            n *= 1024;
        }
    }
    if (n < 4096 || n > SIZE_MAX) return false;
    return *bytes = (size_t)n, true;
}

/*
** Read the command line into *opt and the file names.  Returns kExitOk, or
** the exit status after printing the help, the version or a slip.
*/
static int ParseArguments(int argc, char** argv, LineSortOptions* opt, ToolArguments* args)
{
    std::string problem;
    if (!ToolParse(&kCommand, argc - 1, argv + 1, args, &problem))
        return ToolUsage("hwsort", nullptr, problem.c_str()), kExitTrouble;
    auto value = [&](const char* name) { return ToolOptionValue(&kCommand, args, name); };
    if (args->help) {
        std::string text = ToolCommandHelp("hwsort", &kCommand) + kNotes;
        ToolWrite(text.data(), text.size());
        return ToolFinishOutput("hwsort") == kToolOk ? kExitOk : kExitTrouble;
    }
    if (value("version") != nullptr) {
        printf("hwsort %s\n", ORLIX_VERSION);
        return ToolFinishOutput("hwsort") == kToolOk ? kExitOk : kExitTrouble;
    }
    opt->output = value("o");
    opt->check = value("c") != nullptr;
    opt->unique = value("u") != nullptr;
    opt->reverse = value("r") != nullptr;
    opt->merge = value("m") != nullptr;
    opt->tempDir = value("T");
    if (value("z") != nullptr) opt->lineEnd = 0;
    if (value("t") != nullptr && !ParseSeparator(value("t"), &opt->fieldSeparator))
        return ToolUsage("hwsort", nullptr, "-t takes one byte (or '\\t')"), kExitTrouble;
    LineSortKey key;
    if (value("k") != nullptr && !ParseKey(value("k"), &key))
        return ToolUsage("hwsort", nullptr, "-k takes N or N,M: fields counted from 1, M not before N"),
               kExitTrouble;
    if (value("k") != nullptr) opt->keys.push_back(key);
    if (value("S") != nullptr && !ParseSize(value("S"), &opt->bufferBytes))
        return ToolUsage("hwsort", nullptr, "-S takes a size of at least 4K: N with b, K, M, G or T, or N%"),
               kExitTrouble;
    if (opt->tempDir != nullptr && *opt->tempDir == 0)
        return ToolUsage("hwsort", nullptr, "-T takes a directory"), kExitTrouble;
    if (opt->check && opt->merge)
        return ToolUsage("hwsort", nullptr, "-c and -m do not go together"), kExitTrouble;
    if (opt->check && args->operands.size() > 1)
        return ToolUsage("hwsort", nullptr, "-c takes one file at most"), kExitTrouble;
    return kExitOk;
}

/* Sort, merge or check, and write; `job` holds -o's FILE. */
static int Sort(const LineSortOptions* opt, const char* const* files, int fileCount, const FileJob* job)
{
    static Output out;
    if (job != nullptr) return WriteToFile(opt, files, fileCount, &out, job);
    out.file = stdout;
    int status = SortTo(opt, files, fileCount, &out);
    if (status != kExitOk) return status;
    Flush(&out);
    if (fflush(stdout) != 0) Fail(&out);
    if (out.failed) return Trouble("standard output", "write", out.error);
    return kExitOk;
}

int main(int argc, char** argv)
{
    FileJobsCleanUpOnSignals();
    static LineSortOptions opt;
    opt.lineEnd = '\n', opt.fieldSeparator = -1;
    static ToolArguments args; /* static: its names reachable until exit */
    int status = ParseArguments(argc, argv, &opt, &args);
    if (status != kExitOk || args.help || ToolOptionValue(&kCommand, &args, "version") != nullptr)
        return status;
    static std::vector<const char*> files;
    files = args.operands;
    if (files.empty()) files.push_back("-");
    const char* const* names = files.data();
    int fileCount = (int)files.size();

    /*
    ** -o holds FILE's job lock from before the inputs are read until it is
    ** replaced, so runs that write FILE from FILE itself queue, and neither
    ** loses what the other wrote.
    */
    if (opt.output == nullptr || opt.check) return Sort(&opt, names, fileCount, nullptr);
    static FileJob job;
    FileStatus begun = {nullptr, nullptr, 0};
    if (FileJobBegin(opt.output, kFileLockWaitMs, &job, &begun) != kFileJobStarted)
        return OutputTrouble(opt.output, &begun);
    status = Sort(&opt, names, fileCount, &job);
    FileJobEnd(&job);
    return status;
}
