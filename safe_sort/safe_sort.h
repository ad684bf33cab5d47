/*
** A stable merge sort that stays sound under any comparator.
**
** Index keys are ordered by a collation the library does not own, and a
** collation need not be a strict weak ordering: some keys compare
** cyclically, and a caller's comparator may answer at random.  Library
** sorts are undefined under such a comparator.  This one is not: every
** answer only chooses which of two known elements is written next, so the
** result is always a permutation of the input, every index stays within
** its run, and the number of comparisons is bounded by the input size.
*/
#ifndef ORLIX_SAFE_SORT_SAFE_SORT_H
#define ORLIX_SAFE_SORT_SAFE_SORT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Negative: a sorts before b; 0: together; positive: after. */
typedef int32_t (*SafeSortCompare)(const void* a, const void* b, void* context);

/*
** Sort the pointer array items[0 .. count) in place; scratch has room for
** count pointers and is clobbered.  Ties (compare == 0) keep input order.
**
** Guarantees, whatever compare returns:
**   - items ends as a permutation of its input; no element is lost or
**     duplicated, and nothing outside items[0 .. count) or
**     scratch[0 .. count) is read or written;
**   - at most about count * log2(count) comparisons, count - 1 when every
**     neighbouring pair is already in order;
**   - when compare(a, b) and compare(b, a) are never both positive (true
**     of any antisymmetric comparator, cyclic ones included), every
**     neighbouring pair of the result is in order, so sorting the result
**     again changes nothing.
*/
void SafeStableSort(const void** items, size_t count, const void** scratch,
                    SafeSortCompare compare, void* context);

#ifdef __cplusplus
}
#endif

#endif
