#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>

#include "collation/compare_headwords.h"
#include "index_fixture.h"
#include "orlixdb/index_format.h"
#include "orlixdb/orlixdb.h"

namespace {

/* A merge of target and sources in `dir`, each given as records or absent. */
struct Job {
    TempDir dir;
    std::string target = dir.Path("00010301.idx");
    std::vector<std::string> sources;

    void Source(const Recs& records)
    {
        sources.push_back(dir.Path("src" + std::to_string(sources.size()) + ".idx"));
        WriteBytes(sources.back(), IndexBytes(records));
    }
    void MissingSource() { sources.push_back(dir.Path("missing" + std::to_string(sources.size()))); }
    int32_t Run(OrlixKeyCompare compare = CompareHeadwords)
    {
        std::vector<const char*> list = List();
        return OrlixMergeIndexes(target.c_str(), (int32_t)list.size(), list.data(), compare);
    }
    std::vector<const char*> List() const
    {
        std::vector<const char*> list;
        for (const std::string& s : sources) list.push_back(s.c_str());
        return list;
    }
    /* What the library would write, with what it found of each input; nothing written. */
    int32_t Plan(std::vector<uint8_t>* image, bool* unchanged, std::vector<OrlixMergeInput>* inputs)
    {
        std::vector<const char*> list = List();
        inputs->assign(list.size() + 1, OrlixMergeInput{true, 99, 99});
        OrlixMergedImage merged = {nullptr, 0, 0, false};
        int32_t result = Merge(target.c_str(), list, 0, nullptr, inputs->data(), &merged);
        image->assign(merged.bytes, merged.bytes + merged.size);
        *unchanged = merged.unchanged;
        free(merged.bytes);
        return result;
    }
    /* The job, with what it found of each input. */
    int32_t RunCounting(std::vector<OrlixMergeInput>* inputs)
    {
        std::vector<const char*> list = List();
        inputs->assign(list.size() + 1, OrlixMergeInput{true, 99, 99});
        return Merge(target.c_str(), list, 1000, nullptr, inputs->data());
    }
};

struct MergeCase {
    const char* what;
    Recs target;
    std::vector<Recs> sources;
    Recs expected;
};

TEST(MergeIndexes, OrderStabilityAndDuplicates)
{
    const std::vector<MergeCase> table = {
        {"sources into empty target", {}, {{{"b", 2}}, {{"a", 1}}}, {{"a", 1}, {"b", 2}}},
        {"unsorted target gets sorted", {{"c", 3}, {"a", 1}, {"b", 2}}, {}, {{"a", 1}, {"b", 2}, {"c", 3}}},
        {"upper case first", {{"abc", 1}}, {{{"ABC", 2}}}, {{"ABC", 2}, {"abc", 1}}},
        {"same record everywhere kept once", {{"a", 1}}, {{{"a", 1}}, {{"a", 1}, {"a", 1}}}, {{"a", 1}}},
        {"same key, other reference kept", {{"a", 1}}, {{{"a", 2}}}, {{"a", 1}, {"a", 2}}},
        {"ties: target, then sources in order",
         {{"abc ", 1}},
         {{{"abc", 2}, {"  abc", 3}}, {{"abc@", 4}}},
         {{"abc ", 1}, {"abc", 2}, {"  abc", 3}, {"abc@", 4}}},
        {"ties keep file order", {{"x", 9}, {"x ", 8}, {"x", 7}}, {}, {{"x", 9}, {"x ", 8}, {"x", 7}}},
        {"suffix decides last", {{"a@10", 1}, {"a@9", 2}, {"a", 3}}, {}, {{"a", 3}, {"a@9", 2}, {"a@10", 1}}},
        {"digits and punctuation", {{"a-b", 1}, {"a1b", 2}}, {{{"ab", 3}}}, {{"ab", 3}, {"a-b", 1}, {"a1b", 2}}},
        {"bytes above 0x7F are punctuation", {{"\xE9", 1}}, {{{"e", 2}, {"d", 3}}}, {{"\xE9", 1}, {"d", 3}, {"e", 2}}},
    };
    for (const MergeCase& c : table) {
        Job job;
        if (!c.target.empty()) WriteBytes(job.target, IndexBytes(c.target));
        for (const Recs& s : c.sources) job.Source(s);
        std::vector<uint8_t> image, before = ReadBytes(job.target);
        std::vector<OrlixMergeInput> inputs;
        bool unchanged = false;
        ASSERT_EQ(job.Plan(&image, &unchanged, &inputs), kOrlixOk) << c.what;
        EXPECT_EQ(ReadBytes(job.target), before) << c.what << ": building the image wrote";
        EXPECT_EQ(job.Run(), kOrlixOk) << c.what;
        EXPECT_EQ(ReadRecords(job.target), c.expected) << c.what;
        EXPECT_EQ(ReadBytes(job.target), image) << c.what << ": the job wrote another image";
        EXPECT_EQ(unchanged, ReadBytes(job.target) == before) << c.what;
    }
}

TEST(MergeIndexes, MissingFilesCountAsEmpty)
{
    Job none;
    none.MissingSource();
    EXPECT_EQ(none.Run(), kOrlixOk);
    EXPECT_FALSE(FileExists(none.target)) << "nothing to index creates no file";

    Job some;
    some.MissingSource();
    some.Source({{"b", 1}, {"a", 2}});
    EXPECT_EQ(some.Run(), kOrlixOk);
    EXPECT_EQ(ReadRecords(some.target), (Recs{{"a", 2}, {"b", 1}}));
}

/* What each input held and kept, target first; the same from the image and from the job. */
struct Tally {
    bool missing;
    uint32_t records, kept;
    bool operator==(const OrlixMergeInput& in) const
    {
        return missing == in.missing && records == in.records && kept == in.kept;
    }
};

struct TallyCase {
    const char* what;
    std::vector<std::optional<Recs>> inputs; /* target first; nullopt: no such file */
    int junk;                                /* the input that is no index, or -1 */
    int32_t result;
    std::vector<Tally> expected;
};

TEST(MergeIndexes, InputsSayWhatEachHeldAndKept)
{
    const Recs ab = {{"a", 1}, {"b", 2}};
    const std::vector<uint8_t> junk = {'j', 'u', 'n', 'k'};
    const std::vector<TallyCase> table = {
        {"new target", {std::nullopt, ab}, -1, kOrlixOk, {{true, 0, 0}, {false, 2, 2}}},
        {"nothing at all", {std::nullopt, std::nullopt}, -1, kOrlixOk, {{true, 0, 0}, {true, 0, 0}}},
        {"missing source between",
         {ab, Recs{{"b", 2}, {"c", 3}}, std::nullopt, Recs{{"c", 3}, {"a", 9}}},
         -1,
         kOrlixOk,
         {{false, 2, 2}, {false, 2, 1}, {true, 0, 0}, {false, 2, 1}}},
        {"repeats in the target", {Recs{{"a", 1}, {"a", 1}}, ab}, -1, kOrlixOk,
         {{false, 2, 1}, {false, 2, 1}}},
        {"empty target", {Recs{}, std::nullopt}, -1, kOrlixOk, {{false, 0, 0}, {true, 0, 0}}},
        {"stops at a damaged source",
         {std::nullopt, ab, std::nullopt, Recs{}, ab},
         3,
         kOrlixCorrupt,
         {{true, 0, 0}, {false, 2, 0}, {true, 0, 0}, {false, 0, 0}, {false, 0, 0}}},
    };
    for (const TallyCase& c : table) {
        Job job;
        for (size_t n = 0; n < c.inputs.size(); n++) {
            std::string path = n == 0 ? job.target : job.dir.Path("s" + std::to_string(n));
            if (n > 0) job.sources.push_back(path);
            if (c.inputs[n]) WriteBytes(path, (int)n == c.junk ? junk : IndexBytes(*c.inputs[n]));
        }
        std::vector<uint8_t> image;
        bool unchanged = false;
        std::vector<OrlixMergeInput> planned, counted;
        EXPECT_EQ(job.Plan(&image, &unchanged, &planned), c.result) << c.what;
        EXPECT_EQ(job.RunCounting(&counted), c.result) << c.what;
        EXPECT_EQ(image.empty(), c.result != kOrlixOk) << c.what;
        for (size_t n = 0; n < c.expected.size(); n++) {
            EXPECT_TRUE(c.expected[n] == planned[n]) << c.what << ": image, input " << n;
            EXPECT_TRUE(c.expected[n] == counted[n]) << c.what << ": job, input " << n;
        }
    }
}

/* The second run finds every record already there and writes nothing. */
TEST(MergeIndexes, SecondRunChangesNothing)
{
    Job job;
    WriteBytes(job.target, IndexBytes({{"zeta", 1}, {"- -", 2}, {"+ ", 3}, {"Alpha", 4}}));
    job.Source({{"beta@2", 5}, {"beta", 6}, {"-", 7}, {"+", 8}, {"\xC4rger", 9}});
    job.Source({{"alpha", 10}, {"zeta", 1}, {" ", 11}, {"a b", 12}});
    ASSERT_EQ(job.Run(), kOrlixOk);
    std::vector<uint8_t> first = ReadBytes(job.target);
    struct stat before, after;
    ASSERT_EQ(stat(job.target.c_str(), &before), 0);
    ASSERT_EQ(job.Run(), kOrlixOk);
    ASSERT_EQ(stat(job.target.c_str(), &after), 0);
    EXPECT_EQ(ReadBytes(job.target), first);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the target was rewritten";
}

/* Every byte class, in keys of one and two bytes: sorted, nothing lost. */
TEST(MergeIndexes, KeysOfEveryByteClassComeOutSorted)
{
    Recs all;
    for (int c = 1; c < 256; c++) {
        all.push_back(Rec(std::string(1, (char)c), (uint32_t)c));
        all.push_back(Rec(std::string(1, (char)c) + "a", (uint32_t)c));
        if (c != 'a') all.push_back(Rec("a" + std::string(1, (char)c), (uint32_t)c));
    }
    std::shuffle(all.begin(), all.end(), std::mt19937(5));
    Job job;
    job.Source(Recs(all.begin(), all.begin() + 300));
    job.Source(Recs(all.begin() + 300, all.end()));
    ASSERT_EQ(job.Run(), kOrlixOk);
    Recs merged = ReadRecords(job.target);
    ASSERT_EQ(merged.size(), all.size());
    for (size_t i = 1; i < merged.size(); i++)
        EXPECT_LE(CompareHeadwords(merged[i - 1].first.c_str(), merged[i].first.c_str()), 0) << i;
    std::sort(all.begin(), all.end());
    std::sort(merged.begin(), merged.end());
    EXPECT_EQ(merged, all);
}

/* Damage in the target or in any source: its code, and no byte of the target moves. */
TEST(MergeIndexes, DamagedInputLeavesTargetUntouched)
{
    const std::vector<uint8_t> target = IndexBytes({{"keep", 1}, {"me", 2}});
    for (size_t which = 0; which < 3; which++) {
        for (size_t d = 0; d < DamageCount(); d++) {
            Job job;
            WriteBytes(job.target, target);
            job.Source({{"new", 3}});
            job.Source({{"abc", 1}, {"de", 2}});
            std::vector<uint8_t> bad = IndexBytes({{"abc", 1}, {"de", 2}});
            ApplyDamage(d, &bad);
            WriteBytes(which == 0 ? job.target : job.sources[which - 1], bad);
            std::vector<uint8_t> before = ReadBytes(job.target);
            EXPECT_EQ(job.Run(), kOrlixCorrupt) << DamageName(d) << " in file " << which;
            EXPECT_EQ(ReadBytes(job.target), before) << DamageName(d) << " in file " << which;
            EXPECT_EQ(job.dir.Entries().size(), 3u) << "temporary left behind";
        }
    }
}

/* A target whose directory is missing: nothing can be written there. */
TEST(MergeIndexes, MissingDirectoryIsAWriteFailure)
{
    Job job;
    job.target = job.dir.Path("gone/00010301.idx");
    job.Source({{"a", 1}});
    EXPECT_EQ(job.Run(), kOrlixWriteFailed);
}

TEST(MergeIndexes, BadCallsAreRefused)
{
    const char* one[] = {"x"};
    const char* null[] = {nullptr};
    const char* empty[] = {""};
    EXPECT_EQ(OrlixMergeIndexes(nullptr, 0, nullptr, CompareHeadwords), kOrlixBadCall);
    EXPECT_EQ(OrlixMergeIndexes("", 0, nullptr, CompareHeadwords), kOrlixBadCall);
    EXPECT_EQ(OrlixMergeIndexes("t", -1, one, CompareHeadwords), kOrlixBadCall);
    EXPECT_EQ(OrlixMergeIndexes("t", kOrlixMaxSources + 1, one, CompareHeadwords), kOrlixBadCall);
    EXPECT_EQ(OrlixMergeIndexes("t", 1, nullptr, CompareHeadwords), kOrlixBadCall);
    EXPECT_EQ(OrlixMergeIndexes("t", 1, null, CompareHeadwords), kOrlixBadCall);
    EXPECT_EQ(OrlixMergeIndexes("t", 1, empty, CompareHeadwords), kOrlixBadCall);
    EXPECT_EQ(OrlixMergeIndexes("t", 1, one, nullptr), kOrlixBadCall);
    OrlixMergedImage merged = {(uint8_t*)one, 1, 1, true};
    EXPECT_EQ(Merge("t", {nullptr}, 0, nullptr, nullptr, &merged), kOrlixBadCall);
    EXPECT_EQ(merged.bytes, nullptr);
}

/* Comparators the job must survive; each checks it is handed two real keys. */
std::mt19937 gAnswers;
size_t gCalls;

bool ValidKey(const char* key) { return key != nullptr && *key != 0 && strlen(key) <= kIndexMaxKey; }

int32_t ORLIX_CALL RandomCompare(const char* a, const char* b)
{
    EXPECT_TRUE(ValidKey(a) && ValidKey(b));
    return (int32_t)gAnswers();
}

int32_t ORLIX_CALL InconsistentCompare(const char* a, const char* b)
{
    EXPECT_TRUE(ValidKey(a) && ValidKey(b));
    return ++gCalls % 5 == 0 ? INT32_MIN : CompareHeadwords(b, a);
}

TEST(MergeIndexes, AnyComparatorLosesAndAddsNothing)
{
    std::mt19937 rng(11);
    for (size_t n : {0, 1, 2, 3, 10, 64, 65, 500, 3000}) {
        for (OrlixKeyCompare compare : {RandomCompare, InconsistentCompare}) {
            Recs target, source, unique;
            for (size_t i = 0; i < n; i++) {
                Rec r(std::string(1 + rng() % 4, (char)('a' + rng() % 3)), (uint32_t)(rng() % 4));
                (rng() % 2 ? target : source).push_back(r);
                if (std::find(unique.begin(), unique.end(), r) == unique.end()) unique.push_back(r);
            }
            Job job;
            WriteBytes(job.target, IndexBytes(target));
            job.Source(source);
            ASSERT_EQ(job.Run(compare), kOrlixOk) << "n=" << n;
            Recs merged = ReadRecords(job.target);
            std::sort(merged.begin(), merged.end());
            std::sort(unique.begin(), unique.end());
            EXPECT_EQ(merged, unique) << "n=" << n;
        }
    }
}

}  // namespace
