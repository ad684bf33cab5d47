/*
** Jobs on one target: the lock that serializes them, its bounded wait, a
** killed holder, the sweep of stale temporaries, and what a failed job
** reports.
*/
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "collation/compare_headwords.h"
#include "index_fixture.h"
#include "orlixdb/file_io.h"
#include "orlixdb/index_format.h"
#include "orlixdb/orlixdb.h"

namespace {

/* A target with old records and a source with new ones in a fresh directory. */
struct Scene {
    TempDir dir;
    std::string target = dir.Path("t.idx");
    std::string source = dir.Path("s.idx");
    Scene()
    {
        WriteBytes(target, IndexBytes({{"old", 1}, {"older", 2}}));
        WriteBytes(source, IndexBytes({{"new", 3}}));
    }
    int32_t Merge(uint32_t waitMs, OrlixMergeReport* report = nullptr) const
    {
        const char* sources[] = {source.c_str()};
        return OrlixMergeIndexesReporting(target.c_str(), 1, sources, CompareHeadwords, waitMs, report);
    }
    /* Entries the job may leave by mistake: temporaries and the lock file. */
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> left;
        for (const std::string& name : dir.Entries())
            if (name.find(".orlixdb-tmp.") != std::string::npos || name.find(".orlixdb-lock") != std::string::npos)
                left.push_back(name);
        return left;
    }
};

const Recs kMerged = {{"new", 3}, {"old", 1}, {"older", 2}};

TEST(JobLock, AnotherJobsLockIsWaitedForThenReported)
{
    Scene s;
    FileJob holder;
    ASSERT_EQ(FileJobBegin(s.target.c_str(), 0, &holder, nullptr), kFileJobStarted);
    ASSERT_TRUE(holder.locked);
    const std::vector<uint8_t> before = ReadBytes(s.target);
    OrlixMergeReport report;
    EXPECT_EQ(s.Merge(200, &report), kOrlixLockTimeout);
    EXPECT_STREQ(OrlixResultText(kOrlixLockTimeout), "another job kept the index locked for too long");
    EXPECT_STREQ(report.path, s.target.c_str());
    EXPECT_NE(strstr(report.action, "locked by another job"), nullptr) << report.action;
    EXPECT_EQ(ReadBytes(s.target), before);
    FileJobEnd(&holder);

    EXPECT_EQ(s.Merge(0), kOrlixOk) << "the lock was released";
    EXPECT_EQ(ReadRecords(s.target), kMerged);
    EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
}

/* A holder killed with SIGKILL leaves its lock file, but not its lock. */
TEST(JobLock, KilledHolderBlocksNobody)
{
    Scene s;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileJob job;
        bool held = FileJobBegin(s.target.c_str(), 0, &job, nullptr) == kFileJobStarted && job.locked;
        (void)!write(ready[1], held ? "1" : "0", 1);
        for (;;) pause();
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, '1');
    EXPECT_EQ(s.Merge(0), kOrlixLockTimeout) << "the live holder keeps others out";
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(FileExists(s.target + ".orlixdb-lock"));

    EXPECT_EQ(s.Merge(0), kOrlixOk) << "no wait is needed after the holder died";
    EXPECT_EQ(ReadRecords(s.target), kMerged);
    EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
}

/*
** Processes merging into one target at once, each its own records, with
** the ordinary wait: every merge succeeds and nothing is lost.
*/
TEST(JobLock, ConcurrentJobsLoseNoRecord)
{
    const int kProcesses = 4, kRuns = 25;
    TempDir dir;
    std::string target = dir.Path("t.idx");
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; p++) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child != 0) {
            children.push_back(child);
            continue;
        }
        int failed = 0;
        std::string source = dir.Path("s" + std::to_string(p) + ".idx");
        for (int r = 0; r < kRuns; r++) {
            WriteBytes(source, IndexBytes({{"p" + std::to_string(p) + "r" + std::to_string(r), (uint32_t)r}}));
            const char* sources[] = {source.c_str()};
            failed += OrlixMergeIndexes(target.c_str(), 1, sources, CompareHeadwords) != kOrlixOk;
        }
        _exit(failed);
    }
    int failures = 0;
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        failures += WEXITSTATUS(status);
    }
    EXPECT_EQ(failures, 0);
    Recs merged = ReadRecords(target), expected;
    for (int p = 0; p < kProcesses; p++)
        for (int r = 0; r < kRuns; r++) expected.push_back({"p" + std::to_string(p) + "r" + std::to_string(r), (uint32_t)r});
    std::sort(merged.begin(), merged.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(merged, expected);
    for (const std::string& name : dir.Entries())
        EXPECT_EQ(name.find(".orlixdb-"), std::string::npos) << name << " left behind";
}

/*
** What the sweep finds under a temporary's name: only a regular file no
** one holds is removed; nothing is opened that could block, no link is
** followed.
*/
TEST(StaleTemporaries, OnlyUnheldRegularFilesGo)
{
    Scene s;
    const std::string temp = s.target + ".orlixdb-tmp.";
    const std::string victim = s.dir.Path("victim");
    WriteBytes(victim, {7, 7, 7});
    int held = -1, sock = -1;
    const struct {
        const char* kind;
        std::string path;
        bool removed;
    } table[] = {
        {"regular, nobody holds it", temp + "11", true},
        {"regular, locked by a writer", temp + "12", false},
        {"FIFO", temp + "13", false},
        {"symbolic link to a file", temp + "14", false},
        {"dangling symbolic link", temp + "15", false},
        {"directory", temp + "16", false},
        {"socket", temp + "17", false},
    };
    WriteBytes(table[0].path, {1});
    WriteBytes(table[1].path, {1});
    held = open(table[1].path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ASSERT_EQ(mkfifo(table[2].path.c_str(), 0600), 0);
    ASSERT_EQ(symlink(victim.c_str(), table[3].path.c_str()), 0);
    ASSERT_EQ(symlink("nowhere", table[4].path.c_str()), 0);
    ASSERT_EQ(mkdir(table[5].path.c_str(), 0700), 0);
    sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(table[6].path.size(), sizeof address.sun_path);
    memcpy(address.sun_path, table[6].path.c_str(), table[6].path.size() + 1);
    ASSERT_EQ(bind(sock, (struct sockaddr*)&address, sizeof address), 0);

    EXPECT_EQ(s.Merge(1000), kOrlixOk);
    EXPECT_EQ(ReadRecords(s.target), kMerged);
    for (const auto& t : table) {
        struct stat st;
        EXPECT_EQ(lstat(t.path.c_str(), &st) != 0, t.removed) << t.kind;
    }
    EXPECT_EQ(ReadBytes(victim), (std::vector<uint8_t>{7, 7, 7})) << "a link was followed";
    close(held);
    close(sock);
}

/* The report of a failed job: the code, the file, the step, the reason. */
TEST(MergeReport, NamesTheFileTheStepAndTheReason)
{
    const struct {
        const char* what;
        void (*spoil)(const Scene& s);
        int32_t result;
        int32_t input;      /* 0 the target, 1 the source, -1 none */
        const char* action; /* a part of it */
        int error;
        int32_t problem;
    } table[] = {
        {"source is a directory", [](const Scene& s) { remove(s.source.c_str()); mkdir(s.source.c_str(), 0700); },
         kOrlixCannotRead, 1, "is a directory", 0, kIndexFine},
        {"target is a FIFO", [](const Scene& s) { remove(s.target.c_str()); mkfifo(s.target.c_str(), 0600); },
         kOrlixCannotRead, 0, "is a FIFO", 0, kIndexFine},
        {"source damaged", [](const Scene& s) { WriteBytes(s.source, {'O', 'R', 'L', 'I', 'X'}); },
         kOrlixCorrupt, 1, "is not an intact index", 0, kIndexTruncated},
        {"target links nowhere", [](const Scene& s) { remove(s.target.c_str()); symlink("gone", s.target.c_str()); },
         kOrlixWriteFailed, -1, "is a link that leads nowhere", ENOENT, kIndexFine},
        {"lock file is a FIFO", [](const Scene& s) { mkfifo((s.target + ".orlixdb-lock").c_str(), 0600); },
         kOrlixWriteFailed, -1, "has a lock file that is not a regular file", 0, kIndexFine},
        {"temporary name taken by a directory",
         [](const Scene& s) { mkdir((s.target + ".orlixdb-tmp." + std::to_string(getpid())).c_str(), 0700); },
         kOrlixWriteFailed, -1, "cannot create its temporary", EEXIST, kIndexFine},
    };
    for (const auto& t : table) {
        Scene s;
        t.spoil(s);
        std::vector<uint8_t> before;
        struct stat st;
        bool regular = lstat(s.target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        if (regular) before = ReadBytes(s.target);
        OrlixMergeReport report;
        EXPECT_EQ(s.Merge(1000, &report), t.result) << t.what;
        EXPECT_EQ(report.input, t.input) << t.what;
        ASSERT_NE(report.action, nullptr) << t.what;
        EXPECT_NE(strstr(report.action, t.action), nullptr) << t.what << ": " << report.action;
        EXPECT_EQ(report.systemError, t.error) << t.what;
        EXPECT_EQ(report.indexProblem, t.problem) << t.what;
        EXPECT_STREQ(report.path, t.input == 1 ? s.source.c_str() : s.target.c_str()) << t.what;
        EXPECT_FALSE(report.targetReplaced) << t.what;
        if (regular) {
            EXPECT_EQ(ReadBytes(s.target), before) << t.what;
        }
        for (const std::string& left : s.Leftovers())
            EXPECT_TRUE(left.find(".orlixdb-lock") != std::string::npos ||
                        left == "t.idx.orlixdb-tmp." + std::to_string(getpid()))
                << t.what << ": " << left << " left behind";
    }
}

/*
** A file-size limit below the new index, SIGXFSZ ignored: the write fails
** with EFBIG, the report says so, the target keeps its bytes, and the
** temporary is gone.  In a child, so the limit stays there.
*/
TEST(MergeReport, FileSizeLimitDuringTheWrite)
{
    Scene s;
    Recs many;
    for (uint32_t i = 0; i < 2000; i++) many.push_back({"key" + std::to_string(i), i});
    WriteBytes(s.source, IndexBytes(many));
    const std::vector<uint8_t> before = ReadBytes(s.target);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        OrlixMergeReport report;
        int32_t result = s.Merge(1000, &report);
        bool right = result == kOrlixWriteFailed && report.systemError == EFBIG && report.input == -1 &&
                     strstr(report.action, "cannot write its temporary") != nullptr;
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(ReadBytes(s.target), before);
    EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
}

/* A link to the target stays a link; the file it names is replaced. */
TEST(MergeReport, TargetBehindALinkIsReplacedThroughIt)
{
    Scene s;
    std::string link = s.dir.Path("link.idx");
    ASSERT_EQ(symlink("t.idx", link.c_str()), 0);
    const char* sources[] = {s.source.c_str()};
    EXPECT_EQ(OrlixMergeIndexesReporting(link.c_str(), 1, sources, CompareHeadwords, 1000, nullptr), kOrlixOk);
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadRecords(s.target), kMerged);
    EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
}

}  // namespace
