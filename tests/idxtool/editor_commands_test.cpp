/*
** idxtool's editor commands as tables: key pairs with their value and
** rule, indexes with a key and the records found, indexes with the keys a
** binary search misses, and merges with what a dry run predicts, checked
** against the merge itself.
*/
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "collation/compare_headwords.h"
#include "collation/compare_headwords_plain.h"
#include "idxtool/editor_commands.h"
#include "orlixdb/index_format.h"
#include "orlixdb/orlixdb.h"
#include "safe_sort/safe_sort.h"

namespace {

struct RuleCase {
    const char* first;
    const char* second;
    int32_t value;
    HeadwordRule rule;
};

TEST(Explain, ValueAndRule)
{
    const RuleCase table[] = {
        {"abc", "abd", -1, kHeadwordRuleLetters},
        {"abc", "ABC", 32, kHeadwordRuleCase},
        {"ABC", "abc", -32, kHeadwordRuleCase},
        {"  abc", "abc ", 0, kHeadwordRuleEqual},
        {"", "", 0, kHeadwordRuleEqual},
        {"abc@", "abc", 0, kHeadwordRuleEqual},
        {"a@10", "a@9", 1, kHeadwordRuleSuffix},
        {"a", "a@5", -5, kHeadwordRuleSuffix},
        {"a", "b@1", -1, kHeadwordRuleLetters},
        {"ab  @3", "ab", 3, kHeadwordRuleSuffix},
        {"x@1@2", "x", 262, kHeadwordRuleSuffix},
        {"1a", "a1", 1, kHeadwordRuleDigits},
        {"a1b", "ab", 1, kHeadwordRuleDigits},
        {"a3", "a21", 1, kHeadwordRuleDigits},
        {"a9", "A1", 8, kHeadwordRuleDigits},
        {"ab", "ab1", -1, kHeadwordRuleRest},
        {"a1", "a1x", -1, kHeadwordRuleRest},
        {"a1", "a2x", -1, kHeadwordRuleRest},
        {"a1", "a2-", -1, kHeadwordRuleDigits},
        {"a 1", "a1", -1, kHeadwordRuleDigits},
        {"a", "1", 1, kHeadwordRuleRest},
        {"a-b", "ab", 1, kHeadwordRuleInnerPunctuation},
        {"-ab", "ab", 1, kHeadwordRuleLeadingPunctuation},
        {"-Ab", "ab", -32, kHeadwordRuleCase},
        {"a-B", "ab", 1, kHeadwordRuleInnerPunctuation},
        {"- -A", "- +a", 2, kHeadwordRuleInnerPunctuation},
        {"-A", "+a", -32, kHeadwordRuleCase},
        {"+ ", "- -", -1, kHeadwordRuleRest},
        {"-a", "+a", 2, kHeadwordRuleLeadingPunctuation},
        {"ab-", "ab", 1, kHeadwordRuleRest},
        {"ab-", "ab+", 2, kHeadwordRuleInnerPunctuation},
        {"-", "+", 2, kHeadwordRuleLeadingPunctuation},
        {"-x", "x-", -1, kHeadwordRuleRest},
        {"-x-", "x+", 2, kHeadwordRuleInnerPunctuation},
        {"a-", "a", 1, kHeadwordRuleRest},
        {"-a", "a", 1, kHeadwordRuleLeadingPunctuation},
        {"a b", "ab", -66, kHeadwordRuleLetters},
        {"\xE9", "e", -1, kHeadwordRuleRest},
        {"co-op", "coop", 1, kHeadwordRuleInnerPunctuation},
        {"-Bank", "Bank", 1, kHeadwordRuleLeadingPunctuation},
        {"-Bank", "bank", -32, kHeadwordRuleCase},
        {nullptr, nullptr, 0, kHeadwordRuleEqual},
        {nullptr, "  ", 0, kHeadwordRuleEqual},
        {nullptr, "@", -1, kHeadwordRuleRest},
        {"x", nullptr, 1, kHeadwordRuleRest},
    };
    for (const RuleCase& c : table) {
        HeadwordExplanation e;
        int32_t value = CompareHeadwordsExplained(c.first, c.second, &e);
        std::string pair = std::string("'") + (c.first ? c.first : "(null)") + "' vs '" +
                           (c.second ? c.second : "(null)") + "'";
        EXPECT_EQ(value, c.value) << pair;
        EXPECT_EQ(value, CompareHeadwords(c.first, c.second)) << pair;
        EXPECT_EQ(e.result, c.value) << pair;
        EXPECT_STREQ(HeadwordRuleName(e.rule), HeadwordRuleName(c.rule)) << pair;
    }
}

/* Each verdict is noted at the pair that set it: (byte of first, byte of second), 1-based. */
struct NoteCase {
    const char* first;
    const char* second;
    int digitAt[2], innerAt[2], caseAt[2], leadAt[2], matchAt[2];
};

static void ExpectAt(const HeadwordVerdictNote& note, const int at[2], const char* a,
                     const char* b, const char* what)
{
    if (at[0] == 0) {
        EXPECT_EQ(note.value, 0) << what;
        return;
    }
    ASSERT_NE(note.value, 0) << what;
    EXPECT_EQ(note.first - a + 1, at[0]) << what;
    EXPECT_EQ(note.second - b + 1, at[1]) << what;
}

TEST(Explain, VerdictsAreNotedWhereTheyWereSet)
{
    const NoteCase table[] = {
        /* first, second, digit, inner, case, lead, first matched pair */
        {"a-B", "ab", {0, 0}, {2, 2}, {3, 2}, {0, 0}, {1, 1}},
        {"-A", "+a", {0, 0}, {0, 0}, {2, 2}, {1, 1}, {2, 2}},
        {"- -A", "- +a", {0, 0}, {3, 3}, {4, 4}, {0, 0}, {2, 2}},
        {"a9x.", "A1x,", {2, 2}, {4, 4}, {1, 1}, {0, 0}, {1, 1}},
        {"  Ab1", "ab2", {5, 3}, {0, 0}, {3, 1}, {0, 0}, {3, 1}},
    };
    for (const NoteCase& c : table) {
        HeadwordExplanation e;
        CompareHeadwordsExplained(c.first, c.second, &e);
        std::string pair = std::string("'") + c.first + "' vs '" + c.second + "'";
        ExpectAt(e.digit, c.digitAt, c.first, c.second, (pair + " digit").c_str());
        ExpectAt(e.innerPunct, c.innerAt, c.first, c.second, (pair + " inner").c_str());
        ExpectAt(e.letterCase, c.caseAt, c.first, c.second, (pair + " case").c_str());
        ExpectAt(e.leadPunct, c.leadAt, c.first, c.second, (pair + " lead").c_str());
        if (c.matchAt[0] == 0) {
            EXPECT_EQ(e.firstMatch, nullptr) << pair;
        } else {
            EXPECT_EQ(e.firstMatch - c.first + 1, c.matchAt[0]) << pair;
            EXPECT_EQ(e.secondMatch - c.second + 1, c.matchAt[1]) << pair;
        }
    }
}

TEST(Explain, FirstLineIsValueTabRule)
{
    int32_t value = 0;
    EXPECT_EQ(ExplainKeys("co-op", "coop", &value).substr(0, 20), "1\tinner punctuation\n");
    EXPECT_EQ(value, 1);
    EXPECT_EQ(ExplainKeys("-Bank", "bank", &value).substr(0, 9), "-32\tcase\n");
    EXPECT_EQ(ExplainKeys("a\tb", "a b", &value).substr(0, 12), "-23\tletters\n");
}

/* Records in memory, sorted as an index is. */
struct Index {
    std::vector<std::string> keys;
    std::vector<IndexRecord> records;

    explicit Index(std::vector<std::string> k) : keys(std::move(k))
    {
        for (size_t n = 0; n < keys.size(); n++)
            records.push_back(IndexRecord{keys[n].c_str(), (uint32_t)keys[n].size(), (uint32_t)n});
    }
    void Sort()
    {
        std::vector<const void*> items, scratch(records.size());
        for (const IndexRecord& r : records) items.push_back(&r);
        SafeStableSort(items.data(), items.size(), scratch.data(),
                       [](const void* a, const void* b, void*) {
                           return CompareHeadwords(((const IndexRecord*)a)->key,
                                                   ((const IndexRecord*)b)->key);
                       },
                       nullptr);
        std::vector<IndexRecord> sorted;
        for (const void* p : items) sorted.push_back(*(const IndexRecord*)p);
        records = sorted;
    }
    std::vector<std::string> Keys(const std::vector<size_t>& at) const
    {
        std::vector<std::string> out;
        for (size_t n : at) out.push_back(records[n].key);
        return out;
    }
};

struct FindCase {
    std::vector<std::string> index; /* sorted by the test */
    const char* key;
    std::vector<std::string> found; /* in index order */
};

TEST(Find, RecordsOfAHeadword)
{
    const std::vector<std::string> bank = {"bank", "Bank", "BANK", "bank@1", "Bank@2", " bank",
                                           "bank@", "-bank", "bank-", "bank 2", "banks",
                                           "-Bank", "bang", "bank\xE9", "ban"};
    const FindCase table[] = {
        {bank, "bank", {"BANK", "Bank", "Bank@2", "bank", " bank", "bank@", "bank@1"}},
        {bank, "BANK@7", {"BANK", "Bank", "Bank@2", "bank", " bank", "bank@", "bank@1"}},
        {bank, "-bank", {"-Bank", "-bank"}},
        {bank, "bank 2", {"bank 2"}},
        {bank, "banks", {"banks"}},
        {bank, "bank\xE9", {"bank\xE9"}},
        {bank, "bangs", {}},
        {bank, "", {}},
        {{"co-op", "coop", "Coop", "co-op@2", "CO-OP", "coop-", "co op"}, "co-op",
         {"CO-OP", "co-op", "co-op@2"}},
        {{"a9", "A1", "a1", "a@3", "A"}, "a1", {"A1", "a1"}},
        {{" ", "@1", "x"}, "", {" ", "@1"}},
        {{}, "bank", {}},
        /* Whitespace at the ends of KEY and of the records does not count. */
        {{"bank@3", "bank\t@6", "Bank", "bank\t", "banks", "-bank"}, "bank ",
         {"Bank", "bank\t", "bank@3", "bank\t@6"}},
        {{"bank@3", "bank\t@6", "Bank", "bank\t", "banks", "-bank"}, " \tbank\t \t",
         {"Bank", "bank\t", "bank@3", "bank\t@6"}},
        {{"bank ", "bank\tx", "bank\t", "bank x", "bank"}, "bank",
         {"bank\t", "bank", "bank "}},
    };
    for (const FindCase& c : table) {
        Index index(c.index);
        index.Sort();
        std::vector<size_t> at = FindHeadword(index.records, c.key);
        EXPECT_EQ(index.Keys(at), c.found) << "find '" << c.key << "'";
    }
}

/* The words of a word list with the variants editors make of them. */
static std::vector<std::string> WordsWithVariants(size_t step)
{
    std::ifstream in("/usr/share/dict/words");
    std::vector<std::string> keys;
    std::string w;
    for (size_t n = 0; std::getline(in, w); n++) {
        keys.push_back(w);
        if (n % step != 0) continue;
        std::string upper = w;
        for (char& c : upper) c = (char)toupper((unsigned char)c);
        keys.insert(keys.end(), {upper, "-" + w, w + "-", w + "@1", " " + w, w + " 2",
                                 w + "." + w, "@" + w});
    }
    return keys;
}

/*
** The headword of the definition: A-Z folded, everything from the first
** "@" cut off, and the whitespace at both ends of what is left.
*/
static std::string FoldedHeadword(const std::string& key)
{
    static const char kWhitespace[] = " \t\n\v\f\r";
    std::string h = key.substr(0, key.find('@'));
    for (char& c : h) c = c >= 'A' && c <= 'Z' ? (char)(c + 32) : c;
    size_t first = h.find_first_not_of(kWhitespace);
    if (first == std::string::npos) return "";
    return h.substr(first, h.find_last_not_of(kWhitespace) + 1 - first);
}

/*
** Keys of letters with whitespace at their ends and inside, a leading
** hyphen and suffixes, any mix of spaces and tabs: find gives what a pass
** over every record gives by the definition.
*/
TEST(Find, EdgeWhitespaceOfGeneratedKeys)
{
    static const char* const kEdges[] = {"", " ", "\t", " \t", "\t ", "  ", "\r"};
    static const char* const kWords[] = {"ba", "Ba", "b a", "b\ta", "bA", "ab", "b", "a-b", "b1"};
    static const char* const kEnds[] = {"", "@1", "@2", "x"};
    unsigned seed = 7;
    auto pick = [&seed](size_t n) { return (size_t)((seed = seed * 1103515245u + 12345u) >> 16) % n; };
    std::vector<std::string> keys;
    for (int n = 0; n < 3000; n++)
        keys.push_back(std::string(pick(3) == 0 ? "-" : "") + kEdges[pick(7)] + kWords[pick(9)] +
                       kEdges[pick(7)] + kEnds[pick(4)]);
    Index index(keys);
    index.Sort();
    for (int q = 0; q < 300; q++) {
        std::string key = std::string(kEdges[pick(7)]) + kWords[pick(9)] + kEdges[pick(7)] + kEnds[pick(3)];
        std::string headword = FoldedHeadword(key);
        std::vector<size_t> every;
        for (size_t r = 0; r < index.records.size(); r++)
            if (CompareHeadwords(FoldedHeadword(index.records[r].key).c_str(), headword.c_str()) == 0)
                every.push_back(r);
        ASSERT_EQ(FindHeadword(index.records, key), every) << "find '" << key << "'";
    }
}

struct LookupCase {
    std::vector<std::string> index; /* in this order: already sorted */
    std::vector<size_t> unreachable; /* 0-based positions */
};

TEST(Lookup, KeysABinarySearchMisses)
{
    const LookupCase table[] = {
        {{"apple", "banana", "cherry"}, {}},
        {{}, {}},
        {{"a", "a", "a"}, {}},
        {{"abc", "abc ", " abc", "abc@"}, {}},
        /* '-' < '-- ' < '+ -' yet '-' > '+ -'.  With three records the first
           probe is the middle one and every key is reached. */
        {{"-", "-- ", "+ -"}, {}},
        /* With four the search for '-' probes '+ -' first and goes right. */
        {{"-", "-- ", "+ -", "x"}, {0}},
        {{"#", "-", "-- ", "+ -", "x", "y", "z"}, {1}},
        {{"-", "-- ", "+ -", "+ -x", "x", "y", "z"}, {}},
        /* The search for '- ' meets '-@', which sorts with it, and the run
           of keys sorting with '- ' there does not hold it. */
        {{"- ", "+ -", "-@", "--"}, {0}},
    };
    for (const LookupCase& c : table) {
        Index index(c.index);
        for (size_t n = 1; n < index.records.size(); n++)
            ASSERT_LE(CompareHeadwords(index.records[n - 1].key, index.records[n].key), 0)
                << "table index out of order at " << n;
        std::vector<size_t> missed;
        for (const UnreachableKey& u : FindUnreachableKeys(index.records)) missed.push_back(u.record);
        EXPECT_EQ(missed, c.unreachable) << "index of " << c.index.size() << " starting '"
                                         << (c.index.empty() ? "" : c.index[0]) << "'";
    }
}

TEST(Lookup, EveryWordOfTheWordListIsReachable)
{
    Index index(WordsWithVariants(17));
    ASSERT_GT(index.records.size(), 50000u);
    index.Sort();
    EXPECT_EQ(FindUnreachableKeys(index.records).size(), 0u);
}

}  // namespace

namespace {

typedef std::vector<std::pair<std::string, uint32_t>> Recs;

/* A fresh directory for index files, removed with what it holds. */
struct Dir {
    std::string path;
    Dir()
    {
        char name[] = "/tmp/idxtool-test-XXXXXX";
        path = mkdtemp(name) != nullptr ? name : "";
    }
    ~Dir() { (void)!system(("rm -rf '" + path + "'").c_str()); }
    std::string File(const std::string& name) const { return path + "/" + name; }
};

static void WriteIndex(const std::string& path, const Recs& recs)
{
    std::vector<IndexRecord> records;
    std::vector<const IndexRecord*> items;
    for (const auto& r : recs)
        records.push_back(IndexRecord{r.first.c_str(), (uint32_t)r.first.size(), r.second});
    for (const IndexRecord& r : records) items.push_back(&r);
    std::vector<uint8_t> image((size_t)IndexImageSize(items.data(), items.size()));
    IndexWriteImage(image.data(), items.data(), items.size());
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(image.data(), 1, image.size(), f), image.size());
    fclose(f);
}

static std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct PlanCase {
    const char* what;
    bool targetExists;
    Recs target;
    std::vector<Recs> sources;
    size_t added, alreadyPresent, result;
    bool changes;
};

TEST(MergeDryRun, PredictsTheMerge)
{
    const Recs ab = {{"apple", 1}, {"banana", 2}};
    const PlanCase table[] = {
        {"new records", true, ab, {{{"cherry", 3}}}, 1, 0, 3, true},
        {"all present", true, ab, {{{"banana", 2}, {"apple", 1}}}, 0, 2, 2, false},
        {"same key, other reference", true, ab, {{{"apple", 9}}}, 1, 0, 3, true},
        {"repeat across sources", true, ab, {{{"kiwi", 5}}, {{"kiwi", 5}, {"apple", 1}}}, 1, 2, 3,
         true},
        {"target out of order", true, {{"banana", 2}, {"apple", 1}}, {}, 0, 0, 2, true},
        {"target repeats a record", true, {{"apple", 1}, {"apple", 1}}, {}, 0, 0, 1, true},
        {"no target", false, {}, {ab}, 2, 0, 2, true},
        {"nothing at all", false, {}, {{}}, 0, 0, 0, false},
        {"keys that sort together stay", true, {{"abc", 1}}, {{{"abc ", 1}, {"ABC", 1}}}, 2, 0, 3,
         true},
    };
    for (const PlanCase& c : table) {
        Dir dir;
        std::string target = dir.File("target.idx");
        if (c.targetExists) WriteIndex(target, c.target);
        std::vector<std::string> paths;
        for (size_t n = 0; n < c.sources.size(); n++) {
            paths.push_back(dir.File("source" + std::to_string(n) + ".idx"));
            WriteIndex(paths.back(), c.sources[n]);
        }
        std::vector<char*> sources;
        for (std::string& p : paths) sources.push_back(&p[0]);
        std::string before = ReadFile(target);

        MergePlan plan;
        std::string problem;
        std::string failed;
        ASSERT_TRUE(PlanMerge(target.c_str(), (int)sources.size(), sources.data(), &plan,
                              &problem, &failed))
            << c.what << ": " << problem;
        EXPECT_EQ(plan.added, c.added) << c.what;
        EXPECT_EQ(plan.alreadyPresent, c.alreadyPresent) << c.what;
        EXPECT_EQ(plan.resultRecords, c.result) << c.what;
        EXPECT_EQ(plan.changes, c.changes) << c.what;
        EXPECT_EQ(ReadFile(target), before) << c.what << ": the dry run wrote";
        EXPECT_EQ(access(target.c_str(), F_OK) == 0, c.targetExists) << c.what;

        /* The merge itself does what the dry run said. */
        std::vector<const char*> list(sources.begin(), sources.end());
        ASSERT_EQ(OrlixMergeIndexes(target.c_str(), (int32_t)list.size(), list.data(),
                                    CompareHeadwords),
                  kOrlixOk)
            << c.what;
        std::string after = ReadFile(target);
        EXPECT_EQ(after != before || (access(target.c_str(), F_OK) == 0) != c.targetExists,
                  c.changes)
            << c.what;
        if (!after.empty()) {
            IndexScan scan;
            ASSERT_EQ(IndexCheck((const uint8_t*)after.data(), after.size(), &scan), kIndexFine);
            EXPECT_EQ(scan.count, c.result) << c.what;
        }
    }
}

struct OrderCase {
    Recs index; /* in this order */
    int findStatus, lookupStatus;
    const char* message; /* what stderr holds: where the order breaks, for both */
};

/* find and check --lookup name where an index leaves headword order, never "no record". */
TEST(SearchingCommands, RefuseAnIndexOutOfOrder)
{
    const OrderCase table[] = {
        {{{"b", 1}, {"a", 2}}, 1, 1, "record 2"},
        {{{"apple", 1}, {"cherry", 2}, {"banana", 3}}, 1, 1, "record 3"},
        {{{"bank", 1}, {"Bank", 2}}, 1, 1, "record 2"},
        {{{"a", 1}, {"a", 2}, {"b", 3}}, 0, 0, ""},
        {{{"c", 1}, {"d", 2}}, 1, 0, "no record of 'a'"},
    };
    for (const OrderCase& c : table) {
        Dir dir;
        std::string path = dir.File("t.idx");
        WriteIndex(path, c.index);
        testing::internal::CaptureStderr();
        EXPECT_EQ(FindCommand(path.c_str(), "a"), c.findStatus) << c.message;
        std::string found = testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        EXPECT_EQ(CheckCommand(path.c_str(), true), c.lookupStatus) << c.message;
        std::string lookup = testing::internal::GetCapturedStderr();
        EXPECT_NE(found.find(c.message), std::string::npos) << found;
        EXPECT_NE(lookup.find(c.lookupStatus != 0 ? c.message : ""), std::string::npos) << lookup;
    }
}

TEST(MergeDryRun, NamesTheInputAMergeWouldStopAt)
{
    Dir dir;
    std::string target = dir.File("target.idx"), good = dir.File("good.idx"),
                junk = dir.File("junk.idx"), missing = dir.File("missing.idx");
    WriteIndex(good, {{"apple", 1}});
    FILE* f = fopen(junk.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("NOTANINDEX-----------", f);
    fclose(f);
    std::vector<char*> sources = {&good[0], &missing[0], &junk[0]};
    MergePlan plan;
    std::string problem;
    std::string failed;
    EXPECT_FALSE(PlanMerge(target.c_str(), 3, sources.data(), &plan, &problem, &failed));
    EXPECT_EQ(failed, junk);
    EXPECT_NE(problem.find("magic"), std::string::npos) << problem;
    EXPECT_NE(access(target.c_str(), F_OK), 0) << "the dry run created the target";
}

}  // namespace
