/*
** A recording OrlixDB.dll for the Wine tests: export 12 writes what it was
** handed, and the callback's answers on the probe pairs, to record.txt
** beside the DLL, then returns ORLIX_RECORDER_RESULT (default 0).
*/
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../common/probe_pairs.h"
#include "contract/orlixdb_export12.h"

static HMODULE self;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

static FILE* OpenRecord(void)
{
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return NULL;
    char* slash = strrchr(path, '\\');
    strcpy(slash ? slash + 1 : path, "record.txt");
    return fopen(path, "wb");
}

/* Exported as ordinal 12 by the contract's .def, like the stand-in. */
extern "C" int32_t ORLIX_CALL DbOrdinal12(const char* target, int32_t count,
                                          const char* const* sources, OrlixKeyCompare compare)
{
    FILE* out = OpenRecord();
    if (out == NULL) return -1;
    fprintf(out, "target %s\ncount %d\n", target, (int)count);
    for (int32_t i = 0; i < count && i < 8; i++) fprintf(out, "source %s\n", sources[i]);
    for (int i = 0; i < kProbePairCount; i++)
        fprintf(out, "compare %d %d\n", i,
                (int)compare(kProbePairs[i].first, kProbePairs[i].second));
    fclose(out);
    const char* result = getenv("ORLIX_RECORDER_RESULT");
    return result ? atoi(result) : 0;
}
