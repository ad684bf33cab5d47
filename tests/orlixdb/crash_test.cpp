/*
** Crash consistency: the job is killed with SIGKILL at random moments while
** it replaces a large target.  After every kill the target must be exactly
** the old file or exactly the new one, and the next run must leave the new
** one and no temporary.  Then two jobs at once on one target, one of them
** killed: the other still succeeds, and loses nothing of what it merged.
*/
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "collation/compare_headwords.h"
#include "index_fixture.h"
#include "orlixdb/orlixdb.h"

namespace {

const int kKills = 100;
const int kMaxRounds = 400;

double Now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

Recs Words(size_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    Recs records;
    for (size_t i = 0; i < count; i++) {
        std::string key;
        for (size_t n = 3 + rng() % 10; n > 0; n--) key.push_back((char)('a' + rng() % 26));
        records.push_back(Rec(key, (uint32_t)i));
    }
    return records;
}

int32_t RunJob(const std::string& target, const std::string& source)
{
    const char* sources[] = {source.c_str()};
    return OrlixMergeIndexes(target.c_str(), 1, sources, CompareHeadwords);
}

/* Start the job in a child; returns its pid. */
pid_t StartJob(const std::string& target, const std::string& source)
{
    pid_t pid = fork();
    if (pid == 0) _exit(RunJob(target, source) == kOrlixOk ? 0 : 1);
    return pid;
}

TEST(CrashConsistency, KilledJobLeavesOldOrNewTarget)
{
    TempDir dir;
    std::string target = dir.Path("00010301.idx"), source = dir.Path("01010301.idx");
    const std::vector<uint8_t> oldBytes = IndexBytes(Words(40000, 1));
    WriteBytes(source, IndexBytes(Words(40000, 2)));

    /*
    ** The new file, and how long an undisturbed job in a child takes: the
    ** fastest of three, so that one slow start cannot make every delay too
    ** long for the kills to land.
    */
    double jobSeconds = 1e9;
    for (int run = 0; run < 3; run++) {
        WriteBytes(target, oldBytes);
        double start = Now();
        pid_t first = StartJob(target, source);
        int firstStatus = 0;
        ASSERT_EQ(waitpid(first, &firstStatus, 0), first);
        ASSERT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0);
        jobSeconds = std::min(jobSeconds, Now() - start);
    }
    const std::vector<uint8_t> newBytes = ReadBytes(target);
    ASSERT_NE(newBytes, oldBytes);

    std::mt19937 rng(42);
    int killed = 0, sawOld = 0, sawNew = 0, sawTemp = 0;
    /* Rounds go on, up to a cap, until enough kills have landed mid-run. */
    int round = 0;
    for (; round < kMaxRounds && (round < kKills || killed < kKills / 5); round++) {
        WriteBytes(target, oldBytes);
        pid_t pid = StartJob(target, source);
        ASSERT_GT(pid, 0);
        /* Half the kills anywhere in the run, half near its end, where it writes. */
        double at = round % 2 ? (rng() % 1000) / 1000.0 * 1.1 : 0.8 + (rng() % 1000) / 1000.0 * 0.25;
        useconds_t delay = (useconds_t)(jobSeconds * at * 1e6);
        usleep(delay);
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status)) killed++;

        std::vector<uint8_t> now = ReadBytes(target);
        ASSERT_TRUE(now == oldBytes || now == newBytes) << "torn target after " << delay << " us";
        sawOld += now == oldBytes;
        sawNew += now == newBytes;
        sawTemp += !dir.Leftovers().empty();

        ASSERT_EQ(RunJob(target, source), kOrlixOk) << "the next run";
        ASSERT_EQ(ReadBytes(target), newBytes);
        ASSERT_EQ(dir.Leftovers(), std::vector<std::string>()) << "the next run left a temporary or its lock file";
    }
    printf("job %.0f ms; %d rounds, %d killed mid-run: target old %d, new %d; temporary or lock file left %d\n",
           jobSeconds * 1000, round, killed, sawOld, sawNew, sawTemp);
    RecordProperty("killed", killed);
    EXPECT_GE(killed, kKills / 5) << "kills mostly missed the job; the delays are off";
}

/* The records of `sets` together, sorted, each once. */
Recs Union(std::initializer_list<const Recs*> sets)
{
    Recs all;
    for (const Recs* set : sets) all.insert(all.end(), set->begin(), set->end());
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

Recs SortedRecords(const std::string& path)
{
    Recs records = ReadRecords(path);
    std::sort(records.begin(), records.end());
    return records;
}

/*
** Jobs A and B start together on one target, each with a source of its
** own; one of them, in turn, is killed at a random moment.  The other must
** succeed, and the target then holds the old records and the survivor's,
** plus the killed job's when it finished first: never a torn file, never
** the survivor's records missing.
*/
TEST(CrashConsistency, TwoJobsAtOnceOneKilled)
{
    const int kRounds = 30;
    TempDir dir;
    std::string target = dir.Path("00010301.idx");
    const std::string sources[2] = {dir.Path("01010301.idx"), dir.Path("7F010301.idx")};
    const Recs old = Words(12000, 1), added[2] = {Words(12000, 2), Words(12000, 3)};
    const std::vector<uint8_t> oldBytes = IndexBytes(old);
    WriteBytes(sources[0], IndexBytes(added[0]));
    WriteBytes(sources[1], IndexBytes(added[1]));
    const Recs withA = Union({&old, &added[0]}), withB = Union({&old, &added[1]});
    const Recs withBoth = Union({&old, &added[0], &added[1]});

    WriteBytes(target, oldBytes);
    double start = Now();
    ASSERT_EQ(RunJob(target, sources[0]), kOrlixOk);
    double jobSeconds = Now() - start;

    std::mt19937 rng(7);
    int killedMidRun = 0, bothMerged = 0;
    for (int round = 0; round < kRounds; round++) {
        WriteBytes(target, oldBytes);
        int victim = round % 2, survivor = 1 - victim;
        pid_t pids[2] = {StartJob(target, sources[0]), StartJob(target, sources[1])};
        ASSERT_GT(pids[0], 0);
        ASSERT_GT(pids[1], 0);
        usleep((useconds_t)(jobSeconds * 2e6 * (rng() % 1000) / 1000.0));
        kill(pids[victim], SIGKILL);
        int status[2] = {0, 0};
        for (int j = 0; j < 2; j++) ASSERT_EQ(waitpid(pids[j], &status[j], 0), pids[j]);
        ASSERT_TRUE(WIFEXITED(status[survivor]) && WEXITSTATUS(status[survivor]) == 0)
            << "round " << round << ": the job that was not killed failed";
        killedMidRun += WIFSIGNALED(status[victim]);

        Recs now = SortedRecords(target);
        const Recs& survivorOnly = survivor == 0 ? withA : withB;
        ASSERT_TRUE(now == survivorOnly || now == withBoth)
            << "round " << round << ": " << now.size() << " records";
        bothMerged += now == withBoth;

        const char* both[] = {sources[0].c_str(), sources[1].c_str()};
        ASSERT_EQ(OrlixMergeIndexes(target.c_str(), 2, both, CompareHeadwords), kOrlixOk);
        ASSERT_EQ(SortedRecords(target), withBoth);
        ASSERT_EQ(dir.Leftovers(), std::vector<std::string>()) << "the next run left a temporary or its lock file";
    }
    printf("job %.0f ms; %d rounds of two jobs, one killed: %d kills before it ended; target with "
           "both jobs' records %d, with the survivor's only %d\n",
           jobSeconds * 1000, kRounds, killedMidRun, bothMerged, kRounds - bothMerged);
    EXPECT_GE(killedMidRun, kRounds / 5) << "kills mostly missed the jobs; the delays are off";
}

}  // namespace
