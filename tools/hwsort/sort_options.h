/*
** hwsort's command line, read once into the sort engine's typed options:
** what the sort compares, how lines end, what it writes where; and the
** slips that are refused before any file is touched.
*/
#ifndef HWSORT_SORT_OPTIONS_H
#define HWSORT_SORT_OPTIONS_H

#include <vector>

#include "safe_sort/line_sort.h"

/*
** Read argv into *options and the FILEs (standard input, "-", when none
** is named).  Returns -1 to go on, or the exit status after the help, the
** version or a slip has been printed.
*/
int ParseSortCommandLine(int argc, char** argv, LineSortOptions* options,
                         std::vector<const char*>* files);

#endif
