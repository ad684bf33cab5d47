#include "safe_sort.h"

#include <string.h>

/*
** How far ahead in each run the element a pointer leads to is fetched.
** The comparator reads what the pointers lead to, which in a large sort is
** scattered over memory: fetched this early, it is in cache when compared.
*/
enum { kFetchAhead = 8 };

/*
** Merge the neighbouring runs items[lo .. mid) and items[mid .. hi).  The
** left run is moved to scratch first; the output position never passes the
** unread part of the right run, so writing into items is safe.  The right
** element is taken only when it sorts strictly before the left one, which
** keeps ties in input order.  Each step consumes one element whatever the
** comparator answers.
*/
static void MergeRuns(const void** items, size_t lo, size_t mid, size_t hi,
                      const void** scratch, SafeSortCompare compare, void* context)
{
    size_t leftCount = mid - lo;
    memcpy(scratch, items + lo, leftCount * sizeof *items);

    size_t i = 0, j = mid, out = lo;
    while (i < leftCount && j < hi) {
        if (i + kFetchAhead < leftCount) __builtin_prefetch(scratch[i + kFetchAhead]);
        if (j + kFetchAhead < hi) __builtin_prefetch(items[j + kFetchAhead]);
        if (compare(scratch[i], items[j], context) > 0)
            items[out++] = items[j++];
        else
            items[out++] = scratch[i++];
    }
    memcpy(items + out, scratch + i, (leftCount - i) * sizeof *items);
}

/*
** Bottom-up: runs of width 1, 2, 4 ... are merged pairwise.  A pair whose
** boundary is already in order is left alone, so sorted input costs one
** comparison per element in all.  Widths are fixed by position, not found
** by asking the comparator, so no answer can change the number of passes.
*/
void SafeStableSort(const void** items, size_t count, const void** scratch,
                    SafeSortCompare compare, void* context)
{
    for (size_t width = 1; width < count; width *= 2) {
        for (size_t lo = 0; lo < count && count - lo > width; lo += 2 * width) {
            size_t mid = lo + width;
            size_t hi = count - mid > width ? mid + width : count;
            if (compare(items[mid - 1], items[mid], context) > 0)
                MergeRuns(items, lo, mid, hi, scratch, compare, context);
        }
        if (width > count / 2) break;
    }
}
