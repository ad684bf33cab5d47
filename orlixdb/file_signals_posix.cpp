#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "file_lock_platform.h"
#include "file_signals.h"

/*
** What a signal handler needs to clean up after the current job, in
** static storage: the temporary's path, and the lock file's path and
** descriptor once the job holds it.  `armed` is set only after the path
** is whole, so a handler never reads one half written.
*/
enum { kCleanUpPathMax = 4352 };
struct CleanUpEntry {
    volatile sig_atomic_t armed;
    int fd;
    char path[kCleanUpPathMax];
};
static struct CleanUpEntry gTempEntry, gLockEntry;
static volatile sig_atomic_t gCleanUpInstalled;

static void Arm(struct CleanUpEntry* entry, const char* path, intptr_t handle)
{
    entry->armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (!gCleanUpInstalled || path == nullptr) return;
    size_t length = strlen(path);
    if (length >= sizeof entry->path) return; /* the next job's sweep will do */
    memcpy(entry->path, path, length + 1);
    entry->fd = (int)handle;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    entry->armed = 1;
}

void FileCleanUpTemp(const char* path, intptr_t handle) { Arm(&gTempEntry, path, handle); }

void FileCleanUpLock(const char* lockPath, intptr_t handle) { Arm(&gLockEntry, lockPath, handle); }

/*
** The handlers run with the signal blocked: after the clean-up, the
** default disposition and a raise end the process by that signal as soon
** as the handler returns.  Only async-signal-safe calls.
*/
static void CleanUpAndDie(int signal)
{
    if (gTempEntry.armed) unlink(gTempEntry.path);
    if (gLockEntry.armed) FileLockLeave(gLockEntry.fd, gLockEntry.path);
    struct sigaction deflt;
    memset(&deflt, 0, sizeof deflt);
    deflt.sa_handler = SIG_DFL;
    sigemptyset(&deflt.sa_mask);
    sigaction(signal, &deflt, nullptr);
    raise(signal);
}

void FileJobsCleanUpOnSignals()
{
    static const int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
    gCleanUpInstalled = 1;
    struct sigaction action, old;
    memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    action.sa_handler = CleanUpAndDie;
    for (int s : kSignals)
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(s, &action, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}
