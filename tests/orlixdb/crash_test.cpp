/*
** Crash consistency: the job is killed with SIGKILL at random moments while
** it replaces a large target.  After every kill the target must be exactly
** the old file or exactly the new one, and the next run must leave the new
** one and no temporary.
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

size_t TempCount(const TempDir& dir)
{
    size_t count = 0;
    for (const std::string& name : dir.Entries()) count += name.find(".orlixdb-tmp.") != std::string::npos;
    return count;
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
        sawTemp += TempCount(dir) > 0;

        ASSERT_EQ(RunJob(target, source), kOrlixOk) << "the next run";
        ASSERT_EQ(ReadBytes(target), newBytes);
        ASSERT_EQ(TempCount(dir), 0u) << "the next run left a temporary";
    }
    printf("job %.0f ms; %d rounds, %d killed mid-run: target old %d, new %d; temporary left %d\n",
           jobSeconds * 1000, round, killed, sawOld, sawNew, sawTemp);
    RecordProperty("killed", killed);
    EXPECT_GE(killed, kKills / 5) << "kills mostly missed the job; the delays are off";
}

}  // namespace
