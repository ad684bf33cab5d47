/*
** The headword collation: the order of keys in the dictionary's index files.
*/
#ifndef ORLIX_COLLATION_COMPARE_HEADWORDS_H
#define ORLIX_COLLATION_COMPARE_HEADWORDS_H

#include <stdint.h>

#include "contract/orlixdb_export12.h"

/*
** Compare two NUL-terminated headword keys; either may be null.  Returns a
** negative value when `first` sorts before `second`, 0 when they sort
** together and a positive value when it sorts after.  The magnitude is part
** of the result (32 for a case-only difference, for example).
**
** Reads each key up to its terminator and never further, keeps no state,
** allocates nothing and may be called from any thread.
*/
extern "C" int32_t ORLIX_CALL CompareHeadwords(const char* first,
                                               const char* second);

#endif
