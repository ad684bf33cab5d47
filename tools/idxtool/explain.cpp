/*
** idxtool explain: why two keys sort as they do.  The value and the rule
** come from the collation's own plain scan (CompareHeadwordsExplained);
** this file only puts what the scan noted into words.
*/
#include <stdio.h>
#include <string.h>

#include "collation/byte_classes.h"
#include "collation/compare_headwords.h"
#include "common/tool_common.h"
#include "commands.h"
#include "editor_commands.h"
#include "record_text.h"

const char* HeadwordRuleName(enum HeadwordRule rule)
{
    switch (rule) {
    case kHeadwordRuleLetters: return "letters";
    case kHeadwordRuleRest: return "rest";
    case kHeadwordRuleDigits: return "digits";
    case kHeadwordRuleInnerPunctuation: return "inner punctuation";
    case kHeadwordRuleCase: return "case";
    case kHeadwordRuleLeadingPunctuation: return "leading punctuation";
    case kHeadwordRuleSuffix: return "suffix";
    case kHeadwordRuleEqual: return "equal";
    }
    return "unknown";
}

/* The words of one key, for the sentences below. */
struct Side {
    const char* base;
    const char* name; /* "first" or "second" */
};

static std::string Quoted(const char* p, size_t length)
{
    std::string text = "'";
    FormatKeyText(p, length, &text);
    return text + "'";
}

/* "'c' (byte 3)": one byte of a key, by its 1-based position. */
static std::string Place(const Side& side, const char* p)
{
    std::string position = "byte " + std::to_string(p - side.base + 1);
    if (*p == 0) return "the end of the key (" + position + ")";
    return Quoted(p, 1) + " (" + position + ")";
}

static std::string Signed(int32_t v) { return std::to_string(v); }

static std::string Code(const char* p) { return std::to_string(ByteAt(p)); }

/* The collation's class of the byte at p, in words. */
static const char* ClassOf(const char* p)
{
    int32_t c = ByteAt(p);
    if (IsLetter(c)) return "a letter";
    if (IsWhitespace(c)) return "whitespace";
    if (IsDigit(c)) return "a digit";
    return "punctuation";
}

/* Why the pair that set a verdict gave its value. */
static std::string WhyValue(const HeadwordVerdictNote& note, enum HeadwordRule rule)
{
    const char* ca = ClassOf(note.first);
    const char* cb = ClassOf(note.second);
    if (rule == kHeadwordRuleCase)
        return Code(note.first) + " - " + Code(note.second) + ": the upper-case letter sorts first";
    if (std::string(ca) == cb)
        return Code(note.first) + " - " + Code(note.second);
    bool firstMarked = note.value > 0;
    std::string owner = firstMarked ? "first" : "second";
    std::string what = firstMarked ? ca : cb;
    std::string facing = firstMarked ? cb : ca;
    return what + " facing " + facing + " is stepped over and marks its own key, the " + owner +
           ", as the greater";
}

static void VerdictLine(std::string* out, const char* label, const HeadwordVerdictNote& note,
                        enum HeadwordRule rule, const Side& a, const Side& b)
{
    if (note.value == 0) return;
    *out += "  " + std::string(label) + ": " + Signed(note.value) + ", at " + Place(a, note.first) +
            " of the first key against " + Place(b, note.second) + " of the second; " +
            WhyValue(note, rule) + "\n";
}

/* "runs to the end of its key" or "ends at '@' (byte 4)". */
static std::string EndOf(const Side& side, const char* end)
{
    return *end == 0 ? "runs to the end of its key" : "ends at " + Place(side, end);
}

static std::string Ends(const HeadwordExplanation& e, const Side& a, const Side& b)
{
    return "both headwords end (the first " + EndOf(a, e.firstAt) + ", the second " +
           EndOf(b, e.secondAt) + ")";
}

static std::string Decision(const HeadwordExplanation& e, const Side& a, const Side& b)
{
    if (e.firstAt == nullptr) {
        if (e.rule == kHeadwordRuleEqual) return "both keys are null or empty";
        return "a null key sorts before any key that holds more than whitespace";
    }
    bool firstEnded = *e.firstAt == 0 || *e.firstAt == '@';
    bool secondEnded = *e.secondAt == 0 || *e.secondAt == '@';
    const Side& longer = firstEnded ? b : a;
    const char* longerAt = firstEnded ? e.secondAt : e.firstAt;
    std::string oneEnded =
        std::string("the ") + (firstEnded ? a.name : b.name) + " headword " +
        EndOf(firstEnded ? a : b, firstEnded ? e.firstAt : e.secondAt) + " while the " +
        longer.name + " goes on at " + Place(longer, longerAt);
    std::string phase = e.firstMatch != nullptr ? "inner punctuation" : "leading punctuation";
    switch (e.rule) {
    case kHeadwordRuleLetters:
        return Place(a, e.firstAt) + " of the first key and " + Place(b, e.secondAt) +
               " of the second differ after case folding: " + Signed(e.result) +
               "; nothing after them counts";
    case kHeadwordRuleRest:
        if (e.restAt != nullptr && strcmp(ClassOf(e.restAt), "a letter") == 0)
            return oneEnded + "; the letter " + Place(longer, e.restAt) +
                   " left over makes the " + longer.name + " key the greater, whatever else was met";
        if (e.restAt != nullptr)
            return oneEnded + "; no letter is left, no digit difference was met, and the digit " +
                   Place(longer, e.restAt) + " left over makes the " + longer.name +
                   " key the greater";
        return oneEnded + "; only punctuation or whitespace is left and no " + phase +
               " difference was met, so the " + longer.name + " key, the longer, is the greater";
    case kHeadwordRuleDigits:
        return (firstEnded && secondEnded ? Ends(e, a, b) : oneEnded + " with no letter left") +
               "; the first digit difference decides, before punctuation, case and suffix";
    case kHeadwordRuleInnerPunctuation:
        return (firstEnded && secondEnded ? Ends(e, a, b) + " with no digit difference"
                                          : oneEnded + " with no letter or digit left") +
               "; the first punctuation difference after the first matched word byte pair "
               "decides, before case";
    case kHeadwordRuleCase:
        return Ends(e, a, b) +
               " with no digit or inner punctuation difference; the first case difference decides";
    case kHeadwordRuleLeadingPunctuation:
        return (firstEnded && secondEnded ? Ends(e, a, b) + " with no digit or case difference"
                                          : oneEnded + " with no letter or digit left") +
               "; the first punctuation difference met before any word byte pair matched decides";
    case kHeadwordRuleSuffix:
    case kHeadwordRuleEqual:
        return Ends(e, a, b) + " with no verdict set; the numeric suffixes " +
               Signed(e.firstSuffix) + " and " + Signed(e.secondSuffix) +
               (e.rule == kHeadwordRuleEqual ? " are equal, so the keys sort together"
                                             : " decide: " + Signed(e.result));
    }
    return "";
}

std::string ExplainKeys(const std::string& first, const std::string& second, int32_t* result)
{
    HeadwordExplanation e;
    *result = CompareHeadwordsExplained(first.c_str(), second.c_str(), &e);
    Side a = {first.c_str(), "first"};
    Side b = {second.c_str(), "second"};

    std::string out = Signed(e.result) + "\t" + HeadwordRuleName(e.rule) + "\n";
    out += "first key:  " + Quoted(first.data(), first.size()) + "\n";
    out += "second key: " + Quoted(second.data(), second.size()) + "\n";
    out += "why: " + Decision(e, a, b) + ".\n";

    std::string verdicts;
    VerdictLine(&verdicts, "digits", e.digit, kHeadwordRuleDigits, a, b);
    VerdictLine(&verdicts, "inner punctuation", e.innerPunct, kHeadwordRuleInnerPunctuation, a, b);
    VerdictLine(&verdicts, "case", e.letterCase, kHeadwordRuleCase, a, b);
    VerdictLine(&verdicts, "leading punctuation", e.leadPunct, kHeadwordRuleLeadingPunctuation, a, b);
    out += verdicts.empty() ? "verdicts met: none\n" : "verdicts met, strongest first:\n" + verdicts;
    if (e.firstMatch != nullptr)
        out += "first matched word byte pair: " + Place(a, e.firstMatch) + " and " +
               Place(b, e.secondMatch) + "; punctuation met from there on ranks above case\n";
    else
        out += "no word byte pair matched; punctuation met ranks below case\n";
    return out;
}

int ExplainCommand(const char* first, const char* second)
{
    std::string keys[2];
    const char* texts[2] = {first, second};
    for (int n = 0; n < 2; n++) {
        const char* problem = ParseKeyText(texts[n], strlen(texts[n]), &keys[n]);
        if (problem == nullptr) continue;
        std::string slip = std::string(n == 0 ? "first" : "second") + " key '" + texts[n] + "': " + problem;
        return ToolUsage("idxtool", "explain", slip.c_str());
    }
    int32_t result = 0;
    std::string text = ExplainKeys(keys[0], keys[1], &result);
    if (result != CompareHeadwords(keys[0].c_str(), keys[1].c_str())) {
        ToolSay("idxtool", "explain: the plain scan and CompareHeadwords disagree");
        return kToolFailure;
    }
    ToolWrite(text.data(), text.size());
    return ToolFinishOutput("idxtool");
}

static int RunExplain(const IdxtoolOptions&, const std::vector<const char*>& op)
{
    return ExplainCommand(op[0], op[1]);
}

extern const IdxtoolCommand kExplainCommand = {
    {"explain", "KEY1 KEY2", 2, 2, true, nullptr,
     "  Compare two keys: a first line RESULT <TAB> RULE, then which rule\n"
     "  decided and why. Keys may begin with '-'.\n"},
    0, -1, RunExplain};
