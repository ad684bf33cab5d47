#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "safe_sort/safe_sort.h"

namespace {

struct Item {
    int key;
    int position; /* input position, to see stability */
};

struct Counter {
    size_t calls;
};

int32_t ByKey(const void* a, const void* b, void* context)
{
    if (context != nullptr) static_cast<Counter*>(context)->calls++;
    int x = static_cast<const Item*>(a)->key, y = static_cast<const Item*>(b)->key;
    return (x > y) - (x < y);
}

int32_t Random(const void*, const void*, void* context)
{
    return (int32_t)(*static_cast<std::mt19937*>(context))();
}

/* Rock, paper, scissors on key % 3: a cycle, but antisymmetric. */
int32_t Cyclic(const void* a, const void* b, void*)
{
    int x = static_cast<const Item*>(a)->key % 3, y = static_cast<const Item*>(b)->key % 3;
    if (x == y) return 0;
    return (x + 1) % 3 == y ? -1 : 1;
}

/* Answers that depend on how often it was asked: no order at all. */
int32_t Inconsistent(const void*, const void*, void* context)
{
    size_t n = static_cast<Counter*>(context)->calls++;
    return n % 7 == 0 ? INT32_MIN : n % 3 == 0 ? INT32_MAX : 0;
}

/* A random tournament: antisymmetric, with cycles everywhere. */
int32_t Tournament(const void* a, const void* b, void*)
{
    int x = static_cast<const Item*>(a)->key, y = static_cast<const Item*>(b)->key;
    if (x == y) return 0;
    uint32_t h = (uint32_t)std::min(x, y) * 2654435761u ^ (uint32_t)std::max(x, y) * 40503u;
    int32_t answer = (h >> 7) & 1 ? 1 : -1;
    return x < y ? answer : -answer;
}

std::vector<Item> RandomItems(size_t n, int range, std::mt19937* rng)
{
    std::vector<Item> items(n);
    for (size_t i = 0; i < n; i++) items[i] = Item{(int)((*rng)() % (uint32_t)range), (int)i};
    return items;
}

/*
** Sort pointers to `items` with guard slots around both arrays; checks the
** guards survive.  The arrays are exactly sized inside, so any overrun the
** guards miss is one AddressSanitizer reports.
*/
std::vector<const Item*> Sort(const std::vector<Item>& items, SafeSortCompare compare,
                              void* context)
{
    static const Item guard = {-1, -1};
    size_t n = items.size();
    std::vector<const void*> p(n + 2, &guard), scratch(n + 2, &guard);
    for (size_t i = 0; i < n; i++) p[i + 1] = &items[i];
    SafeStableSort(p.data() + 1, n, scratch.data() + 1, compare, context);
    EXPECT_EQ(p[0], &guard);
    EXPECT_EQ(p[n + 1], &guard);
    EXPECT_EQ(scratch[0], &guard);
    EXPECT_EQ(scratch[n + 1], &guard);
    std::vector<const Item*> out;
    for (size_t i = 0; i < n; i++) out.push_back(static_cast<const Item*>(p[i + 1]));
    return out;
}

void ExpectPermutation(const std::vector<Item>& items, std::vector<const Item*> sorted)
{
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < items.size(); i++) ASSERT_EQ(sorted[i], &items[i]) << "n=" << items.size();
}

const size_t kSizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100, 255, 256, 257, 1000, 4099};

TEST(SafeStableSort, OrdersAndKeepsTiesInInputOrder)
{
    std::mt19937 rng(1);
    for (size_t n : kSizes) {
        std::vector<Item> items = RandomItems(n, 10, &rng);
        std::vector<const Item*> sorted = Sort(items, ByKey, nullptr);
        for (size_t i = 1; i < n; i++) {
            ASSERT_LE(sorted[i - 1]->key, sorted[i]->key) << "n=" << n;
            if (sorted[i - 1]->key == sorted[i]->key) {
                ASSERT_LT(sorted[i - 1]->position, sorted[i]->position) << "n=" << n;
            }
        }
        ExpectPermutation(items, sorted);
    }
}

TEST(SafeStableSort, SortedInputCostsOneComparisonPerElement)
{
    for (size_t n : kSizes) {
        std::vector<Item> items(n);
        for (size_t i = 0; i < n; i++) items[i] = Item{(int)(i / 3), (int)i};
        Counter counter = {0};
        Sort(items, ByKey, &counter);
        EXPECT_EQ(counter.calls, n > 0 ? n - 1 : 0) << "n=" << n;
    }
}

TEST(SafeStableSort, ReversedInputStaysWithinNLogN)
{
    for (size_t n : kSizes) {
        std::vector<Item> items(n);
        for (size_t i = 0; i < n; i++) items[i] = Item{(int)(n - i), (int)i};
        Counter counter = {0};
        Sort(items, ByKey, &counter);
        size_t log2 = 0;
        while (((size_t)1 << log2) < n) log2++;
        EXPECT_LE(counter.calls, n * log2 + n) << "n=" << n;
    }
}

TEST(SafeStableSort, AnyComparatorGivesAPermutation)
{
    std::mt19937 rng(7);
    for (size_t n : kSizes) {
        std::vector<Item> items = RandomItems(n, 1000, &rng);
        std::mt19937 answers(n);
        Counter counter = {0};
        ExpectPermutation(items, Sort(items, Random, &answers));
        ExpectPermutation(items, Sort(items, Cyclic, nullptr));
        ExpectPermutation(items, Sort(items, Inconsistent, &counter));
        ExpectPermutation(items, Sort(items, Tournament, nullptr));
    }
}

/*
** Under a comparator that is cyclic but antisymmetric, each neighbouring
** pair of the result is in order, so sorting it again is the identity:
** what makes a second index job a no-op.
*/
TEST(SafeStableSort, CyclicAntisymmetricResultIsAFixedPoint)
{
    std::mt19937 rng(3);
    for (size_t n : kSizes) {
        std::vector<Item> items = RandomItems(n, 100000, &rng);
        for (SafeSortCompare compare : {Cyclic, Tournament}) {
            std::vector<const Item*> first = Sort(items, compare, nullptr);
            for (size_t i = 1; i < n; i++) ASSERT_LE(compare(first[i - 1], first[i], nullptr), 0);
            std::vector<Item> again;
            for (const Item* item : first) again.push_back(*item);
            std::vector<const Item*> second = Sort(again, compare, nullptr);
            for (size_t i = 0; i < n; i++) ASSERT_EQ(second[i], &again[i]) << "n=" << n;
        }
    }
}

}  // namespace
