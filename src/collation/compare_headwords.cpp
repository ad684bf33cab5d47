#include "compare_headwords.h"
#include "compare_headwords_plain.h"

#include "byte_classes.h"

/*
** What the scan has learnt so far, strongest tie-break first.  A verdict is
** unset while it is 0; the first nonzero value offered to it sticks.
*/
struct Verdicts {
    int32_t digit;      /* first digit difference */
    int32_t innerPunct; /* first punctuation difference after a matched pair */
    int32_t letterCase; /* first case difference in a matched pair */
    int32_t leadPunct;  /* first punctuation difference before any matched pair */
    bool wordMatched;   /* a word byte pair has matched; the count never matters */
};

static void SetIfUnset(int32_t* verdict, int32_t value)
{
    if (*verdict == 0) *verdict = value;
}

/*
** Punctuation ranks above case once a word byte pair has matched, and below
** case before that; only the first punctuation difference of either kind
** ever counts.
*/
static void PunctuationEvent(Verdicts* v, int32_t value)
{
    if (v->innerPunct != 0) return;
    if (v->wordMatched)
        v->innerPunct = value;
    else
        SetIfUnset(&v->leadPunct, value);
}

static const char* SkipWhitespace(const char* p)
{
    while (IsWhitespace(ByteAt(p))) p++;
    return p;
}

/*
** One key's headword has ended; `rest` is what remains of the other one
** after its whitespace, and is no end byte.  `longer` is the sign that
** marks the key owning `rest` as the greater.  A letter left over always
** decides; a digit decides unless a digit difference is already known;
** leftover punctuation defers to the punctuation verdict of the scan's
** phase.  Verdicts are returned as they stand, whichever key is longer.
*/
static int32_t DecideByRest(const Verdicts* v, const char* rest, int32_t longer)
{
    bool hasDigit = false;
    for (; !IsEndByte(ByteAt(rest)); rest++) {
        int32_t c = ByteAt(rest);
        if (IsLetter(c)) return longer;
        if (IsDigit(c)) hasDigit = true;
    }
    if (v->digit != 0) return v->digit;
    if (hasDigit) return longer;
    int32_t punct = v->wordMatched ? v->innerPunct : v->leadPunct;
    return punct != 0 ? punct : longer;
}

/*
** The numeric suffix after an optional single "@".  Every byte enters as
** (byte - 48), signed, without a digit test, and the value wraps modulo
** 2^32: stored indexes were ordered by exactly this arithmetic.
*/
static int32_t SuffixValue(const char* end)
{
    if (*end == '@') end++;
    uint32_t value = 0;
    for (; *end != 0; end++)
        value = value * 10u + (uint32_t)(ByteAt(end) - 48);
    return (int32_t)value;
}

/*
** The last tie-break.  The difference is taken exactly, not modulo 2^32,
** so that cmp(a, b) and cmp(b, a) always have opposite signs and the order
** of suffixes stays transitive; a difference beyond int32 saturates.
*/
static int32_t CompareSuffixes(const char* endA, const char* endB)
{
    int64_t d = (int64_t)SuffixValue(endA) - (int64_t)SuffixValue(endB);
    if (d > INT32_MAX) return INT32_MAX;
    if (d < -INT32_MAX) return -INT32_MAX;
    return (int32_t)d;
}

static int32_t BothExhausted(const Verdicts* v, const char* endA, const char* endB)
{
    if (v->digit != 0) return v->digit;
    if (v->innerPunct != 0) return v->innerPunct;
    if (v->letterCase != 0) return v->letterCase;
    if (v->leadPunct != 0) return v->leadPunct;
    return CompareSuffixes(endA, endB);
}

/*
** A null key sorts with the empty key and with a key of only whitespace,
** and before every other key.
*/
static int32_t CompareWithNull(const char* key, int32_t sign)
{
    return *SkipWhitespace(key) == 0 ? 0 : sign;
}

/*
** One headword has ended (a or b is at an end byte): the rest of the other
** headword and the verdicts decide.
*/
static int32_t Finish(const char* a, const char* b, const Verdicts* v)
{
    if (IsEndByte(ByteAt(a))) {
        b = SkipWhitespace(b);
        if (IsEndByte(ByteAt(b))) return BothExhausted(v, a, b);
        return DecideByRest(v, b, -1);
    }
    a = SkipWhitespace(a);
    if (IsEndByte(ByteAt(a))) return BothExhausted(v, a, b);
    return DecideByRest(v, a, 1);
}

/*
** One step of the scan on a pair that holds no end byte: the pair is
** classified and acted on by the rule of its classes, and a, b or both
** advance.  Returns the result when two letters differ after folding,
** which decides at once, and 0 otherwise.
*/
static inline int32_t Step(const char** a, const char** b, Verdicts* v)
{
    int32_t ca = ByteAt(*a);
    int32_t cb = ByteAt(*b);
    if (IsWordByte(ca)) {
        if (IsWordByte(cb)) {
            if (Fold(ca) != Fold(cb)) return Fold(ca) - Fold(cb);
            SetIfUnset(&v->letterCase, ca - cb);
            v->wordMatched = true;
            (*a)++, (*b)++;
        } else if (IsDigit(cb)) {
            SetIfUnset(&v->digit, -1), (*b)++;
        } else {
            PunctuationEvent(v, -1), (*b)++;
        }
    } else if (IsDigit(ca)) {
        if (IsWordByte(cb)) {
            SetIfUnset(&v->digit, 1), (*a)++;
        } else if (IsDigit(cb)) {
            SetIfUnset(&v->digit, ca - cb), (*a)++, (*b)++;
        } else {
            PunctuationEvent(v, -1), (*b)++;
        }
    } else if (IsOther(cb)) {
        PunctuationEvent(v, ca - cb), (*a)++, (*b)++;
    } else {
        PunctuationEvent(v, 1), (*a)++;
    }
    return 0;
}

/*
** The plain scan: step by step until a letter decides or a headword ends.
** It is the statement of the order that CompareHeadwords must keep.
*/
extern "C" int32_t ORLIX_CALL CompareHeadwordsPlain(const char* first, const char* second)
{
    if (first == nullptr) return second == nullptr ? 0 : CompareWithNull(second, -1);
    if (second == nullptr) return CompareWithNull(first, 1);

    const char* a = SkipWhitespace(first);
    const char* b = SkipWhitespace(second);
    Verdicts v = {0, 0, 0, 0, false};
    for (;;) {
        if (IsEndByte(ByteAt(a)) || IsEndByte(ByteAt(b))) return Finish(a, b, &v);
        int32_t decided = Step(&a, &b, &v);
        if (decided != 0) return decided;
    }
}

/*
** The scan after the first pair that is not identical, with runs of
** identical bytes stepped over in a tight loop.  A pair of identical bytes
** changes no verdict, wherever the scan meets it: equal letters or equal
** whitespace leave the case verdict unset, and equal digits or equal
** punctuation offer a difference of 0, which sets nothing.  All it can
** change is whether a word byte pair has matched, which is noted until it
** is true and then never looked at again.
*/
/* Kept out of line, so that the fast path saves no registers. */
__attribute__((noinline)) static int32_t ScanSkippingIdentical(const char* a, const char* b,
                                                               bool wordMatched,
                                                               int32_t letterCase)
{
    Verdicts v = {0, 0, letterCase, 0, wordMatched};
    for (;;) {
        if (IsEndByte(ByteAt(a)) || IsEndByte(ByteAt(b))) return Finish(a, b, &v);
        int32_t decided = Step(&a, &b, &v);
        if (decided != 0) return decided;
        while (!v.wordMatched && *a == *b && !IsEndByte(ByteAt(a))) {
            v.wordMatched = IsWordByte(ByteAt(a));
            a++, b++;
        }
        while (*a == *b && !IsEndByte(ByteAt(a))) a++, b++;
    }
}

/*
** a and b are at two letters that differ only in case, the first pair
** after an identical prefix to differ at all: it gives the case verdict
** and is a matched word pair.  Headwords that differ only in case are
** common (a noun and the word it starts a sentence with), so the pairs
** after it that are identical or differ only in case again, which set
** nothing more, are stepped over here, and the same cases as before are
** settled at once.
*/
__attribute__((noinline)) static int32_t CompareAfterCase(const char* a, const char* b)
{
    int32_t letterCase = ByteAt(a) - ByteAt(b);
    for (;;) {
        a++, b++;
        int32_t ca = ByteAt(a);
        int32_t cb = ByteAt(b);
        if (ca == cb && !IsEndByte(ca)) continue;
        if (IsLetter(ca) && IsLetter(cb)) {
            if (Fold(ca) != Fold(cb)) return Fold(ca) - Fold(cb);
            continue;
        }
        if (IsEndByte(ca)) {
            if (IsLetter(cb)) return -1;
            if (IsEndByte(cb)) return letterCase;
        } else if (IsEndByte(cb) && IsLetter(ca)) {
            return 1;
        }
        return ScanSkippingIdentical(a, b, true, letterCase);
    }
}

/*
** The fast path, for what an index compares most: keys that share a
** prefix and then differ in a letter or end.  The identical prefix is
** stepped over first, noting only whether it held a word byte; no verdict
** can be set within it.  Then two letters that differ after folding decide
** at once, a headword that ends where the other goes on with a letter
** sorts first whatever the verdicts, and two headwords that end together
** with no verdict set are ordered by their suffixes; anything else goes on
** by the rules.
** The loops stop at an end byte of the first key and run only while the
** bytes are equal, so neither key is read past its terminator.
*/
extern "C" int32_t ORLIX_CALL CompareHeadwords(const char* first, const char* second)
{
    if (first == nullptr) return second == nullptr ? 0 : CompareWithNull(second, -1);
    if (second == nullptr) return CompareWithNull(first, 1);

    /* Every whitespace byte is at most 0x20: one test passes most keys. */
    const char* a = (uint8_t)*first <= 0x20 ? SkipWhitespace(first) : first;
    const char* b = (uint8_t)*second <= 0x20 ? SkipWhitespace(second) : second;

    bool wordMatched = false;
    while (*a == *b && !IsEndByte(ByteAt(a))) {
        wordMatched = IsWordByte(ByteAt(a));
        a++, b++;
        if (wordMatched) break;
    }
    while (*a == *b && !IsEndByte(ByteAt(a))) a++, b++;

    int32_t ca = ByteAt(a);
    int32_t cb = ByteAt(b);
    if (IsLetter(ca)) {
        if (IsLetter(cb)) {
            if (Fold(ca) != Fold(cb)) return Fold(ca) - Fold(cb);
            return CompareAfterCase(a, b);
        }
        if (IsEndByte(cb)) return 1;
    } else if (IsEndByte(ca)) {
        if (IsLetter(cb)) return -1;
        if (IsEndByte(cb)) return CompareSuffixes(a, b);
    }
    return ScanSkippingIdentical(a, b, wordMatched, 0);
}
