/*
** A small timing harness of the headword collation that builds with any
** C++17 compiler and needs no library: for the 32-bit Windows build
** (mingw-w64, run under Wine), where the product's installations call the
** collation, and natively, so that both builds are timed by the same code.
**
** Usage: collation_timing DATADIR [ROUNDS] [SET[/sort|/adjacent]...]
** SETs are files DATADIR/SET.txt of bench/prepare_data.sh (default:
** american homographs); "/sort" or "/adjacent" picks one workload.  For each set, two workloads: std::stable_sort of
** the shuffled keys, and every adjacent pair of the sorted keys laid out
** in order in memory.  Each comparator is called through one function
** pointer.  Rounds take turns over the comparators; each round runs a
** workload until 0.2 s of CPU time have passed, and the best round of
** each comparator counts.  Prints ns per comparison (a sort's comparisons
** are counted once per comparator, untimed), on the thread's CPU time and
** on the wall clock, and the CPU time ratios to the C library's strcmp
** and to the byte-at-a-time loop.  It reports; it asserts nothing.
** ROUNDS 0 runs each workload once per comparator but the plain scan
** (which shares its helpers with CompareHeadwords), untimed, and prints
** the comparisons made: a run for a profiler, whose inclusive counts per
** comparator divided by these give the counts per comparison, e.g.
**   valgrind --tool=callgrind --branch-sim=yes \
**       --toggle-collect='CountSortComparisons*' collation_timing DATA 0 american/sort
**   callgrind_annotate --inclusive=yes callgrind.out.PID
** (--toggle-collect='AdjacentOnce*' for the adjacent pairs).
*/
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "collation/compare_headwords.h"
#include "collation/compare_headwords_plain.h"
#include "key_lines.h"

typedef int32_t(ORLIX_CALL* KeyCompare)(const char* a, const char* b);

static int32_t ORLIX_CALL LibraryStrcmp(const char* a, const char* b) { return strcmp(a, b); }

/* Reads no byte past either terminator: the collation's own discipline. */
__attribute__((noinline)) static int32_t ORLIX_CALL ByteLoop(const char* l, const char* r)
{
    for (; *l == *r && *l != 0; l++, r++) {
    }
    return (unsigned char)*l - (unsigned char)*r;
}

struct Comparator {
    const char* name;
    KeyCompare compare;
};

static const Comparator kComparators[] = {
    {"strcmp", LibraryStrcmp},
    {"byte_loop", ByteLoop},
    {"CompareHeadwords", CompareHeadwords},
    {"CompareHeadwordsPlain", CompareHeadwordsPlain},
};
enum { kComparatorCount = sizeof kComparators / sizeof kComparators[0] };

/* Read through a volatile, so that no comparator is inlined into a loop. */
static KeyCompare volatile current;

static double ThreadSeconds()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    uint64_t k = ((uint64_t)kernel.dwHighDateTime << 32) | kernel.dwLowDateTime;
    uint64_t u = ((uint64_t)user.dwHighDateTime << 32) | user.dwLowDateTime;
    return (double)(k + u) * 1e-7;
#else
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
#endif
}

static double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct KeySet {
    std::string name;
    std::vector<char> bytes;
    std::vector<const char*> shuffled;
    std::vector<char> sortedBytes;
    std::vector<const char*> sorted; /* into sortedBytes, in headword order */
};

/* The comparisons one sort makes, counted once, untimed. */
static double CountSortComparisons(const KeySet* set, KeyCompare compare)
{
    std::vector<const char*> items = set->shuffled;
    uint64_t calls = 0;
    std::stable_sort(items.begin(), items.end(), [compare, &calls](const char* a, const char* b) {
        calls++;
        return compare(a, b) < 0;
    });
    return (double)calls;
}

static bool Load(const std::string& path, KeySet* set)
{
    if (!ReadKeyLines(path, &set->bytes, &set->shuffled)) return false;

    std::vector<const char*> sorted = set->shuffled;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const char* a, const char* b) { return CompareHeadwordsPlain(a, b) < 0; });
    std::vector<size_t> offsets;
    for (const char* k : sorted) {
        offsets.push_back(set->sortedBytes.size());
        set->sortedBytes.insert(set->sortedBytes.end(), k, k + strlen(k) + 1);
    }
    for (size_t o : offsets) set->sorted.push_back(set->sortedBytes.data() + o);
    return true;
}

static void SortOnce(const KeySet* set, std::vector<const char*>* items)
{
    *items = set->shuffled;
    KeyCompare compare = current;
    std::stable_sort(items->begin(), items->end(),
                     [compare](const char* a, const char* b) { return compare(a, b) < 0; });
}

static int64_t AdjacentOnce(const KeySet* set)
{
    KeyCompare compare = current;
    int64_t before = 0;
    const std::vector<const char*>& k = set->sorted;
    for (size_t i = 0; i + 1 < k.size(); i++) before += compare(k[i], k[i + 1]) < 0;
    return before;
}

struct Best {
    double cpu = 1e30, wall = 1e30; /* seconds per workload run */
};

/* One round of one workload: runs until 0.2 s of CPU time have passed. */
static void Round(const KeySet* set, bool sort, Best* best)
{
    std::vector<const char*> items;
    volatile int64_t sink = 0;
    int runs = 0;
    double cpu0 = ThreadSeconds(), wall0 = WallSeconds(), cpu;
    do {
        if (sort)
            SortOnce(set, &items);
        else
            sink = sink + AdjacentOnce(set);
        runs++;
        cpu = ThreadSeconds() - cpu0;
    } while (cpu < 0.2);
    double wall = WallSeconds() - wall0;
    best->cpu = std::min(best->cpu, cpu / runs);
    best->wall = std::min(best->wall, wall / runs);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s DATADIR [ROUNDS] [SET...]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 5;
    std::vector<std::string> names;
    for (int i = 3; i < argc; i++) names.push_back(argv[i]);
    if (names.empty()) names = {"american", "homographs"};

    printf("%d-bit build, best of %d rounds\n", (int)(8 * sizeof(void*)), rounds);
    printf("%-40s %8s %8s %10s %13s\n", "set/workload/comparator", "ns cpu", "ns wall", "vs strcmp",
           "vs byte_loop");
    for (const std::string& arg : names) {
        /* "SET/sort" or "SET/adjacent" runs one workload only. */
        size_t slash = arg.find('/');
        std::string name = arg.substr(0, slash);
        std::string only = slash == std::string::npos ? "" : arg.substr(slash + 1);
        KeySet set;
        set.name = name;
        if (!Load(std::string(argv[1]) + "/" + name + ".txt", &set)) return 2;
        for (int w = 0; w < 2; w++) {
            bool sort = w == 0;
            if (!only.empty() && only != (sort ? "sort" : "adjacent")) continue;
            if (rounds == 0) {
                std::vector<const char*> items;
                for (int c = 0; c < kComparatorCount; c++) {
                    /* The plain scan shares its helpers with the fast path. */
                    if (kComparators[c].compare == CompareHeadwordsPlain) continue;
                    current = kComparators[c].compare;
                    double calls = (double)(set.sorted.size() - 1);
                    if (sort)
                        calls = CountSortComparisons(&set, kComparators[c].compare);
                    else
                        AdjacentOnce(&set);
                    printf("%s/%s/%s: %.0f comparisons\n", name.c_str(), sort ? "sort" : "adjacent",
                           kComparators[c].name, calls);
                }
                continue;
            }
            Best best[kComparatorCount];
            for (int r = 0; r < rounds; r++)
                for (int c = 0; c < kComparatorCount; c++) {
                    current = kComparators[c].compare;
                    Round(&set, sort, &best[c]);
                }
            for (int c = 0; c < kComparatorCount; c++) {
                double calls = sort ? CountSortComparisons(&set, kComparators[c].compare)
                                    : (double)(set.sorted.size() - 1);
                std::string row = name + (sort ? "/sort/" : "/adjacent/") + kComparators[c].name;
                printf("%-40s %8.2f %8.2f %9.2fx %12.2fx\n", row.c_str(), best[c].cpu * 1e9 / calls,
                       best[c].wall * 1e9 / calls, best[c].cpu / best[0].cpu, best[c].cpu / best[1].cpu);
            }
        }
    }
    return 0;
}
