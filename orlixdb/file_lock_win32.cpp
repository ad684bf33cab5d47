#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "file_lock_platform.h"
#include "fnv1a.h"
#include "file_syscall.h"

/*
** The queue state of a job: the lock file while held, the holder's record,
** and while the job waits its ticket counter block, its place (a mutex it
** owns), its ticket and the first ticket that may still be ahead of it.
*/
struct FileLockState {
    HANDLE lock;
    HANDLE record;
    HANDLE queue;
    HANDLE place;
    uint64_t ticket;
    uint64_t ahead;
};

char* FileResolveTarget(const char* path, struct FileStatus* status)
{
    char* target = _strdup(path);
    if (target == NULL) FileFailed(status, kFileOutOfMemory, path, ERROR_NOT_ENOUGH_MEMORY);
    return target;
}

/* Opens of a lock file denied with nothing there, before the directory is taken to refuse files. */
enum { kDeniedWhileAbsentTries = 8 };

/*
** The names of a target's shared objects: "Local\orlixdb-KIND-" and a
** hash of the target's full path, ASCII letters in capitals, so that
** every job on one file in this session meets the same objects.  False
** for a path too long to name; the job then goes without them.
*/
enum { kObjectNameSize = 80 };

static bool ObjectName(const char* target, const char* kind, char* name, size_t size)
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(target, sizeof full, full, NULL);
    if (length == 0 || length >= sizeof full) return false;
    uint64_t h = kFnv1aStart;
    for (DWORD i = 0; i < length; i++) {
        uint8_t c = (uint8_t)full[i];
        h = Fnv1aByte(h, c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    snprintf(name, size, "Local\\orlixdb-%s-%016llx", kind, (unsigned long long)h);
    return true;
}

bool FileQueuePlaceName(const char* target, uint64_t ticket, char* name, size_t size)
{
    if (!ObjectName(target, "queue", name, size)) return false;
    size_t used = strlen(name);
    snprintf(name + used, size - used, "-%llu", (unsigned long long)ticket);
    return true;
}

/*
** The holder's record: its process id and since when it holds the lock
** (FileWallMs), for the message of a job that waited in vain.  It lives
** in a named block of shared memory, not in the lock file, so that no
** waiting job ever holds the lock file open (no more than the message
** depends on it); the block goes with the last handle to it.
*/
enum { kRecordWords = 2 };

/* The holder writes its record; a failure only leaves it unnamed. */
static HANDLE WriteRecord(const char* target)
{
    char name[kObjectNameSize];
    if (!ObjectName(target, "lock", name, sizeof name)) return NULL;
    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                      kRecordWords * sizeof(uint64_t), name);
    if (block == NULL) return NULL;
    uint64_t* words = (uint64_t*)MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, 0);
    if (words != NULL) {
        words[0] = GetCurrentProcessId();
        words[1] = FileWallMs();
        UnmapViewOfFile(words);
    }
    return block;
}

static void ReadRecord(const char* target, struct FileLockHolder* holder)
{
    char name[kObjectNameSize];
    HANDLE block = ObjectName(target, "lock", name, sizeof name) ? OpenFileMappingA(FILE_MAP_READ, FALSE, name) : NULL;
    if (block == NULL) return;
    const uint64_t* words = (const uint64_t*)MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0);
    if (words != NULL) {
        *holder = FileLockHolder{(unsigned long)words[0], words[1], words[0] ^ words[1]};
        UnmapViewOfFile(words);
    }
    gFileCalls.CloseHandle(block);
}

/*
** The queue, so that waiting jobs try the lock file in the order they
** came.  A job takes the next ticket from a counter in a named block
** ("tickets") and, in the same step, creates and owns a mutex named by
** its ticket: its place.  Both happen under a guard mutex ("queue"), so a
** ticket whose place does not exist is one whose job has passed or died,
** never one about to appear.  A job tries the lock file only when no
** earlier place is still owned; it gives its place up once it holds the
** lock, or when it stops waiting.  Beside the counter, a ring of
** kQueueSlots slots keeps each ticket's process id and arrival, so that a
** job kept out by one ahead that does not take its turn can name it (a
** slot taken over by a ticket kQueueSlots later leaves it unnamed).
**
** Places are mutexes rather than process ids in the slots: Windows marks
** a mutex abandoned, and drops it with its last handle, when its owner
** dies, so a killed waiter leaves the queue by itself, with no process
** id to check against reuse and no half-written slot to wait on; the
** ring only names, and more waiters than slots cost a name, never a
** place.  A place is owned by the thread that waits and given up before
** FileJobBegin returns, as a mutex must be.  The counter block lasts
** while any job holds a ticket; when the queue empties, it goes and the
** count starts again at 0, and no place of the old count is left to be
** mistaken for a new one.
**
** The names are of this session (Local\): jobs of another session or
** user still exclude each other through the lock file, in no order.  A
** job that cannot join (the guard is not free within kJoinWaitMs, or an
** object cannot be made) tries the lock file as it is, and joins at its
** next attempt.
*/
static const DWORD kJoinWaitMs = 100;

/* The block: the next ticket, the first that may still wait, then the slots (ticket + 1, process id, arrival). */
enum { kQueueHead = 2, kQueueSlots = 64, kSlotWords = 3 };
static const DWORD kQueueBlockSize = (kQueueHead + kQueueSlots * kSlotWords) * sizeof(uint64_t);

static void LeaveQueue(struct FileJob* job)
{
    if (job->state->place != NULL) {
        ReleaseMutex(job->state->place);
        gFileCalls.CloseHandle(job->state->place);
    }
    if (job->state->queue != NULL) gFileCalls.CloseHandle(job->state->queue);
    job->state->place = job->state->queue = NULL;
}

/*
** The job holds the lock, so every ticket before its own is gone: a job
** that joins later starts its look there, not at 0.  Only the holder
** writes it, so it only grows.
*/
static void Passed(const struct FileJob* job)
{
    if (job->state->queue == NULL) return;
    uint64_t* words = (uint64_t*)MapViewOfFile(job->state->queue, FILE_MAP_WRITE, 0, 0, 0);
    if (words == NULL) return;
    if (words[1] < job->state->ticket) words[1] = job->state->ticket;
    UnmapViewOfFile(words);
}

/* The guard is held: the next ticket, and the job's place for it when it can be made. */
static void TakeTicket(struct FileJob* job)
{
    char name[kObjectNameSize];
    if (!ObjectName(job->target, "tickets", name, sizeof name)) return;
    HANDLE counter = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                        kQueueBlockSize, name);
    if (counter == NULL) return;
    uint64_t* words = (uint64_t*)MapViewOfFile(counter, FILE_MAP_WRITE, 0, 0, 0);
    if (words == NULL) {
        gFileCalls.CloseHandle(counter);
        return;
    }
    uint64_t ticket = words[0]++, *slot = words + kQueueHead + (ticket % kQueueSlots) * kSlotWords;
    slot[0] = ticket + 1;
    slot[1] = GetCurrentProcessId();
    slot[2] = FileWallMs();
    uint64_t ahead = words[1];
    UnmapViewOfFile(words);
    HANDLE place = FileQueuePlaceName(job->target, ticket, name, sizeof name)
                       ? CreateMutexA(NULL, TRUE, name)
                       : NULL;
    if (place != NULL && GetLastError() == ERROR_ALREADY_EXISTS) { /* not ours: not a place */
        gFileCalls.CloseHandle(place);
        place = NULL;
    }
    if (place == NULL) {
        gFileCalls.CloseHandle(counter);
        return;
    }
    job->state->queue = counter;
    job->state->place = place;
    job->state->ticket = ticket;
    job->state->ahead = ahead;
}

static bool JoinQueue(struct FileJob* job)
{
    char name[kObjectNameSize];
    HANDLE guard = ObjectName(job->target, "queue", name, sizeof name) ? CreateMutexA(NULL, FALSE, name) : NULL;
    if (guard == NULL) return false;
    DWORD waited = WaitForSingleObject(guard, kJoinWaitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) { /* abandoned: its ticket has no place */
        TakeTicket(job);
        ReleaseMutex(guard);
    }
    gFileCalls.CloseHandle(guard);
    return job->state->place != NULL;
}

/*
** Whether no job that took a ticket before this one still waits.  A place
** that can be taken at once was given up (its job holds the lock or
** stopped waiting) or abandoned (its job died); one that cannot is a
** job still waiting: the first such ticket is then job->state->ahead.  The
** tickets found gone stay gone, so the next look starts after them.
*/
static bool FirstInQueue(struct FileJob* job)
{
    char name[kObjectNameSize];
    for (; job->state->ahead < job->state->ticket; job->state->ahead++) {
        if (!FileQueuePlaceName(job->target, job->state->ahead, name, sizeof name)) return true;
        HANDLE place = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
        if (place == NULL) continue;
        DWORD waited = WaitForSingleObject(place, 0);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(place);
        gFileCalls.CloseHandle(place);
        if (waited == WAIT_TIMEOUT) return false;
    }
    return true;
}

/*
** Who keeps the job out when no one holds the lock: the job of ticket
** job->state->ahead, not taking its turn.  Its token differs from any holder's
** and from any other ticket's.
*/
static void NameAhead(const struct FileJob* job, struct FileLockHolder* holder)
{
    *holder = FileLockHolder{0, 0, ~job->state->ahead};
    const uint64_t* words = (const uint64_t*)MapViewOfFile(job->state->queue, FILE_MAP_READ, 0, 0, 0);
    if (words == NULL) return;
    const uint64_t* slot = words + kQueueHead + (job->state->ahead % kQueueSlots) * kSlotWords;
    if (slot[0] == job->state->ahead + 1) holder->pid = (unsigned long)slot[1], holder->sinceMs = slot[2];
    UnmapViewOfFile(words);
}

/*
** The lock is the lock file itself, open without sharing and deleted
** when closed: while a job holds it, another job's open fails with a
** sharing violation, and when the holder ends or dies, Windows closes the
** handle and the file goes.  The file is made with the directory's
** inherited security, so whoever may write there may take it.  Access
** denied is what an open meets while the file is being deleted, so it is
** waited on too, unless the file does not exist, which means the
** directory refuses new files: then no job can write there, and this one
** goes on without the lock.  A job with a later ticket than a waiting
** one does not try the file: it is busy, whoever holds the lock.
*/
enum FileLockTry FileLockAttempt(struct FileJob* job, struct FileLockHolder* holder,
                                 struct FileStatus* status)
{
    if (job->state == NULL) {
        job->state = (struct FileLockState*)malloc(sizeof *job->state);
        if (job->state == NULL)
            return FileFailed(status, kFileOutOfMemory, job->path, ERROR_NOT_ENOUGH_MEMORY), kFileLockFailed;
        *job->state = FileLockState{INVALID_HANDLE_VALUE, NULL, NULL, NULL, 0, 0};
    }
    if (job->state->place == NULL) JoinQueue(job);
    if (job->state->place != NULL && !FirstInQueue(job)) {
        ReadRecord(job->target, holder);
        if (holder->pid == 0) NameAhead(job, holder);
        return kFileLockBusy;
    }
    /*
    ** A lock file whose holder is closing it refuses opens (access denied)
    ** until its delete-on-close is done, and then it is gone: denied, then
    ** absent when looked at, is most often a holder letting go, not a
    ** directory that refuses new files.  Only a denial that lasts over
    ** several opens with nothing there is the directory's, and only then
    ** does the job go on without a lock; taking the first for the second
    ** would let two jobs write the target at once.
    */
    HANDLE lock;
    DWORD error, attributes;
    bool absent;
    for (int denied = 0;; denied++) {
        lock = gFileCalls.CreateFileA(job->lockPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, NULL);
        if (lock != INVALID_HANDLE_VALUE) break;
        error = GetLastError();
        attributes = gFileCalls.GetFileAttributesA(job->lockPath);
        DWORD lookup = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        absent = lookup == ERROR_FILE_NOT_FOUND || lookup == ERROR_PATH_NOT_FOUND;
        if (error != ERROR_ACCESS_DENIED || !absent || denied == kDeniedWhileAbsentTries) break;
        FilePauseMs(1);
    }
    if (lock != INVALID_HANDLE_VALUE) {
        job->state->lock = lock;
        job->state->record = WriteRecord(job->target);
        Passed(job);
        LeaveQueue(job);
        return kFileLockTaken;
    }
    enum FileLockTry tried = kFileLockBusy;
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_WRITE_PROTECT ||
        (error == ERROR_ACCESS_DENIED && absent))
        tried = kFileLockNone;
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        tried = kFileLockFailed, FileFailed(status, kFileLockNotRegular, job->path, 0);
    else if (!FileHeldByAnother(error))
        tried = kFileLockFailed, FileFailed(status, kFileLockUnusable, job->path, (int)error);
    else if (error == ERROR_ACCESS_DENIED)
        tried = kFileLockRefused, FileFailed(status, kFileLockUnusable, job->path, (int)error);
    if (tried == kFileLockNone || tried == kFileLockFailed) LeaveQueue(job);
    else ReadRecord(job->target, holder);
    return tried;
}

void FileJobEnd(struct FileJob* job)
{
    if (job->state != NULL) {
        LeaveQueue(job);
        if (job->state->record != NULL) gFileCalls.CloseHandle(job->state->record);
        if (job->state->lock != INVALID_HANDLE_VALUE) gFileCalls.CloseHandle(job->state->lock);
    }
    free(job->state);
    free(job->target);
    free(job->lockPath);
    *job = FileJob{NULL, NULL, NULL, false, NULL};
}
