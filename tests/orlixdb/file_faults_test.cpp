/*
** The file layer's system calls failing, in-process: a merge and a
** build-style replace run with each call of the library's call table
** failing in turn, and a merge's calls replayed to every point at which
** the power could fail.
*/
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <set>

#include "collation/compare_headwords.h"
#include "index_fixture.h"
#include "orlixdb/file_io.h"
#include "orlixdb/file_syscall.h"
#include "orlixdb/orlixdb.h"

namespace {

/* What the calls of one run do: fail call number `fail` (from 0) with `error`, or shorten it. */
struct Plan {
    int fail = -1;
    int error = 0;    /* 0: a short transfer, half of what was asked */
    std::vector<std::string> names; /* every call, in order */
    std::vector<std::vector<long>> args; /* the fd or result, for the power-cut model */
    std::vector<std::string> paths;
};
Plan* gPlan;

/* Whether this call fails; records it either way. */
bool Fails(const char* name, const char* path = "")
{
    gPlan->names.push_back(name);
    gPlan->args.push_back({});
    gPlan->paths.push_back(path);
    if ((int)gPlan->names.size() - 1 != gPlan->fail || gPlan->error == 0) return false;
    errno = gPlan->error;
    return true;
}
/* The size this transfer asks for: half, when it is the one to shorten. */
size_t Shortened(size_t n)
{
    return (int)gPlan->names.size() - 1 == gPlan->fail && gPlan->error == 0 && n > 1 ? n / 2 : n;
}
void Note(long value) { gPlan->args.back().push_back(value); }

const FileCalls& Real() { return kFileCallsDefault; }

/* A recording, failing twin of a call that needs no more than its name noted. */
#define PLAIN(call) c.call = [](auto... a) { return Fails(#call) ? -1 : Real().call(a...); }

/* The library's table pointed at recording, failing twins of the real calls. */
struct Faulty {
    explicit Faulty(Plan* plan)
    {
        gPlan = plan;
        FileCalls& c = gFileCalls;
        PLAIN(fstat), PLAIN(link), PLAIN(fchmod), PLAIN(fchown), PLAIN(fcntl), PLAIN(flock), PLAIN(faccessat);
        c.fstatat = [](int d, const char* p, struct stat* st, int f) {
            return Fails("fstatat", p) ? -1 : Real().fstatat(d, p, st, f);
        };
        c.unlinkat = [](int d, const char* p, int f) { return Fails("unlinkat", p) ? -1 : Real().unlinkat(d, p, f); };
        c.close = [](int fd) { return Real().close(fd) != 0 || Fails("close") ? -1 : 0; };
        c.openat = [](int d, const char* p, int f, mode_t m) {
            if (Fails("openat", p)) return -1;
            int fd = Real().openat(d, p, f, m);
            return Note(fd), Note(f & O_DIRECTORY), fd;
        };
        c.fsync = [](int fd) { return Fails("fsync") ? -1 : (Note(fd), Real().fsync(fd)); };
        c.rename = [](const char* a, const char* b) {
            if (Fails("rename", a)) return -1;
            return gPlan->paths.back() += std::string(" ") + b, Real().rename(a, b);
        };
        c.read = [](int fd, void* b, size_t n) { return Fails("read") ? -1 : Real().read(fd, b, Shortened(n)); };
        c.write = [](int fd, const void* b, size_t n) {
            return Fails("write") ? -1 : (Note(fd), Real().write(fd, b, Shortened(n)));
        };
        c.pread = [](int fd, void* b, size_t n, off_t at) {
            return Fails("pread") ? -1 : Real().pread(fd, b, Shortened(n), at);
        };
        c.pwrite = [](int fd, const void* b, size_t n, off_t at) {
            return Fails("pwrite") ? -1 : Real().pwrite(fd, b, Shortened(n), at);
        };
    }
    ~Faulty() { gFileCalls = kFileCallsDefault; }
};

/* A target with old records and a source with new ones; the job is a merge or a replace. */
struct Scene {
    TempDir dir;
    std::string target = dir.Path("t.idx"), source = dir.Path("s.idx");
    std::vector<uint8_t> old = IndexBytes({{"old", 1}}), merged = IndexBytes({{"new", 2}, {"old", 1}});
    Scene(bool unchanged = false)
    {
        WriteBytes(target, unchanged ? merged : old);
        WriteBytes(source, IndexBytes({{"new", 2}}));
    }
    int32_t Merge(OrlixMergeReport* report = nullptr) const
    {
        return ::Merge(target.c_str(), {source.c_str()}, 0, report);
    }
    bool Replace(FileStatus* status) const { return FileReplace(target.c_str(), merged.data(), merged.size(), status); }
};

const std::vector<std::string> kOnlyInputs = {"s.idx", "t.idx"};

/* The calls one clean run of `job` makes. */
std::vector<std::string> CallsOf(bool replace)
{
    Scene s;
    Plan plan;
    {
        Faulty faulty(&plan);
        if (replace) s.Replace(nullptr);
        else s.Merge();
    }
    return plan.names;
}

/*
** Every call failing in turn, with every error: the result is what the
** target shows (success: the new index; failure: the old one, or the new
** one only when the failure says the target was replaced), an
** interrupted call is taken up again, nothing is left beside the target
** (but what a failed removal itself could not remove), and the next job
** succeeds.
*/
TEST(FileFaults, EachCallFailingInTurn)
{
    const int kErrors[] = {EIO, ENOSPC, EDQUOT, EINTR, 0 /* short */};
    int cases = 0;
    for (bool replace : {false, true}) {
        std::vector<std::string> calls = CallsOf(replace);
        ASSERT_GT(calls.size(), 10u);
        for (size_t n = 0; n < calls.size(); n++) {
            for (int error : kErrors) {
                bool transfer = calls[n] == "read" || calls[n] == "write" || calls[n] == "pread" ||
                                calls[n] == "pwrite";
                if (error == 0 && !transfer) continue;
                cases++;
                SCOPED_TRACE((replace ? "replace, call " : "merge, call ") + std::to_string(n) + " " +
                             calls[n] + ": " + (error ? strerror(error) : "short"));
                Scene s;
                Plan plan;
                plan.fail = (int)n, plan.error = error;
                OrlixMergeReport report;
                FileStatus status = {nullptr, nullptr, 0};
                bool ok, replaced;
                {
                    Faulty faulty(&plan);
                    ok = replace ? s.Replace(&status) : s.Merge(&report) == kOrlixOk;
                }
                const char* action = replace ? status.action : report.action;
                replaced = replace ? action == kFileDirectoryNotFlushed : report.targetReplaced;
                EXPECT_TRUE(ok || (error != EINTR && error != 0)) << action;
                EXPECT_EQ(ReadBytes(s.target), ok || replaced ? s.merged : s.old) << action;
                const char* named = replace ? status.path : report.path;
                EXPECT_TRUE(ok || named == s.target.c_str() || named == s.source.c_str()) << action;
                bool removal = calls[n] == "unlinkat" || calls[n] == "fcntl"; /* may leave the lock file */
                EXPECT_TRUE(removal || s.dir.Entries() == kOnlyInputs);
                EXPECT_EQ(s.Merge(), kOrlixOk) << "the next job";
                EXPECT_EQ(ReadBytes(s.target), s.merged);
                EXPECT_EQ(s.dir.Entries(), kOnlyInputs);
            }
        }
    }
    printf("%d cases\n", cases);
}

/*
** The power fails after any call of a merge: the file system keeps a
** file's data only once it was flushed after its last write, and a
** directory's entries (creations, renames, removals) only once the
** directory was flushed.  The target found after the cut is the old
** index or the whole new one, never a file whose data was lost, and the
** new one from the moment the job reported success.  The unchanged case
** starts from a target a killed job renamed into place and never
** flushed: its success too must leave it on the disk.
*/
TEST(FileFaults, EveryPowerCutLeavesOldOrNew)
{
    for (bool unchanged : {false, true}) {
        SCOPED_TRACE(unchanged ? "unchanged merge" : "merge");
        Scene s(unchanged);
        Plan plan;
        {
            Faulty faulty(&plan);
            ASSERT_EQ(s.Merge(), kOrlixOk);
        }
        /* Files by number: 0 the target as found, 1 what was there before it. */
        std::map<std::string, int> names = {{"t.idx", 0}}, kept = {{"t.idx", unchanged ? 1 : 0}};
        std::map<int, int> open;    /* fd -> file, -1 for a directory */
        std::set<int> unflushed;    /* files written since their last flush */
        if (unchanged) unflushed.insert(0);
        int files = 2;
        auto base = [](const std::string& p) { return p.substr(p.rfind('/') + 1); };
        auto target = [&] { return kept.count("t.idx") ? kept["t.idx"] : -2; };
        for (size_t n = 0; n <= plan.names.size(); n++) {
            int found = target();
            bool whole = found >= 0 && !unflushed.count(found);
            EXPECT_TRUE(whole) << "cut after call " << n << ": the target's data is lost";
            if (n == plan.names.size()) {
                EXPECT_EQ(found, unchanged ? 0 : files - 1) << "success reported, the old index found";
                break;
            }
            const std::string& call = plan.names[n];
            const std::vector<long>& a = plan.args[n];
            std::string path = base(plan.paths[n].substr(0, plan.paths[n].find(' ')));
            if (call == "openat" && a[0] >= 0) {
                if (a[1]) open[(int)a[0]] = -1;
                else if (names.count(path)) open[(int)a[0]] = names[path];
                else open[(int)a[0]] = names[path] = files++;
            } else if (call == "write" && open.count((int)a[0])) {
                unflushed.insert(open[(int)a[0]]);
            } else if (call == "fsync" && open.count((int)a[0])) {
                if (open[(int)a[0]] == -1) kept = names;
                else unflushed.erase(open[(int)a[0]]);
            } else if (call == "rename") {
                names[base(plan.paths[n].substr(plan.paths[n].find(' ') + 1))] = names[path];
                names.erase(path);
            } else if (call == "unlinkat") {
                names.erase(path);
            }
        }
    }
}

} // namespace
