/*
** Export 12 of OrlixDB.dll, the entry the utility binds by ordinal.  In
** the host library it is the same function under the same name.
*/
#include "orlixdb.h"

/* No dllexport: orlixdb.def exports it, by ordinal only. */
extern "C" int32_t ORLIX_CALL DbOrdinal12(const char* target, int32_t count,
                                          const char* const* sources, OrlixKeyCompare compare)
{
    return OrlixMergeIndexes(target, count, sources, compare);
}
