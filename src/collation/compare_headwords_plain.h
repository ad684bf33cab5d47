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

/* The rule a comparison's result came from, strongest first. */
enum HeadwordRule {
    kHeadwordRuleLetters,          /* two word bytes differed after folding */
    kHeadwordRuleRest,             /* a headword ended; what the other had left decided */
    kHeadwordRuleDigits,           /* the first digit difference */
    kHeadwordRuleInnerPunctuation, /* the first punctuation difference after a matched pair */
    kHeadwordRuleCase,             /* the first case difference */
    kHeadwordRuleLeadingPunctuation, /* the first punctuation difference before any pair */
    kHeadwordRuleSuffix,           /* a nonzero difference of the numeric suffixes */
    kHeadwordRuleEqual             /* the keys sort together */
};

/*
** A verdict as the scan first set it: its value (0 when it was never set)
** and the pair of bytes that set it, one pointer into each key.
*/
struct HeadwordVerdictNote {
    int32_t value;
    const char* first;
    const char* second;
};

/*
** What the plain scan did on one comparison, for people who ask why two
** keys sort as they do.  Pointers point into the two keys.
*/
struct HeadwordExplanation {
    int32_t result;
    enum HeadwordRule rule;
    /*
    ** Where the decision fell: the two word bytes that differed, or where
    ** each headword ended (the other's first byte past its whitespace, when
    ** one headword ended first); null for a null key.
    */
    const char* firstAt;
    const char* secondAt;
    /* With kHeadwordRuleRest: the letter or digit left over that decided, or null. */
    const char* restAt;
    /* The first matched word byte pair, null when none matched. */
    const char* firstMatch;
    const char* secondMatch;
    struct HeadwordVerdictNote digit;
    struct HeadwordVerdictNote innerPunct;
    struct HeadwordVerdictNote letterCase;
    struct HeadwordVerdictNote leadPunct;
    /* The suffix values, when both headwords ended with no verdict set. */
    bool suffixesCompared;
    int32_t firstSuffix;
    int32_t secondSuffix;
};

/*
** CompareHeadwordsPlain that also fills *explanation, when it is not null,
** with the rule its result came from and the verdicts it met.  The rule is
** noted by the scan's own branches as they return, so it is always the
** rule that produced the value returned.
*/
int32_t CompareHeadwordsExplained(const char* first, const char* second,
                                  struct HeadwordExplanation* explanation);

#endif
