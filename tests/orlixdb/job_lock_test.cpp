/*
** Jobs on one target: the lock that serializes them, its queue and bound,
** who may take it, a killed holder, signals, long names, the sweep of
** stale temporaries, and what a failed job reports.
*/
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <thread>

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
        return ::Merge(target.c_str(), {source.c_str()}, waitMs, report);
    }
    std::vector<std::string> Leftovers() const { return dir.Leftovers(); }
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
    const std::string named = "(process " + std::to_string(getpid()) + ", holding it for 0 s)";
    EXPECT_NE(strstr(report.action, named.c_str()), nullptr) << report.action;
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

/* A child running `body` and then pausing until killed; its pid once `body` is done. */
pid_t StartChild(const std::function<void()>& body)
{
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        body();
        (void)!write(ready[1], "1", 1);
        for (;;) pause();
    }
    char byte = 0;
    close(ready[1]);
    if (child < 0 || read(ready[0], &byte, 1) != 1) child = -1;
    close(ready[0]);
    return child;
}

/* What a child that ran with waitpid's status did: "signal N" or "exit N". */
std::string Ended(pid_t child)
{
    int status = 0;
    if (waitpid(child, &status, 0) != child) return "lost";
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                               : "exit " + std::to_string(WEXITSTATUS(status));
}

/* Close every descriptor of a lock file (opened under its name or the one it was made under). */
void CloseLockFiles()
{
    char link[64], named[4096];
    for (int fd = 3; fd < 1024; fd++) {
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, named, sizeof named - 1);
        if (n > 0 && (named[n] = 0, strstr(named, ".orlixdb-") != nullptr)) close(fd);
    }
}

/*
** Whether the lock file's count of tickets (its first 8 bytes) reaches
** `count` within 10 s: so many jobs have joined its queue.
*/
bool TicketsGiven(const std::string& lock, uint64_t count)
{
    for (int tries = 0; tries < 10000; tries++) {
        uint64_t given = 0;
        int fd = open(lock.c_str(), O_RDONLY);
        if (fd >= 0 && pread(fd, &given, sizeof given, 0) == (ssize_t)sizeof given && given >= count) {
            close(fd);
            return true;
        }
        if (fd >= 0) close(fd);
        usleep(1000);
    }
    return false;
}

/*
** Holders that come and go, each keeping the lock for 150 ms, one after
** the other for longer than the waiting job's bound of 400 ms: the job
** waits on and is served after them, in the order they came (each
** started once the one before has joined the queue).
*/
TEST(JobLock, AMovingQueueIsWaitedOnInArrivalOrder)
{
    Scene s;
    const int kHolders = 6;
    std::string order = s.dir.Path("order");
    std::vector<pid_t> holders;
    FileJob first; /* keeps the queue, so each holder's place can be seen taken */
    ASSERT_EQ(FileJobBegin(s.target.c_str(), 0, &first, nullptr), kFileJobStarted);
    for (int h = 0; h < kHolders; h++) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CloseLockFiles(); /* the parent's place, shared across fork */
            FileJob job;
            if (FileJobBegin(s.target.c_str(), 60000, &job, nullptr) != kFileJobStarted) _exit(1);
            FILE* log = fopen(order.c_str(), "a");
            fprintf(log, "%d", h);
            fclose(log);
            usleep(150000);
            FileJobEnd(&job);
            _exit(0);
        }
        holders.push_back(child);
        ASSERT_TRUE(TicketsGiven(s.target + ".orlixdb-lock", h + 2)) << "holder " << h << " never queued";
    }
    FileJobEnd(&first);
    OrlixMergeReport report;
    EXPECT_EQ(s.Merge(400, &report), kOrlixOk) << report.action;
    for (pid_t child : holders) EXPECT_EQ(Ended(child), "exit 0");
    std::string expected;
    for (int h = 0; h < kHolders; h++) expected += std::to_string(h);
    std::vector<uint8_t> served = ReadBytes(order);
    EXPECT_EQ(std::string(served.begin(), served.end()), expected);
    EXPECT_EQ(ReadRecords(s.target), kMerged);
    EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
}

/*
** The lock file and the new target let in whoever may write the target,
** whatever the umask of the job that made them: the lock file gets the
** target's read and write bits and the directory's write bits (whoever
** may write the directory may replace the target), the new target the
** old one's mode.
*/
TEST(JobLock, LockFileAndTargetKeepTheTargetsAccess)
{
    const struct {
        mode_t target; /* 0: no target yet */
        mode_t dir;
        mode_t lock, after;
    } table[] = {
        {0664, 0755, 0664, 0664}, {0644, 0755, 0644, 0644}, {0600, 0755, 0600, 0600},
        {0666, 0755, 0666, 0666}, {0640, 0755, 0640, 0640}, {0644, 0775, 0664, 0644},
        {0600, 01777, 0666, 0600}, {0, 02775, 0660, 0600},  {0, 0777, 0666, 0600},
        {0, 0755, 0600, 0600},
    };
    for (const auto& t : table) {
        Scene s;
        std::string dir = s.dir.Path("");
        chmod(dir.c_str(), t.dir);
        if (t.target != 0) chmod(s.target.c_str(), t.target);
        else remove(s.target.c_str());
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            umask(077);
            FileJob job;
            struct stat st;
            bool held = FileJobBegin(s.target.c_str(), 0, &job, nullptr) == kFileJobStarted &&
                        stat(job.lockPath, &st) == 0 && (st.st_mode & 07777) == t.lock;
            bool merged = held && s.Merge(0) == kOrlixLockTimeout;
            FileJobEnd(&job);
            merged = merged && s.Merge(0) == kOrlixOk;
            _exit(held ? merged ? 0 : 2 : 1);
        }
        EXPECT_EQ(Ended(child), "exit 0") << std::oct << t.target << " in " << t.dir;
        struct stat st;
        ASSERT_EQ(stat(s.target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, t.after) << std::oct << t.target << " in " << t.dir;
        EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
        chmod(dir.c_str(), 0755);
    }
}

/*
** A signal in the middle of a job of a tool: the temporary and the lock
** file go, the target is as it was, and the process ends by the signal.
** A job still waiting leaves the holder's lock file alone; a signal the
** tool was started with ignored stays ignored.
*/
TEST(JobSignals, CleanUpAndEndByTheSignal)
{
    const struct {
        int signal;
        bool holds;       /* holds the lock and writes a temporary; else waits for it */
        bool ignoredFirst;
        const char* ended;
    } table[] = {
        {SIGTERM, true, false, "signal 15"},  {SIGHUP, true, false, "signal 1"},
        {SIGINT, true, false, "signal 2"},    {SIGTERM, false, false, "signal 15"},
        {SIGHUP, true, true, "signal 9"},
    };
    for (const auto& t : table) {
        Scene s;
        const std::vector<uint8_t> before = ReadBytes(s.target);
        FileJob holder;
        if (!t.holds) {
            ASSERT_EQ(FileJobBegin(s.target.c_str(), 0, &holder, nullptr), kFileJobStarted);
        }
        pid_t child = StartChild([&] {
            if (t.ignoredFirst) signal(t.signal, SIG_IGN);
            FileJobsCleanUpOnSignals();
            if (!t.holds) {
                std::thread waiter([&] { FileJob job; FileJobBegin(s.target.c_str(), 60000, &job, nullptr); });
                waiter.detach();
                usleep(100000);
                return;
            }
            FileJob job;
            FileTemp temp;
            if (FileJobBegin(s.target.c_str(), 0, &job, nullptr) != kFileJobStarted ||
                !FileTempCreate(&job, &temp, nullptr) || !FileTempWrite(&temp, "half", 4, nullptr))
                _exit(1);
        });
        ASSERT_GT(child, 0);
        if (t.holds) {
            EXPECT_EQ(s.Leftovers().size(), 2u) << "the lock file and the temporary";
        }
        kill(child, t.signal);
        if (t.ignoredFirst) {
            usleep(100000);
            kill(child, SIGKILL);
        }
        EXPECT_EQ(Ended(child), t.ended) << strsignal(t.signal);
        EXPECT_EQ(ReadBytes(s.target), before);
        if (!t.holds) {
            EXPECT_EQ(s.Leftovers(), std::vector<std::string>{"t.idx.orlixdb-lock"}) << "the holder's";
            FileJobEnd(&holder);
        } else if (!t.ignoredFirst) {
            EXPECT_EQ(s.Leftovers(), std::vector<std::string>()) << strsignal(t.signal);
        }
        EXPECT_EQ(s.Merge(0), kOrlixOk);
        EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
    }
}

/*
** Base names up to the file system's 255 bytes: the lock file and the
** temporaries keep within it (long names shortened, distinct names kept
** apart), and the stale temporary of a shortened name is swept.
*/
TEST(LongNames, UpTo255BytesWork)
{
    for (size_t length : {200, 222, 223, 240, 255}) {
        TempDir dir;
        std::string name(length - 4, 'n');
        std::string target = dir.Path(name + ".idx"), twin = dir.Path(name.substr(1) + "m.idx");
        std::string source = dir.Path("s.idx");
        WriteBytes(target, IndexBytes({{"old", 1}}));
        WriteBytes(source, IndexBytes({{"new", 3}}));
        char* lock = FileLockPath(target.c_str());
        char* twinLock = FileLockPath(twin.c_str());
        char* stale = FileTempPath(target.c_str(), 4000000);
        char* widest = FileTempPath(target.c_str(), ULONG_MAX);
        EXPECT_LE(strlen(FileBaseName(lock)), 255u) << length;
        EXPECT_LE(strlen(FileBaseName(widest)), 255u) << length;
        EXPECT_STRNE(lock, twinLock) << length;
        EXPECT_TRUE(FileIsTempOf(FileBaseName(stale), FileBaseName(target.c_str()))) << length;
        WriteBytes(stale, {1, 2});
        OrlixMergeReport report;
        EXPECT_EQ(Merge(target.c_str(), {source.c_str()}, 0, &report),
                  kOrlixOk) << length << ": " << (report.action ? report.action : "");
        EXPECT_EQ(ReadRecords(target), (Recs{{"new", 3}, {"old", 1}})) << length;
        EXPECT_EQ(dir.Entries().size(), 2u) << length << ": the stale temporary or the lock stayed";
        free(lock), free(twinLock), free(stale), free(widest);
    }
}

/*
** A lock file that a crash left with anything in it: no job is queued, so
** the next job starts the count again and goes on, and leaves nothing.
*/
TEST(JobLock, ALockFileIsNeverTrustedAfterACrash)
{
    const std::vector<std::vector<uint8_t>> table = {
        {0, 0, 0, 0, 0, 0, 0, 0x80}, /* the top bit: an offset fcntl refuses */
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
        {0, 0, 0, 0x40, 0, 0, 0, 0}, /* past the range of places */
        {1, 2, 3},                   /* a count cut short */
    };
    for (std::vector<uint8_t> counter : table) {
        Scene s;
        if (counter.size() == 8) counter.resize(80, 0);
        WriteBytes(s.target + ".orlixdb-lock", counter);
        OrlixMergeReport report;
        EXPECT_EQ(s.Merge(0, &report), kOrlixOk) << (report.action ? report.action : "");
        EXPECT_EQ(ReadRecords(s.target), kMerged);
        EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
    }
}

/*
** A replaced file keeps its owner, group and mode where the job may set
** them (as root), and a file its user may not write is not replaced, by
** a merge or a build-style replace: root still may, as it may write it.
** Each row runs in a child with that user; rows of another user than this
** one need root.
*/
TEST(Replace, KeepsOwnerAndProtection)
{
    const uid_t kNobody = 65534;
    const struct {
        uid_t user;       /* who runs the job */
        uid_t owner;      /* the target's owner and group */
        mode_t mode;
        bool replaced;
    } table[] = {
        {0, kNobody, 0640, true},
        {0, kNobody, 0444, true},
        {kNobody, kNobody, 0444, false},
        {kNobody, kNobody, 0604, true},
    };
    for (const auto& t : table) {
        for (bool merge : {true, false}) {
            SCOPED_TRACE("user " + std::to_string(t.user) + (merge ? ", merge" : ", replace") + ", mode " +
                         std::to_string(t.mode));
            bool self = t.user == geteuid() && t.owner == geteuid();
            if (geteuid() != 0 && !self) continue;
            Scene s;
            chmod(s.dir.Path("").c_str(), 0777);
            ASSERT_EQ(chown(s.target.c_str(), t.owner, t.owner), 0);
            ASSERT_EQ(chmod(s.target.c_str(), t.mode), 0);
            const std::vector<uint8_t> before = ReadBytes(s.target);
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                bool other = t.user != geteuid();
                if (other && (setgroups(0, nullptr) != 0 || setgid(t.user) != 0 || setuid(t.user) != 0)) _exit(9);
                OrlixMergeReport report;
                FileStatus status = {nullptr, nullptr, 0};
                const std::vector<uint8_t> image = IndexBytes(kMerged);
                bool done = merge ? s.Merge(0, &report) == kOrlixOk
                                  : FileReplace(s.target.c_str(), image.data(), image.size(), &status);
                int error = merge ? report.systemError : status.error;
                const char* action = merge ? report.action : status.action;
                _exit(done ? 0 : error == EACCES && strcmp(action, "cannot be written") == 0 ? 1 : 2);
            }
            EXPECT_EQ(Ended(child), t.replaced ? "exit 0" : "exit 1");
            struct stat st;
            ASSERT_EQ(stat(s.target.c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, t.owner);
            EXPECT_EQ(st.st_gid, t.owner);
            EXPECT_EQ(st.st_mode & 07777, t.mode);
            if (t.replaced) EXPECT_EQ(ReadRecords(s.target), kMerged);
            else EXPECT_EQ(ReadBytes(s.target), before);
            EXPECT_EQ(s.Leftovers(), std::vector<std::string>());
        }
    }
}

/* A report names a file by the caller's own path, however long. */
TEST(MergeReport, PathsAreWhole)
{
    Scene s;
    std::string deep = s.dir.Path("");
    while (deep.size() < 1500) {
        deep += std::string(200, 'd') + "/";
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    std::string source = deep + "s.idx", link = deep + "link.idx";
    ASSERT_EQ(mkdir(source.c_str(), 0700), 0);
    ASSERT_EQ(symlink("gone", link.c_str()), 0);
    const struct {
        const char* target;
        int32_t result;
        const char* path;
    } table[] = {
        {s.target.c_str(), kOrlixCannotRead, source.c_str()},
        {link.c_str(), kOrlixWriteFailed, link.c_str()},
    };
    for (const auto& t : table) {
        OrlixMergeReport report;
        EXPECT_EQ(Merge(t.target, {source.c_str()}, 0, &report), t.result);
        EXPECT_STREQ(report.path, t.path);
    }
}

/*
** What the sweep finds under a temporary's name: only a regular file no
** one holds, named as a temporary of this target, is removed; nothing is
** opened that could block, no link is followed.
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
        {"a name that is not a number", temp + "12x", false},
        {"the marker alone", temp, false},
        {"another file's temporary", s.dir.Path("other.idx.orlixdb-tmp.5"), false},
    };
    for (size_t n : {0, 1, 7, 8, 9}) WriteBytes(table[n].path, {1});
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
        {"source is a FIFO", [](const Scene& s) { remove(s.source.c_str()); mkfifo(s.source.c_str(), 0600); },
         kOrlixCannotRead, 1, "is a FIFO", 0, kIndexFine},
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

}  // namespace
