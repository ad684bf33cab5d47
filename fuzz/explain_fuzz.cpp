/*
** Fuzzer of idxtool explain: on every pair of keys the value it prints
** must be CompareHeadwords's, and the rule it names must be the one the
** value came from: the verdict of that name holds the value, "letters"
** points at two word bytes that differ after folding by the value,
** "suffix" and "equal" follow from the suffixes, "rest" is -1 or 1.
**
** The input is split at NUL bytes into up to kMaxKeys keys, each in a heap
** block of exactly its size; every ordered pair and each key against a
** null key are explained.  The number of pairs is printed at the end.
*/
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "collation/compare_headwords.h"
#include "collation/compare_headwords_plain.h"
#include "key_pairs.h"
#include "idxtool/editor_commands.h"

enum { kMaxKeys = 12 };

static uint64_t pairsExplained;

static void ReportPairs(void)
{
    fprintf(stderr, "explain_fuzz: %llu pairs explained, explain == compare on all\n",
            (unsigned long long)pairsExplained);
}

static void Fail(const char* what, int32_t value, int rule)
{
    fprintf(stderr, "explain_fuzz: %s (value %d, rule %d)\n", what, (int)value, rule);
    abort();
}

static bool IsWord(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' || (c >= 9 && c <= 13);
}

static int32_t Fold(char c) { return c >= 'A' && c <= 'Z' ? c + 32 : (int32_t)(signed char)c; }

static bool IsEnd(const char* p) { return p != nullptr && (*p == 0 || *p == '@'); }

/*
** The rule must be the one that can give this value, and every verdict
** that outranks it must be unset where it decided.
*/
static void CheckRule(const HeadwordExplanation& e, int32_t value)
{
    bool bothEnded = IsEnd(e.firstAt) && IsEnd(e.secondAt);
    bool noneSet = e.digit.value == 0 && e.innerPunct.value == 0 && e.letterCase.value == 0 &&
                   e.leadPunct.value == 0;
    bool ok = false;
    switch (e.rule) {
    case kHeadwordRuleLetters:
        ok = IsWord(*e.firstAt) && IsWord(*e.secondAt) && value != 0 &&
             Fold(*e.firstAt) - Fold(*e.secondAt) == value;
        break;
    case kHeadwordRuleRest:
        ok = (value == 1 || value == -1) && !bothEnded;
        break;
    case kHeadwordRuleDigits:
        ok = e.digit.value == value && value != 0;
        break;
    case kHeadwordRuleInnerPunctuation:
        ok = e.innerPunct.value == value && value != 0 && e.digit.value == 0;
        break;
    case kHeadwordRuleCase:
        ok = e.letterCase.value == value && value != 0 && bothEnded && e.digit.value == 0 &&
             e.innerPunct.value == 0;
        break;
    case kHeadwordRuleLeadingPunctuation:
        ok = e.leadPunct.value == value && value != 0 && e.digit.value == 0 &&
             (bothEnded ? e.innerPunct.value == 0 && e.letterCase.value == 0
                        : e.firstMatch == nullptr);
        break;
    case kHeadwordRuleSuffix:
    case kHeadwordRuleEqual: {
        int64_t d = e.suffixesCompared ? (int64_t)e.firstSuffix - (int64_t)e.secondSuffix : 0;
        if (d > INT32_MAX) d = INT32_MAX;
        if (d < -INT32_MAX) d = -INT32_MAX;
        ok = d == value && (e.rule == kHeadwordRuleEqual) == (value == 0) && noneSet &&
             (bothEnded || e.firstAt == nullptr);
        break;
    }
    }
    if (!ok) Fail("the rule named cannot have given the value", value, e.rule);
}

static void CheckPair(const char* a, const char* b)
{
    int32_t value = CompareHeadwords(a, b);
    HeadwordExplanation e;
    if (CompareHeadwordsExplained(a, b, &e) != value || e.result != value)
        Fail("explained value differs from CompareHeadwords", value, e.rule);
    CheckRule(e, value);
    if (a != nullptr && b != nullptr) {
        int32_t printed = 0;
        std::string text = ExplainKeys(a, b, &printed);
        std::string first = std::to_string(value) + "\t" + HeadwordRuleName(e.rule) + "\n";
        if (printed != value || text.compare(0, first.size(), first) != 0)
            Fail("explain's first line is not the value and the rule", value, e.rule);
    }
    pairsExplained++;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool registered = false;
    if (!registered) registered = atexit(ReportPairs) == 0;

    ForEachKeyPair<kMaxKeys>(data, size, CheckPair);
    return 0;
}
