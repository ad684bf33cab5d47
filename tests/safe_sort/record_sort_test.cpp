#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "safe_sort/record_sort.h"
#include "safe_sort/run_file.h"

namespace {

int32_t ByText(const void* a, const void* b, void*)
{
    int c = strcmp((const char*)a, (const char*)b);
    return (c > 0) - (c < 0);
}

/* A random tournament on the keys: antisymmetric, with cycles everywhere. */
int32_t Tournament(const void* a, const void* b, void*)
{
    uint32_t x = (uint32_t)atoi((const char*)a), y = (uint32_t)atoi((const char*)b);
    if (x == y) return 0;
    uint32_t h = (x < y ? x : y) * 2654435761u ^ (x < y ? y : x) * 40503u;
    int32_t answer = (h >> 7) & 1 ? 1 : -1;
    return x < y ? answer : -answer;
}

/* Answers by how often it was asked: no order at all. */
int32_t Inconsistent(const void*, const void*, void* context)
{
    size_t n = (*(size_t*)context)++;
    return n % 7 == 0 ? INT32_MIN : n % 3 == 0 ? INT32_MAX : 0;
}

/* Each record's payload is its input position; the sink lists them. */
bool Collect(const char*, const char* payload, size_t size, void* context)
{
    uint32_t n;
    EXPECT_EQ(size, sizeof n);
    memcpy(&n, payload, sizeof n);
    ((std::vector<uint32_t>*)context)->push_back(n);
    return true;
}

std::vector<std::string> Keys(size_t n, uint32_t range, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::string> keys(n);
    for (std::string& key : keys) key = std::to_string(range ? rng() % range : 7) + "x";
    return keys;
}

/* The positions in the order the engine gives with `buffer` bytes; runs: how many it wrote. */
std::vector<uint32_t> SortKeys(const std::vector<std::string>& keys, SafeSortCompare compare, void* context,
                               size_t buffer, const char* dir, size_t* runs = nullptr)
{
    RecordSortSettings settings = {compare, context, 1, buffer, dir};
    RecordSort* sort = RecordSortBegin(&settings);
    RecordSortStatus status = {nullptr, 0};
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < keys.size(); i++)
        EXPECT_TRUE(RecordSortAdd(sort, keys[i].c_str(), keys[i].size() + 1, (const char*)&i, sizeof i, &status));
    EXPECT_TRUE(RecordSortFinish(sort, Collect, &order, &status)) << status.action;
    if (runs != nullptr) *runs = RecordSortRuns(sort);
    RecordSortEnd(sort);
    return order;
}

/* The order SafeStableSort itself gives the keys. */
std::vector<uint32_t> Reference(const std::vector<std::string>& keys, SafeSortCompare compare)
{
    std::vector<const void*> items(keys.size()), scratch(keys.size());
    for (size_t i = 0; i < keys.size(); i++) items[i] = keys[i].c_str();
    SafeStableSort(items.data(), items.size(), scratch.data(), compare, nullptr);
    std::vector<uint32_t> order;
    for (const void* item : items)
        for (uint32_t i = 0; i < keys.size(); i++)
            if (keys[i].c_str() == item) order.push_back(i);
    return order;
}

const char* TempDir()
{
    const char* dir = getenv("TMPDIR");
    return dir != nullptr && *dir != 0 ? dir : "/tmp";
}

/*
** Runs in files give, byte for byte, the order of the sort in memory and of
** SafeStableSort, for an order, a cyclic comparator and equal keys, at
** buffer sizes from one record a run up; large inputs take the staged sort.
*/
TEST(RecordSort, RunsInFilesGiveTheInMemoryOrder)
{
    struct Case {
        size_t count;
        uint32_t range; /* 0: every key equal */
        SafeSortCompare compare;
        size_t minRuns; /* at the smallest buffer */
    } cases[] = {
        {0, 10, ByText, 0},         {1, 10, ByText, 0},
        {1000, 10, ByText, 2},      {1000, 0, ByText, 2},
        {3001, 100000, Tournament, 2}, {70000, 500, ByText, 2},
        {70001, 100000, Tournament, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> keys = Keys(c.count, c.range, (uint32_t)c.count);
        std::vector<uint32_t> want = c.count <= 5000 ? Reference(keys, c.compare)
                                                     : SortKeys(keys, c.compare, nullptr, 1u << 30, nullptr);
        for (size_t buffer : {4096u, 40000u, 1000000u}) {
            size_t runs = 0;
            EXPECT_EQ(SortKeys(keys, c.compare, nullptr, buffer, TempDir(), &runs), want)
                << c.count << " records, buffer " << buffer;
            if (buffer == 4096) {
                EXPECT_GE(runs, c.minRuns) << c.count;
            }
        }
    }
}

/* Under any comparator at all the result is a permutation of the input. */
TEST(RecordSort, AnyComparatorGivesAPermutation)
{
    std::vector<std::string> keys = Keys(20000, 50, 5);
    for (size_t buffer : {4096u, 100000u, 1u << 30}) {
        size_t calls = 0;
        std::vector<uint32_t> order = SortKeys(keys, Inconsistent, &calls, buffer, TempDir());
        std::sort(order.begin(), order.end());
        for (uint32_t i = 0; i < keys.size(); i++) ASSERT_EQ(order[i], i) << "buffer " << buffer;
    }
}

/* While runs exist, the directory they are in shows nothing. */
bool ListEmpty(const char*, const char*, size_t, void* context)
{
    DIR* dir = opendir((const char*)context);
    EXPECT_NE(dir, nullptr);
    if (dir == nullptr) return false;
    size_t names = 0;
    for (struct dirent* e; (e = readdir(dir)) != nullptr;) names += strcmp(e->d_name, ".") && strcmp(e->d_name, "..");
    closedir(dir);
    EXPECT_EQ(names, 0u);
    return names == 0;
}

TEST(RecordSort, RunFilesHaveNoName)
{
    std::string dir = std::string(TempDir()) + "/record_sort_test.XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    RecordSortSettings settings = {ByText, nullptr, 1, 4096, dir.c_str()};
    RecordSort* sort = RecordSortBegin(&settings);
    RecordSortStatus status = {nullptr, 0};
    for (const std::string& key : Keys(2000, 1000, 9)) ASSERT_TRUE(RecordSortAdd(sort, key.c_str(), key.size() + 1, "", 0, &status));
    EXPECT_GT(RecordSortRuns(sort), 1u);
    EXPECT_TRUE(RecordSortFinish(sort, ListEmpty, (void*)dir.c_str(), &status));
    RecordSortEnd(sort);
    EXPECT_EQ(rmdir(dir.c_str()), 0);
}

/* A directory that cannot take runs fails the sort with the step named; the sink's false stops it. */
TEST(RecordSort, FailuresAreReported)
{
    struct Case {
        const char* dir;
        size_t buffer;
        RecordSink sink;
        const char* action;
    } cases[] = {
        {"/nonexistent/run-dir", 4096, Collect, "create a temporary file"},
        {"/dev/null", 4096, Collect, "create a temporary file"},
        {TempDir(), 4096, [](const char*, const char*, size_t, void*) { return false; }, "write"},
        {TempDir(), 1u << 20, [](const char*, const char*, size_t, void*) { return false; }, "write"},
    };
    for (const Case& c : cases) {
        RecordSortSettings settings = {ByText, nullptr, 1, c.buffer, c.dir};
        RecordSort* sort = RecordSortBegin(&settings);
        RecordSortStatus status = {nullptr, 0};
        std::vector<uint32_t> order;
        bool ok = true;
        for (const std::string& key : Keys(3000, 1000, 1))
            ok = ok && RecordSortAdd(sort, key.c_str(), key.size() + 1, "abcd", 4, &status);
        ok = ok && RecordSortFinish(sort, c.sink, &order, &status);
        EXPECT_FALSE(ok) << c.dir;
        EXPECT_STREQ(status.action, c.action) << c.dir;
        RecordSortEnd(sort);
    }
}

/* Sorted in memory, the keys handed out stay in place until the sort ends. */
bool KeepKey(const char* key, const char*, size_t, void* context)
{
    ((std::vector<const char*>*)context)->push_back(key);
    return true;
}

TEST(RecordSort, KeysSortedInMemoryStayUntilTheEnd)
{
    std::vector<std::string> keys = Keys(1000, 300, 4);
    RecordSortSettings settings = {ByText, nullptr, 1, 0, nullptr};
    RecordSort* sort = RecordSortBegin(&settings);
    RecordSortStatus status = {nullptr, 0};
    for (const std::string& key : keys) ASSERT_TRUE(RecordSortAdd(sort, key.c_str(), key.size() + 1, "", 0, &status));
    std::vector<const char*> kept;
    ASSERT_EQ(RecordSortRuns(sort), 0u);
    ASSERT_TRUE(RecordSortFinish(sort, KeepKey, &kept, &status));
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < keys.size(); i++) EXPECT_STREQ(kept[i], keys[i].c_str());
    RecordSortEnd(sort);
}

/* The default buffer: an eighth of physical memory, from 64 MiB to 1 GiB. */
TEST(RecordSort, DefaultBufferIsAnEighthOfMemoryBounded)
{
    uint64_t eighth = PhysicalMemory() / 8;
    uint64_t want = eighth < (64u << 20) ? (64u << 20) : eighth > (1u << 30) ? (1u << 30) : eighth;
    EXPECT_EQ(RecordSortDefaultBuffer(), want);
}

}  // namespace
