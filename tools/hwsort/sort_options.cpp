#include "sort_options.h"

#include <stdio.h>
#include <stdlib.h>
#include <errno.h>
#include <string.h>

#include <string>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/arguments.h"
#include "common/tool_common.h"
#include "safe_sort/run_file.h"

/* What the handlers fill: the sort's options, and what hwsort itself does. */
struct SortCommandLine {
    LineSortOptions sort;
    bool version;
};

static LineSortOptions* Of(void* options)
{
    return &((SortCommandLine*)options)->sort;
}

static bool TakeUnique(void* o, const char*, const char*, std::string*)
{
    return Of(o)->unique = true;
}

static bool TakeReverse(void* o, const char*, const char*, std::string*)
{
    return Of(o)->reverse = true;
}

static bool TakeMerge(void* o, const char*, const char*, std::string*)
{
    return Of(o)->merge = true;
}

static bool TakeOutput(void* o, const char* typed, const char* value, std::string* problem)
{
    return ToolTakeOnce(&Of(o)->output, typed, value, problem);
}

/* --check, -c, --check=diagnose-first; --check=quiet or silent, -C: no message. */
static bool TakeCheck(void* o, const char* typed, const char* value, std::string* problem)
{
    Of(o)->check = true;
    if (strcmp(typed, "-C") == 0 || (value != nullptr && (strcmp(value, "quiet") == 0 ||
                                                          strcmp(value, "silent") == 0)))
        return Of(o)->quietCheck = true;
    if (value == nullptr || strcmp(value, "diagnose-first") == 0) return true;
    return *problem = "option '" + std::string(typed) + "' takes quiet, silent or diagnose-first",
           false;
}

static bool TakeZero(void* o, const char*, const char*, std::string*)
{
    return Of(o)->lineEnd = 0, true;
}

static bool TakeNothing(void*, const char*, const char*, std::string*)
{
    return true; /* -s: hwsort is always stable */
}

/* -t SEP: one byte, or "\t" for a TAB as people type it. */
static bool TakeSeparator(void* o, const char* typed, const char* value, std::string* problem)
{
    if (Of(o)->fieldSeparator >= 0)
        return *problem = "option '" + std::string(typed) + "' given twice", false;
    if (strcmp(value, "\\t") == 0) return Of(o)->fieldSeparator = '\t', true;
    if (value[0] == 0 || value[1] != 0)
        return *problem = std::string(typed) + " takes one byte (or '\\t')", false;
    return Of(o)->fieldSeparator = (unsigned char)value[0], true;
}

/* -k N[,M]: fields counted from 1, M not before N. */
static bool TakeKey(void* o, const char* typed, const char* value, std::string* problem)
{
    LineSortKey key = {0, 0};
    char* end = (char*)value;
    bool ok = *value >= '1' && *value <= '9';
    if (ok) key.first = strtoul(value, &end, 10);
    if (ok && *end == ',') {
        ok = end[1] >= '1' && end[1] <= '9';
        if (ok) key.last = strtoul(end + 1, &end, 10);
        ok = ok && key.last >= key.first;
    }
    if (!ok || *end != 0)
        return *problem = std::string(typed) + " takes N or N,M: fields counted from 1, M not before N",
               false;
    Of(o)->keys.push_back(key);
    return true;
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

static bool TakeSize(void* o, const char* typed, const char* value, std::string* problem)
{
    if (Of(o)->bufferBytes != 0)
        return *problem = "option '" + std::string(typed) + "' given twice", false;
    if (ParseSize(value, &Of(o)->bufferBytes)) return true;
    return *problem = std::string(typed) +
                      " takes a size of at least 4K: N with b, K, M, G or T, or N%",
           false;
}

static bool TakeTempDir(void* o, const char* typed, const char* value, std::string* problem)
{
    if (value[0] == 0) return *problem = std::string(typed) + " takes a directory", false;
    return ToolTakeOnce(&Of(o)->tempDir, typed, value, problem);
}

static bool TakeVersion(void* o, const char*, const char*, std::string*)
{
    return ((SortCommandLine*)o)->version = true;
}

/* sort's options of an order of their own: the headword order has no room for them. */
static bool Refuse(void*, const char* typed, const char*, std::string* problem)
{
    return *problem = "option '" + std::string(typed) +
                      "' has no meaning in headword order, the only order hwsort sorts in",
           false;
}

static const ToolOption kOptions[] = {
    {'o', "output", kToolValue, TakeOutput,
     "  -o, --output=FILE        write to FILE instead of standard output; FILE may\n"
     "                           also be an input, and is replaced only once the whole\n"
     "                           result is written; a terminal, a pipe or /dev/stdout\n"
     "                           is written to directly. Never an index file\n"},
    {'c', "check", kToolOptionalValue, TakeCheck,
     "  -c, --check              only check that the input is sorted: report the first\n"
     "                           line out of order and exit 1 (one FILE at most)\n"},
    {'C', nullptr, kToolNoValue, TakeCheck,
     "  -C, --check=quiet        the same, without a message (also --check=silent)\n"},
    {'m', "merge", kToolNoValue, TakeMerge,
     "  -m, --merge              merge FILEs that are each in order already, a line\n"
     "                           of each at a time\n"},
    {'u', "unique", kToolNoValue, TakeUnique,
     "  -u, --unique             keep only the first of each run of lines that compare\n"
     "                           equal; with -c, lines that compare equal are out of\n"
     "                           order too\n"},
    {'r', "reverse", kToolNoValue, TakeReverse,
     "  -r, --reverse            reverse the order (equal lines still keep input order)\n"},
    {'s', "stable", kToolNoValue, TakeNothing,
     "  -s, --stable             accepted: lines that compare equal always keep their\n"
     "                           input order\n"},
    {'z', "zero-terminated", kToolNoValue, TakeZero,
     "  -z, --zero-terminated    lines end in a NUL byte, not a newline\n"},
    {'t', "field-separator", kToolValue, TakeSeparator,
     "  -t, --field-separator=SEP  fields are separated by the byte SEP ('\\t' is a\n"
     "                           TAB), not by the change from blanks to other bytes\n"},
    {'k', "key", kToolValue, TakeKey,
     "  -k, --key=N[,M]          compare fields N to M (to the end of the line without\n"
     "                           M), counted from 1, instead of the whole line; lines\n"
     "                           whose key compares equal go to the next -k; -t '\\t'\n"
     "                           -k 1,1 sorts idxtool build's text by its key\n"},
    {'S', "buffer-size", kToolValue, TakeSize,
     "  -S, --buffer-size=SIZE   sort in at most SIZE of memory (K, M, G; N% of\n"
     "                           memory); the default is an eighth of memory, from\n"
     "                           64M to 1G\n"},
    {'T', "temporary-directory", kToolValue, TakeTempDir,
     "  -T, --temporary-directory=DIR  put the sorted runs of input beyond the\n"
     "                           buffer in DIR, not in $TMPDIR or /tmp; they are\n"
     "                           gone when hwsort ends\n"},
    {0, "version", kToolNoValue, TakeVersion, "      --version            show the version\n"},
    {'b', "ignore-leading-blanks", kToolNoValue, Refuse,
     "  -b -d -f -g -i -M -n -R -V, --ignore-leading-blanks, --dictionary-order,\n"
     "  --ignore-case, --general-numeric-sort, --ignore-nonprinting, --month-sort,\n"
     "  --numeric-sort, --random-sort, --version-sort\n"
     "                           refused: each is an order of its own, and hwsort\n"
     "                           sorts in headword order only\n"},
    {'d', "dictionary-order", kToolNoValue, Refuse, ""},
    {'f', "ignore-case", kToolNoValue, Refuse, ""},
    {'g', "general-numeric-sort", kToolNoValue, Refuse, ""},
    {'i', "ignore-nonprinting", kToolNoValue, Refuse, ""},
    {'M', "month-sort", kToolNoValue, Refuse, ""},
    {'n', "numeric-sort", kToolNoValue, Refuse, ""},
    {'R', "random-sort", kToolNoValue, Refuse, ""},
    {'V', "version-sort", kToolNoValue, Refuse, ""},
    {0, nullptr, kToolNoValue, nullptr, nullptr},
};

static const ToolCommand kCommand = {
    nullptr, "[FILE]...", 0, -1, false, kOptions,
    "Write the lines of the FILEs (standard input when there are none, or for\n"
    "\"-\") in headword order, the order of the dictionary's index. Lines that\n"
    "compare equal keep their input order. Options may stand anywhere among\n"
    "the FILEs; after \"--\" every argument is a FILE. A wrong command line is\n"
    "reported before any file is opened or written.\n"};

static const char kNotes[] =
    "\n"
    "With newlines as separators, a NUL byte inside a line ends the line's key;\n"
    "the whole line is written. A last line without a separator gets one.\n"
    "Exit status: 0 success, 1 input out of order (-c), 2 trouble or wrong\n"
    "usage (a wrong command line touches nothing).\n";

/* The slips of options that each read well alone. */
static const char* Conflict(const LineSortOptions* o, const std::vector<const char*>& files)
{
    for (const char* file : files)
        if (file[0] == 0) return "an empty operand names no file";
    if (o->output != nullptr && o->output[0] == 0) return "-o names no file";
    if (o->check && files.size() > 1) return "-c takes one file at most";
    if (o->check && o->output != nullptr) return "-c only checks and writes nothing: no -o with it";
    if (o->check && o->merge) return "-c and -m do not go together";
#if defined(_WIN32)
    bool terminal = _isatty(0) != 0;
#else
    bool terminal = isatty(0) != 0;
#endif
    if (o->output != nullptr && files.empty() && terminal)
        return "-o without a FILE to read would read the terminal; name the input "
               "('-' reads standard input)";
    return nullptr;
}

int ParseSortCommandLine(int argc, char** argv, LineSortOptions* options,
                         std::vector<const char*>* files)
{
    static SortCommandLine line; /* static: the option values point into argv, read until exit */
    line = SortCommandLine{LineSortOptions{'\n', -1, {}, false, false, false, false, false, 0, nullptr, nullptr},
                           false};
    ToolArguments args;
    std::string problem;
    bool parsed = ToolParse(&kCommand, argc - 1, argv + 1, &line, &args, &problem);
    *options = line.sort;
    if (!parsed)
        return ToolUsage("hwsort", nullptr, problem.c_str()), kSortTrouble;
    if (args.help) {
        std::string text = ToolCommandHelp("hwsort", &kCommand) + kNotes;
        ToolWrite(text.data(), text.size());
        return ToolFinishOutput("hwsort") == kToolOk ? kToolOk : kSortTrouble;
    }
    if (line.version) {
        printf("hwsort %s\n", ORLIX_VERSION);
        return ToolFinishOutput("hwsort") == kToolOk ? kToolOk : kSortTrouble;
    }
    const char* conflict = Conflict(options, args.operands);
    if (conflict != nullptr) return ToolUsage("hwsort", nullptr, conflict), kSortTrouble;
    *files = args.operands;
    if (files->empty()) files->push_back("-");
    return -1;
}
