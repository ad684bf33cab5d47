/*
** Lines of text in headword order, through the record sort: sorting any
** number of files in bounded memory, merging files already in order, and
** checking that a file is in order, the last two line by line.
**
** A line's key is the whole line, or the fields its keys name; lines whose
** keys compare equal keep their input order (with -m: the earlier file's
** line first).
*/
#ifndef ORLIX_SAFE_SORT_LINE_SORT_H
#define ORLIX_SAFE_SORT_LINE_SORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

/* Fields first .. last, counted from 1; last 0: to the end of the line. */
struct LineSortKey {
    unsigned long first, last;
};

struct LineSortOptions {
    char lineEnd;                  /* '\n', or '\0' */
    int fieldSeparator;            /* a byte, or -1: fields start where blanks do */
    std::vector<LineSortKey> keys; /* none: the whole line; a tie goes to the next key */
    bool unique, reverse, check, quietCheck, merge;
    size_t bufferBytes;            /* 0: RecordSortDefaultBuffer() */
    const char* tempDir;           /* null: the system's */
    const char* output;            /* not used here: the caller writes */
};

enum { kLineSortOk = 0, kLineSortDisorder = 1, kLineSortTrouble = 2 };

/* What went wrong: "what: step: the system's reason" (no reason when error is 0). */
struct LineSortProblem {
    std::string what;
    const char* step;
    int error;
    uint64_t line;        /* disorder: the line out of order, from 1 */
    std::string text;     /* disorder: that line */
};

/* Writes one line, without its end; false when the write failed. */
typedef bool (*LineSink)(const char* line, size_t length, void* context);

/*
** Sort (or with options->merge, merge; with options->check, check) the
** lines of files[0 .. count) ("-": standard input) and hand the result to
** `sink`.  Returns kLineSortOk, kLineSortDisorder (check only) or
** kLineSortTrouble with *problem filled in; a sink's false is the problem
** {"write", 0} with an empty `what`, the sink knowing more.
*/
int LineSortFiles(const LineSortOptions* options, const char* const* files, size_t count, LineSink sink,
                  void* context, LineSortProblem* problem);

#endif
