/*
** hwsort's command line, read once into a typed struct: what the sort
** compares, how lines end, what it writes where, and the slips that are
** refused before any file is touched.
*/
#ifndef HWSORT_SORT_OPTIONS_H
#define HWSORT_SORT_OPTIONS_H

#include <stddef.h>

#include <vector>

/* -k N[,M]: fields first to last, counted from 1; last 0: to the end of the line. */
struct SortKey {
    unsigned long first, last;
};

struct SortOptions {
    char lineEnd;              /* '\n', or '\0' with -z */
    int fieldSeparator;        /* -t's byte, or -1: fields are separated by blanks */
    std::vector<SortKey> keys; /* none: the whole line; ties go to the next key */
    bool unique, reverse, check, quietCheck, merge;
    size_t bufferBytes;        /* -S, or 0: the default */
    const char* tempDir;       /* -T, or null: the default */
    const char* output;        /* -o, or null: standard output */
    bool version;
};

/*
** Read argv into *options and the FILEs (standard input, "-", when none
** is named).  Returns -1 to go on, or the exit status after the help, the
** version or a slip has been printed.
*/
int ParseSortCommandLine(int argc, char** argv, SortOptions* options,
                         std::vector<const char*>* files);

#endif
