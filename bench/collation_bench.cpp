/*
** The headword collation against the comparators a user could pick
** instead, on real word lists: a stable sort, the adjacent pairs of the
** sorted list (long common prefixes, the index's own pattern; the keys lie
** in order in memory, as in an index) and random pairs.  Every comparator
** runs through the same function pointer and the same sort, so the only
** difference between two rows is the comparator.
**
** Usage: collation_bench DATADIR
**            [--sets=american,homographs,french,german,suffixed1m]
**            [benchmark options]
** DATADIR holds the files bench/prepare_data.sh makes.  After Google
** Benchmark's own lines, a summary gives ns per comparison and each
** comparator's ratio, measured in the same run, to glibc's strcmp and to
** the byte-at-a-time loop (byte_loop), the fastest comparison that keeps
** the collation's rule of reading nothing past a terminator.
*/
#include <benchmark/benchmark.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unicode/ucol.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "collation/compare_headwords.h"
#include "collation/compare_headwords_plain.h"
#include "safe_sort/safe_sort.h"
#include "key_lines.h"

typedef int32_t (*KeyCompare)(const char* a, const char* b);

static UCollator* icuCollator;

static int32_t ByteCompare(const char* a, const char* b) { return strcmp(a, b); }

/*
** The fastest comparison that reads no byte past either terminator, which
** glibc's strcmp does within an aligned block: one byte of each key a
** step.  Out of line, so that every row pays the same call.
*/
__attribute__((noinline)) static int32_t ByteLoopCompare(const char* l, const char* r)
{
    for (; *l == *r && *l != 0; l++, r++) {
    }
    return (unsigned char)*l - (unsigned char)*r;
}

static int32_t CaselessCompare(const char* a, const char* b) { return strcasecmp(a, b); }
static int32_t LocaleCompare(const char* a, const char* b) { return strcoll(a, b); }
static int32_t HeadwordCompare(const char* a, const char* b) { return CompareHeadwords(a, b); }
static int32_t PlainHeadwordCompare(const char* a, const char* b)
{
    return CompareHeadwordsPlain(a, b);
}

static int32_t IcuCompare(const char* a, const char* b)
{
    UErrorCode status = U_ZERO_ERROR;
    return ucol_strcollUTF8(icuCollator, a, -1, b, -1, &status);
}

struct Comparator {
    const char* name;
    KeyCompare compare;
};

/* The two baselines first: every row is divided by each. */
static const Comparator kComparators[] = {
    {"strcmp", ByteCompare},
    {"byte_loop", ByteLoopCompare},
    {"strcasecmp", CaselessCompare},
    {"strcoll_C.UTF-8", LocaleCompare},
    {"icu_ucol_strcollUTF8", IcuCompare},
    {"CompareHeadwords", HeadwordCompare},
    {"CompareHeadwordsPlain", PlainHeadwordCompare},
};

/* The sort's callback: the comparator travels in the context. */
static int32_t SortCompare(const void* a, const void* b, void* context)
{
    return (*(KeyCompare*)context)((const char*)a, (const char*)b);
}

struct CountingContext {
    KeyCompare compare;
    uint64_t calls;
};

static int32_t CountingCompare(const void* a, const void* b, void* context)
{
    CountingContext* c = (CountingContext*)context;
    c->calls++;
    return c->compare((const char*)a, (const char*)b);
}

struct Pair {
    const char* a;
    const char* b;
};

/* One key set: the file's bytes with each newline made a terminator. */
struct KeySet {
    std::string name;
    std::vector<char> bytes;
    std::vector<const void*> shuffled; /* file order: already shuffled */
    std::vector<char> sortedBytes;     /* the keys again, in headword order */
    std::vector<Pair> adjacent;
    std::vector<Pair> random;
};

static bool LoadKeys(const std::string& path, KeySet* set)
{
    std::vector<const char*> keys;
    if (!ReadKeyLines(path, &set->bytes, &keys)) return false;
    set->shuffled.assign(keys.begin(), keys.end());
    return true;
}

/* splitmix64: a fixed sequence of random pairs on every machine. */
static uint64_t NextRandom(uint64_t* state)
{
    uint64_t z = (*state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

static void MakePairs(KeySet* set)
{
    size_t n = set->shuffled.size();
    std::vector<const void*> sorted = set->shuffled;
    std::vector<const void*> scratch(n);
    /* The plain scan gives the same order and leaves CompareHeadwords to
       the benchmarks alone, so that a profile sees only their calls. */
    KeyCompare headwords = CompareHeadwordsPlain;
    SafeStableSort(sorted.data(), n, scratch.data(), SortCompare, &headwords);
    /* An index holds its keys in order, one after the other: so do these. */
    std::vector<size_t> offsets;
    for (const void* key : sorted) {
        offsets.push_back(set->sortedBytes.size());
        const char* k = (const char*)key;
        set->sortedBytes.insert(set->sortedBytes.end(), k, k + strlen(k) + 1);
    }
    const char* base = set->sortedBytes.data();
    for (size_t i = 0; i + 1 < n; i++) set->adjacent.push_back({base + offsets[i], base + offsets[i + 1]});
    uint64_t state = 20261209;
    for (size_t i = 0; i < n; i++) {
        const char* a = (const char*)set->shuffled[NextRandom(&state) % n];
        const char* b = (const char*)set->shuffled[NextRandom(&state) % n];
        set->random.push_back({a, b});
    }
}

/* Comparisons per iteration of each benchmark, for the summary. */
static std::map<std::string, double> comparisonsOf;
static std::vector<std::string> registered; /* the summary's row order */

static uint64_t CountSortComparisons(const KeySet* set, KeyCompare compare)
{
    size_t n = set->shuffled.size();
    std::vector<const void*> items = set->shuffled, scratch(n);
    CountingContext context = {compare, 0};
    SafeStableSort(items.data(), n, scratch.data(), CountingCompare, &context);
    return context.calls;
}

/* The comparisons are counted once, untimed, by the same sort on the same input. */
static void SortKeys(benchmark::State& state, const KeySet* set, KeyCompare compare,
                     std::string name)
{
    if (comparisonsOf.count(name) == 0) comparisonsOf[name] = (double)CountSortComparisons(set, compare);
    size_t n = set->shuffled.size();
    std::vector<const void*> items(n), scratch(n);
    for (auto _ : state) {
        state.PauseTiming();
        memcpy(items.data(), set->shuffled.data(), n * sizeof items[0]);
        state.ResumeTiming();
        SafeStableSort(items.data(), n, scratch.data(), SortCompare, &compare);
        benchmark::DoNotOptimize(items.data());
        benchmark::ClobberMemory();
    }
}

static void ComparePairs(benchmark::State& state, const std::vector<Pair>* pairs, KeyCompare compare)
{
    for (auto _ : state) {
        int64_t before = 0;
        for (const Pair& p : *pairs) before += compare(p.a, p.b) < 0;
        benchmark::DoNotOptimize(before);
    }
}

static double Fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

static void Register(std::vector<std::unique_ptr<KeySet>>& sets)
{
    for (auto& owned : sets) {
        const KeySet* set = owned.get();
        for (const Comparator& c : kComparators) {
            std::string name = set->name + "/sort/" + c.name;
            registered.push_back(name);
            benchmark::RegisterBenchmark(name.c_str(), SortKeys, set, c.compare, name)
                ->Unit(benchmark::kMillisecond)
                ->ComputeStatistics("min", Fastest);
        }
        const std::pair<const char*, const std::vector<Pair>*> workloads[] = {
            {"adjacent", &set->adjacent}, {"random", &set->random}};
        for (const auto& w : workloads) {
            for (const Comparator& c : kComparators) {
                std::string name = set->name + "/" + w.first + "/" + c.name;
                registered.push_back(name);
                comparisonsOf[name] = (double)w.second->size();
                benchmark::RegisterBenchmark(name.c_str(), ComparePairs, w.second, c.compare)
                    ->Unit(benchmark::kMillisecond)
                    ->ComputeStatistics("min", Fastest);
            }
        }
    }
}

/*
** Google Benchmark's console lines, and the runs kept for the summary:
** plain runs, or the fastest repetition when repetitions are asked for.
** The time is the CPU time of the benchmark's thread, which other work on
** a shared machine disturbs less than the wall clock; what disturbance is
** left only ever adds time, so the fastest repetition is the figure.
*/
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> secondsOf; /* per iteration */

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            bool best = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
            if (run.run_type == Run::RT_Aggregate && !best) continue;
            if (run.run_type == Run::RT_Iteration && run.repetitions > 1) continue;
            secondsOf[run.run_name.str()] = run.cpu_accumulated_time / (double)run.iterations;
        }
    }
};

/* "set/workload/comparator" -> "set/workload/BASELINE" */
static std::string BaselineOf(const std::string& name, const char* baseline)
{
    return name.substr(0, name.rfind('/') + 1) + baseline;
}

/* The row's time over the baseline's in the same run; 0 when it did not run. */
static double RatioTo(const SummaryReporter& r, const std::string& name, const char* baseline)
{
    auto base = r.secondsOf.find(BaselineOf(name, baseline));
    return base == r.secondsOf.end() ? 0 : r.secondsOf.at(name) / base->second;
}

static void PrintSummary(const SummaryReporter& r)
{
    printf("\n%-44s %12s %10s %12s %14s\n", "benchmark (CPU time)", "ms/iter", "ns/cmp",
           "vs strcmp", "vs byte_loop");
    for (const std::string& name : registered) {
        if (r.secondsOf.count(name) == 0) continue;
        double seconds = r.secondsOf.at(name);
        double nsPerCompare = seconds * 1e9 / comparisonsOf.at(name);
        printf("%-44s %12.3f %10.2f %11.2fx %13.2fx\n", name.c_str(), seconds * 1e3, nsPerCompare,
               RatioTo(r, name, kComparators[0].name), RatioTo(r, name, kComparators[1].name));
    }
}

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-') {
        fprintf(stderr, "usage: %s DATADIR [--sets=NAME,...] [benchmark options]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    argv[1] = argv[0];
    argc--, argv++;

    if (setlocale(LC_COLLATE, "C.UTF-8") == nullptr) {
        fprintf(stderr, "collation_bench: locale C.UTF-8 is not available\n");
        return 2;
    }
    UErrorCode status = U_ZERO_ERROR;
    icuCollator = ucol_open("", &status);
    if (U_FAILURE(status)) {
        fprintf(stderr, "collation_bench: ucol_open: %s\n", u_errorName(status));
        return 2;
    }

    /* --sets=a,b,... picks key sets by name, for a quick run or a profile. */
    std::string picked = ",american,homographs,french,german,suffixed1m,";
    if (argc > 1 && strncmp(argv[1], "--sets=", 7) == 0) {
        picked = std::string(",") + (argv[1] + 7) + ",";
        argv[1] = argv[0];
        argc--, argv++;
    }

    std::vector<std::unique_ptr<KeySet>> sets;
    for (const char* name : {"american", "homographs", "french", "german", "suffixed1m"}) {
        if (picked.find(std::string(",") + name + ",") == std::string::npos) continue;
        std::unique_ptr<KeySet> set(new KeySet);
        set->name = name;
        if (!LoadKeys(dir + "/" + name + ".txt", set.get())) return 2;
        MakePairs(set.get());
        sets.push_back(std::move(set));
    }
    Register(sets);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    ucol_close(icuCollator);
    benchmark::Shutdown();
    return 0;
}
