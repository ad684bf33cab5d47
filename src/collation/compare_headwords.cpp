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
** Every helper below that returns a result takes an optional trailing
** trace.  Callers that pass none get NoTrace, for which every note is an
** empty overload: their code is the scan alone, without a test of a trace.
** With a HeadwordExplanation the branch that returns names its rule, so an
** explanation can only ever tell the rule that was used.
*/
typedef decltype(nullptr) NoTrace;

static inline int32_t Because(NoTrace, HeadwordRule, int32_t value, const char* = nullptr)
{
    return value;
}

static inline int32_t Because(HeadwordExplanation* trace, HeadwordRule rule, int32_t value,
                              const char* restAt = nullptr)
{
    if (trace != nullptr) trace->rule = rule, trace->restAt = restAt;
    return value;
}

/* A digit left in `rest` decided; an explanation points at the first one. */
static inline int32_t BecauseOfDigit(NoTrace, int32_t longer, const char*) { return longer; }

static inline int32_t BecauseOfDigit(HeadwordExplanation* trace, int32_t longer, const char* rest)
{
    while (!IsDigit(ByteAt(rest))) rest++;
    return Because(trace, kHeadwordRuleRest, longer, rest);
}

/* Where each headword ended, or the word bytes that differed. */
static inline void NotePlace(NoTrace, const char*, const char*) {}

static inline void NotePlace(HeadwordExplanation* trace, const char* a, const char* b)
{
    if (trace != nullptr) trace->firstAt = a, trace->secondAt = b;
}

/*
** One key's headword has ended; `rest` is what remains of the other one
** after its whitespace, and is no end byte.  `longer` is the sign that
** marks the key owning `rest` as the greater.  A letter left over always
** decides; a digit decides unless a digit difference is already known;
** leftover punctuation defers to the punctuation verdict of the scan's
** phase.  Verdicts are returned as they stand, whichever key is longer.
*/
template <class Trace = NoTrace>
static int32_t DecideByRest(const Verdicts* v, const char* rest, int32_t longer,
                            Trace trace = nullptr)
{
    const char* start = rest;
    bool hasDigit = false;
    for (; !IsEndByte(ByteAt(rest)); rest++) {
        int32_t c = ByteAt(rest);
        if (IsLetter(c)) return Because(trace, kHeadwordRuleRest, longer, rest);
        if (IsDigit(c)) hasDigit = true;
    }
    if (v->digit != 0) return Because(trace, kHeadwordRuleDigits, v->digit);
    if (hasDigit) return BecauseOfDigit(trace, longer, start);
    int32_t punct = v->wordMatched ? v->innerPunct : v->leadPunct;
    if (punct == 0) return Because(trace, kHeadwordRuleRest, longer);
    return Because(trace, v->wordMatched ? kHeadwordRuleInnerPunctuation
                                         : kHeadwordRuleLeadingPunctuation, punct);
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

static inline void NoteSuffixes(NoTrace, const char*, const char*) {}

static inline void NoteSuffixes(HeadwordExplanation* trace, const char* endA, const char* endB)
{
    if (trace == nullptr) return;
    trace->suffixesCompared = true;
    trace->firstSuffix = SuffixValue(endA);
    trace->secondSuffix = SuffixValue(endB);
}

/*
** The last tie-break.  The difference is taken exactly, not modulo 2^32,
** so that cmp(a, b) and cmp(b, a) always have opposite signs and the order
** of suffixes stays transitive; a difference beyond int32 saturates.
*/
template <class Trace = NoTrace>
static int32_t CompareSuffixes(const char* endA, const char* endB, Trace trace = nullptr)
{
    NoteSuffixes(trace, endA, endB);
    int64_t d = (int64_t)SuffixValue(endA) - (int64_t)SuffixValue(endB);
    if (d > INT32_MAX) return INT32_MAX;
    if (d < -INT32_MAX) return -INT32_MAX;
    return (int32_t)d;
}

/*
** Out of line, where the compiler puts it when no trace is involved: the
** returns that name a rule would otherwise tip it into the fast path.
*/
template <class Trace = NoTrace>
__attribute__((noinline)) static int32_t BothExhausted(const Verdicts* v, const char* endA, const char* endB,
                             Trace trace = nullptr)
{
    if (v->digit != 0) return Because(trace, kHeadwordRuleDigits, v->digit);
    if (v->innerPunct != 0) return Because(trace, kHeadwordRuleInnerPunctuation, v->innerPunct);
    if (v->letterCase != 0) return Because(trace, kHeadwordRuleCase, v->letterCase);
    if (v->leadPunct != 0) return Because(trace, kHeadwordRuleLeadingPunctuation, v->leadPunct);
    int32_t d = CompareSuffixes(endA, endB, trace);
    return Because(trace, d != 0 ? kHeadwordRuleSuffix : kHeadwordRuleEqual, d);
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
template <class Trace = NoTrace>
static int32_t Finish(const char* a, const char* b, const Verdicts* v, Trace trace = nullptr)
{
    if (IsEndByte(ByteAt(a))) {
        b = SkipWhitespace(b);
        NotePlace(trace, a, b);
        if (IsEndByte(ByteAt(b))) return BothExhausted(v, a, b, trace);
        return DecideByRest(v, b, -1, trace);
    }
    a = SkipWhitespace(a);
    NotePlace(trace, a, b);
    if (IsEndByte(ByteAt(a))) return BothExhausted(v, a, b, trace);
    return DecideByRest(v, a, 1, trace);
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

static void NoteVerdict(HeadwordVerdictNote* note, int32_t before, int32_t after,
                        const char* a, const char* b)
{
    if (before == 0 && after != 0) *note = HeadwordVerdictNote{after, a, b};
}

/*
** For an explanation: which verdicts the step at pair (a, b) has just set,
** and whether it matched the first word byte pair.  It only compares the
** state before and after the step, so it adds no rule of its own.
*/
static inline void NoteStep(NoTrace, const Verdicts*, const Verdicts*, const char*, const char*)
{
}

static void NoteStep(HeadwordExplanation* trace, const Verdicts* before, const Verdicts* after,
                     const char* a, const char* b)
{
    if (trace == nullptr) return;
    NoteVerdict(&trace->digit, before->digit, after->digit, a, b);
    NoteVerdict(&trace->innerPunct, before->innerPunct, after->innerPunct, a, b);
    NoteVerdict(&trace->letterCase, before->letterCase, after->letterCase, a, b);
    NoteVerdict(&trace->leadPunct, before->leadPunct, after->leadPunct, a, b);
    if (!before->wordMatched && after->wordMatched) trace->firstMatch = a, trace->secondMatch = b;
}

/*
** The plain scan: step by step until a letter decides or a headword ends.
** It is the statement of the order that CompareHeadwords must keep.  With
** a trace it also notes each verdict where it was set.
*/
template <class Trace>
static int32_t PlainScan(const char* first, const char* second, Trace trace)
{
    if (first == nullptr || second == nullptr) {
        int32_t result = first != nullptr    ? CompareWithNull(first, 1)
                         : second != nullptr ? CompareWithNull(second, -1)
                                             : 0;
        return Because(trace, result != 0 ? kHeadwordRuleRest : kHeadwordRuleEqual, result);
    }

    const char* a = SkipWhitespace(first);
    const char* b = SkipWhitespace(second);
    Verdicts v = {0, 0, 0, 0, false};
    for (;;) {
        if (IsEndByte(ByteAt(a)) || IsEndByte(ByteAt(b))) return Finish(a, b, &v, trace);
        const char* pairA = a;
        const char* pairB = b;
        Verdicts before = v;
        int32_t decided = Step(&a, &b, &v);
        NoteStep(trace, &before, &v, pairA, pairB);
        if (decided != 0) {
            NotePlace(trace, pairA, pairB);
            return Because(trace, kHeadwordRuleLetters, decided);
        }
    }
}

int32_t CompareHeadwordsExplained(const char* first, const char* second,
                                  HeadwordExplanation* explanation)
{
    if (explanation != nullptr) *explanation = HeadwordExplanation{};
    int32_t result = PlainScan(first, second, explanation);
    if (explanation != nullptr) explanation->result = result;
    return result;
}

extern "C" int32_t ORLIX_CALL CompareHeadwordsPlain(const char* first, const char* second)
{
    return PlainScan(first, second, nullptr);
}

/*
** Where the fast path settles a headword's end: a or b is at an end byte.
** A headword that ends where the other goes on with a letter sorts first
** whatever the verdicts, since a letter left over always decides; two
** headwords that end together go by their verdicts, then their suffixes.
** Anything else (whitespace, a digit or punctuation left over) goes by
** Finish, as in the plain scan.
*/
static inline int32_t SettleEnd(const char* a, const char* b, const Verdicts* v)
{
    int32_t ca = ByteAt(a);
    int32_t cb = ByteAt(b);
    if (IsEndByte(ca) && IsEndByte(cb)) return BothExhausted(v, a, b);
    if (IsEndByte(ca) && IsLetter(cb)) return -1;
    if (IsEndByte(cb) && IsLetter(ca)) return 1;
    return Finish(a, b, v);
}

/*
** The fast path: the plain scan, with the pairs a word list meets most
** settled first.  Each turn of the loop
**   - steps over a run of identical pairs, once a word byte pair has
**     matched: from then on an identical pair sets nothing (equal letters
**     or whitespace give no case difference, equal digits or punctuation
**     a difference of 0), so its class need not be looked at;
**   - acts on two letters, the usual pair, by the rule of word bytes;
**   - settles a headword's end in SettleEnd;
**   - hands any other pair to Step, the plain scan's own step.
** The word-match flag and the case verdict, the only state the letters
** touch, live in locals while the loop runs and are handed over in v.
** Bytes are read one at a time, and a run stops at an end byte of the
** first key, where the second key's byte is equal: neither key is read
** past its terminator.
*/
extern "C" int32_t ORLIX_CALL CompareHeadwords(const char* first, const char* second)
{
    if (first == nullptr) return second == nullptr ? 0 : CompareWithNull(second, -1);
    if (second == nullptr) return CompareWithNull(first, 1);

    /* Every whitespace byte is at most 0x20: one test passes most keys. */
    const char* a = (uint8_t)*first <= 0x20 ? SkipWhitespace(first) : first;
    const char* b = (uint8_t)*second <= 0x20 ? SkipWhitespace(second) : second;
    Verdicts v = {};
    bool matched = false;
    int32_t letterCase = 0;
    for (;;) {
        if (matched) {
            intptr_t n = 0;
            while (a[n] == b[n] && !IsEndByte(ByteAt(a + n))) n++;
            a += n, b += n;
        }
        int32_t ca = ByteAt(a);
        int32_t cb = ByteAt(b);
        if (IsLetter(ca) && IsLetter(cb)) {
            int32_t d = FoldLetter(ca) - FoldLetter(cb);
            if (d != 0) return d;
            if (letterCase == 0) letterCase = ca - cb;
            matched = true;
            a++, b++;
            continue;
        }
        v.wordMatched = matched;
        v.letterCase = letterCase;
        if (IsEndByte(ca) || IsEndByte(cb)) return SettleEnd(a, b, &v);
        /* Through copies, so that a and b can stay in registers. */
        const char* stepA = a;
        const char* stepB = b;
        int32_t decided = Step(&stepA, &stepB, &v);
        if (decided != 0) return decided;
        a = stepA, b = stepB;
        matched = v.wordMatched;
        letterCase = v.letterCase;
    }
}
