/*
** Key pairs whose collation answers the Windows builds must share with the
** host build: one of each rule, null keys, bytes >= 0x80 and suffixes that
** wrap.  Both the host probe and the recording library print
** "compare <n> <result>" for pair n, and the Wine tests diff the two.
*/
#ifndef ORLIX_TESTS_PROBE_PAIRS_H
#define ORLIX_TESTS_PROBE_PAIRS_H

struct ProbePair {
    const char* first;
    const char* second;
};

static const ProbePair kProbePairs[] = {
    {"abc", "abd"},       {"ABC", "abc"},         {nullptr, nullptr},
    {nullptr, "@"},       {" @", nullptr},        {"  abc", "abc "},
    {"a@10", "a@9"},      {"x@1@2", "x"},         {"abc@ 12", "abc@12"},
    {"ab@\xE9", "ab"},    {"a9", "A1"},           {"1a", "a1"},
    {"- -A", "- +a"},     {"-A", "+a"},           {"+ ", "- -"},
    {"a-B", "ab"},        {"a\tb", "a b"},        {"\xE9", "e"},
    {"caf\xE9", "cafe"},  {"\xC3\xA9t\xC3\xA9", "ete"},
    {"a@4294967295", "a"}, {"a@2147483648", "a"}, {"a", "a@2147483648"},
    {"a@99999999999", "a@-99999999999"},
};

enum { kProbePairCount = sizeof kProbePairs / sizeof kProbePairs[0] };

#endif
