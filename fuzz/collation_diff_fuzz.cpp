/*
** Differential fuzzer of the headword collation: the fast path of
** CompareHeadwords must return exactly what the plain scan returns, for
** every ordered pair of keys, and swapping the keys must flip the sign.
**
** The input is split at NUL bytes into up to kMaxKeys keys; each is copied
** into a heap block of exactly its size, so that a read past a terminator
** is an AddressSanitizer report.  Every ordered pair, a key with itself and
** each key against a null key are compared.  The number of pairs compared
** is printed when the run ends.
*/
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "collation/compare_headwords.h"
#include "collation/compare_headwords_plain.h"
#include "key_pairs.h"

enum { kMaxKeys = 16 };

static uint64_t pairsCompared;

static void ReportPairs(void)
{
    fprintf(stderr, "collation_diff_fuzz: %llu pairs compared\n",
            (unsigned long long)pairsCompared);
}

static int Sign(int32_t v) { return (v > 0) - (v < 0); }

static void CheckPair(const char* a, const char* b)
{
    int32_t fast = CompareHeadwords(a, b);
    int32_t plain = CompareHeadwordsPlain(a, b);
    if (fast != plain) {
        fprintf(stderr, "fast %d != plain %d\n", (int)fast, (int)plain);
        abort();
    }
    if (Sign(fast) != -Sign(CompareHeadwords(b, a))) {
        fprintf(stderr, "sign of %d not flipped by swapping the keys\n", (int)fast);
        abort();
    }
    pairsCompared++;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool registered = false;
    if (!registered) registered = atexit(ReportPairs) == 0;

    ForEachKeyPair<kMaxKeys>(data, size, CheckPair);
    return 0;
}
