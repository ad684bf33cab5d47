/* Prints the host collation's answers on the probe pairs, as the recording library does. */
#include <stdio.h>

#include "../common/probe_pairs.h"
#include "collation/compare_headwords.h"

int main(void)
{
    for (int i = 0; i < kProbePairCount; i++)
        printf("compare %d %d\n", i, (int)CompareHeadwords(kProbePairs[i].first, kProbePairs[i].second));
    return 0;
}
