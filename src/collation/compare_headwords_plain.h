/*
** The headword collation as a plain left-to-right scan, without the fast
** path of CompareHeadwords.  It is the readable statement of the order and
** the reference the fast path is checked against; it returns exactly what
** CompareHeadwords returns for every pair of keys.
*/
#ifndef ORLIX_COLLATION_COMPARE_HEADWORDS_PLAIN_H
#define ORLIX_COLLATION_COMPARE_HEADWORDS_PLAIN_H

#include <stdint.h>

#include "contract/orlixdb_export12.h"

extern "C" int32_t ORLIX_CALL CompareHeadwordsPlain(const char* first,
                                                    const char* second);

#endif
