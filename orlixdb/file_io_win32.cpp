#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "file_io.h"
#include "file_io_platform.h"

/* Largest single ReadFile/WriteFile request; the DWORD count would allow more. */
static const DWORD kChunk = 1u << 30;

/*
** FileRenameInfoEx of FILE_INFO_BY_HANDLE_CLASS: mingw-w64's header hides
** it behind a version test that never holds, so it is named here.
*/
static const FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = (FILE_INFO_BY_HANDLE_CLASS)22;

static bool Fail(struct FileStatus* status, const char* action, const char* path, DWORD error)
{
    if (status != NULL) *status = FileStatus{action, path, (int)error};
    return false;
}

const char* FileErrorText(int error, char* buffer, size_t size)
{
    if (size == 0) return buffer;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                             (DWORD)error, 0, buffer, (DWORD)size, NULL);
    while (n > 0 && strchr("\r\n. ", buffer[n - 1]) != NULL) buffer[--n] = 0;
    size_t used = n;
    if (n == 0) used = (size_t)snprintf(buffer, size, "system error");
    if (used < size) snprintf(buffer + used, size - used, " (error %d)", error);
    return buffer;
}

/*
** Errors another program's open handle causes: it opened the file without
** sharing it (sharing violation), locked a range (lock violation), or holds
** it open while it is to be replaced or removed (access denied).  They pass
** when that program lets go.
*/
static bool HeldByAnother(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

/* Opens of a lock file denied with nothing there, before the directory is taken to refuse files. */
enum { kDeniedWhileAbsentTries = 8 };

/* Pause before the next attempt, when `error` may pass and the sharing retries are not spent. */
static bool PauseBeforeRetry(DWORD error, size_t* attempt)
{
    return HeldByAnother(error) && FileShareRetryPause(attempt);
}

uint64_t FileClockMs() { return GetTickCount64(); }

/* FILETIME counts 100 ns from 1601; 11644473600 s lie between that and 1970. */
uint64_t FileWallMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return ticks / 10000 - 11644473600000ull;
}

void FilePauseMs(uint32_t ms) { Sleep(ms); }

char* FileResolveTarget(const char* path, struct FileStatus* status)
{
    char* target = _strdup(path);
    if (target == NULL) Fail(status, "out of memory", path, ERROR_NOT_ENOUGH_MEMORY);
    return target;
}

static bool IsDirectory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static DWORD ReadAll(HANDLE file, uint8_t* data, size_t size)
{
    while (size > 0) {
        DWORD want = size > kChunk ? kChunk : (DWORD)size, got = 0;
        if (!ReadFile(file, data, want, &got, NULL)) return GetLastError();
        if (got == 0) return ERROR_HANDLE_EOF; /* the file shrank under us */
        data += got;
        size -= got;
    }
    return 0;
}

static DWORD WriteAll(HANDLE file, const uint8_t* data, size_t size)
{
    while (size > 0) {
        DWORD want = size > kChunk ? kChunk : (DWORD)size, put = 0;
        if (!WriteFile(file, data, want, &put, NULL)) return GetLastError();
        if (put == 0) return ERROR_WRITE_FAULT;
        data += put;
        size -= put;
    }
    return 0;
}

/*
** Open `path` for reading, sharing it with other readers, and wait out a
** program that holds it without sharing.  A directory is refused at once
** (Windows answers access denied for it, which would otherwise be waited
** on).
*/
static HANDLE OpenForReading(const char* path, enum FileRead* result, struct FileStatus* status)
{
    size_t attempt = 0;
    for (;;) {
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            *result = kFileMissing;
            Fail(status, "cannot open", path, error);
        } else if (error == ERROR_ACCESS_DENIED && IsDirectory(path)) {
            *result = kFileReadFailed;
            Fail(status, "is a directory, not a file", path, 0);
        } else if (!PauseBeforeRetry(error, &attempt)) {
            *result = kFileReadFailed;
            Fail(status, "cannot open", path, error);
        } else {
            continue;
        }
        return INVALID_HANDLE_VALUE;
    }
}

enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size,
                            struct FileStatus* status)
{
    enum FileRead result = kFileReadOk;
    HANDLE file = OpenForReading(path, &result, status);
    if (file == INVALID_HANDLE_VALUE) return result;

    LARGE_INTEGER length;
    uint8_t* buffer = NULL;
    DWORD error = 0;
    if (GetFileType(file) != FILE_TYPE_DISK)
        result = kFileReadFailed, Fail(status, "is a device or pipe, not a file", path, 0);
    else if (!GetFileSizeEx(file, &length) || length.QuadPart < 0)
        result = kFileReadFailed, Fail(status, "cannot read", path, GetLastError());
    else if ((uint64_t)length.QuadPart > limit)
        result = kFileTooLarge, Fail(status, "is too large", path, ERROR_FILE_TOO_LARGE);
    else if ((buffer = (uint8_t*)malloc(length.QuadPart > 0 ? (size_t)length.QuadPart : 1)) == NULL)
        result = kFileNoMemory, Fail(status, "cannot be read whole", path, ERROR_NOT_ENOUGH_MEMORY);
    else if ((error = ReadAll(file, buffer, (size_t)length.QuadPart)) != 0)
        result = kFileReadFailed, Fail(status, "cannot read", path, error);
    CloseHandle(file);

    if (result != kFileReadOk) {
        free(buffer);
        return result;
    }
    *data = buffer;
    *size = (size_t)length.QuadPart;
    return kFileReadOk;
}

/*
** What the console handler needs to clean up after the current job: the
** temporary's handle, marked for deletion through it (no other open can
** reach it), unless the commit has begun.  The lock file needs nothing:
** it is deleted when the process's handles close.
*/
static CRITICAL_SECTION gCleanUp;
static volatile LONG gCleanUpInstalled; /* set once gCleanUp is ready */
static HANDLE gTempHandle = INVALID_HANDLE_VALUE;

static void SetCleanUpTemp(HANDLE file)
{
    if (!gCleanUpInstalled) return;
    EnterCriticalSection(&gCleanUp);
    gTempHandle = file;
    LeaveCriticalSection(&gCleanUp);
}

static BOOL WINAPI CleanUpAndExit(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    EnterCriticalSection(&gCleanUp); /* held to the end: no commit starts now */
    if (gTempHandle != INVALID_HANDLE_VALUE) {
        FILE_DISPOSITION_INFO gone = {TRUE};
        SetFileInformationByHandle(gTempHandle, FileDispositionInfo, &gone, sizeof gone);
    }
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

/* For a tool's main, before any job: called again, it does nothing. */
void FileJobsCleanUpOnSignals()
{
    if (gCleanUpInstalled) return;
    InitializeCriticalSection(&gCleanUp);
    InterlockedExchange(&gCleanUpInstalled, 1);
    SetConsoleCtrlHandler(CleanUpAndExit, TRUE);
}

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
    uint64_t h = 14695981039346656037ull;
    for (DWORD i = 0; i < length; i++) {
        uint8_t c = (uint8_t)full[i];
        h = (h ^ (c >= 'a' && c <= 'z' ? c - 32 : c)) * 1099511628211ull;
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
    CloseHandle(block);
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
    if (job->place != 0) {
        ReleaseMutex((HANDLE)job->place);
        CloseHandle((HANDLE)job->place);
    }
    if (job->queue != 0) CloseHandle((HANDLE)job->queue);
    job->place = job->queue = 0;
}

/*
** The job holds the lock, so every ticket before its own is gone: a job
** that joins later starts its look there, not at 0.  Only the holder
** writes it, so it only grows.
*/
static void Passed(const struct FileJob* job)
{
    if (job->queue == 0) return;
    uint64_t* words = (uint64_t*)MapViewOfFile((HANDLE)job->queue, FILE_MAP_WRITE, 0, 0, 0);
    if (words == NULL) return;
    if (words[1] < job->ticket) words[1] = job->ticket;
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
        CloseHandle(counter);
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
        CloseHandle(place);
        place = NULL;
    }
    if (place == NULL) {
        CloseHandle(counter);
        return;
    }
    job->queue = (intptr_t)counter;
    job->place = (intptr_t)place;
    job->ticket = ticket;
    job->ahead = ahead;
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
    CloseHandle(guard);
    return job->place != 0;
}

/*
** Whether no job that took a ticket before this one still waits.  A place
** that can be taken at once was given up (its job holds the lock or
** stopped waiting) or abandoned (its job died); one that cannot is a
** job still waiting: the first such ticket is then job->ahead.  The
** tickets found gone stay gone, so the next look starts after them.
*/
static bool FirstInQueue(struct FileJob* job)
{
    char name[kObjectNameSize];
    for (; job->ahead < job->ticket; job->ahead++) {
        if (!FileQueuePlaceName(job->target, job->ahead, name, sizeof name)) return true;
        HANDLE place = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
        if (place == NULL) continue;
        DWORD waited = WaitForSingleObject(place, 0);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(place);
        CloseHandle(place);
        if (waited == WAIT_TIMEOUT) return false;
    }
    return true;
}

/*
** Who keeps the job out when no one holds the lock: the job of ticket
** job->ahead, not taking its turn.  Its token differs from any holder's
** and from any other ticket's.
*/
static void NameAhead(const struct FileJob* job, struct FileLockHolder* holder)
{
    *holder = FileLockHolder{0, 0, ~job->ahead};
    const uint64_t* words = (const uint64_t*)MapViewOfFile((HANDLE)job->queue, FILE_MAP_READ, 0, 0, 0);
    if (words == NULL) return;
    const uint64_t* slot = words + kQueueHead + (job->ahead % kQueueSlots) * kSlotWords;
    if (slot[0] == job->ahead + 1) holder->pid = (unsigned long)slot[1], holder->sinceMs = slot[2];
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
    if (job->place == 0) JoinQueue(job);
    if (job->place != 0 && !FirstInQueue(job)) {
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
        lock = CreateFileA(job->lockPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, NULL);
        if (lock != INVALID_HANDLE_VALUE) break;
        error = GetLastError();
        attributes = GetFileAttributesA(job->lockPath);
        DWORD lookup = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        absent = lookup == ERROR_FILE_NOT_FOUND || lookup == ERROR_PATH_NOT_FOUND;
        if (error != ERROR_ACCESS_DENIED || !absent || denied == kDeniedWhileAbsentTries) break;
        FilePauseMs(1);
    }
    if (lock != INVALID_HANDLE_VALUE) {
        job->lock = (intptr_t)lock;
        job->record = (intptr_t)WriteRecord(job->target);
        Passed(job);
        LeaveQueue(job);
        return kFileLockTaken;
    }
    enum FileLockTry tried = kFileLockBusy;
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_WRITE_PROTECT ||
        (error == ERROR_ACCESS_DENIED && absent))
        tried = kFileLockNone;
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        tried = kFileLockFailed, Fail(status, "has a lock file that is not a regular file", job->target, 0);
    else if (!HeldByAnother(error))
        tried = kFileLockFailed, Fail(status, "cannot open or lock its lock file", job->target, error);
    else if (error == ERROR_ACCESS_DENIED)
        tried = kFileLockRefused, Fail(status, "cannot open or lock its lock file", job->target, error);
    if (tried == kFileLockNone || tried == kFileLockFailed) LeaveQueue(job);
    else ReadRecord(job->target, holder);
    return tried;
}

void FileJobEnd(struct FileJob* job)
{
    LeaveQueue(job);
    if (job->record != 0) CloseHandle((HANDLE)job->record);
    if (job->lock != (intptr_t)INVALID_HANDLE_VALUE) CloseHandle((HANDLE)job->lock);
    free(job->target);
    free(job->lockPath);
    *job = FileJob{NULL, NULL, (intptr_t)INVALID_HANDLE_VALUE, 0, 0, false, 0, 0, 0};
}

/*
** This process's temporary: new, shared with nobody while it is open (so
** no scanner or indexer can open it between its writing and its rename),
** and opened with DELETE access so that it is renamed and, on failure,
** removed through this same handle.
*/
bool FileTempCreate(const struct FileJob* job, struct FileTemp* temp, struct FileStatus* status)
{
    *temp = FileTemp{FileTempPath(job->target, (unsigned long)GetCurrentProcessId()), job->target,
                     (intptr_t)INVALID_HANDLE_VALUE, false};
    if (temp->path == NULL) return Fail(status, "out of memory", job->target, ERROR_NOT_ENOUGH_MEMORY);
    if (IsDirectory(job->target)) {
        free(temp->path);
        temp->path = NULL;
        return Fail(status, "is a directory, not a file", job->target, 0);
    }
    HANDLE file = CreateFileA(temp->path, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(status, "cannot create its temporary", job->target, GetLastError());
        free(temp->path);
        temp->path = NULL;
        return false;
    }
    temp->handle = (intptr_t)file;
    SetCleanUpTemp(file);
    return true;
}

bool FileTempWrite(struct FileTemp* temp, const void* data, size_t size, struct FileStatus* status)
{
    if (temp->failed) return false;
    DWORD error = WriteAll((HANDLE)temp->handle, (const uint8_t*)data, size);
    if (error == 0) return true;
    temp->failed = true;
    return Fail(status, "cannot write its temporary", temp->target, error);
}

/*
** The target's full name as the native rename wants it, "\??\C:\dir\name"
** (a bare name would be taken relative to the current directory by some
** systems), in a FILE_RENAME_INFO of `size` bytes; free() it.
*/
static FILE_RENAME_INFO* RenameInfoFor(const char* target, DWORD* size)
{
    WCHAR wide[MAX_PATH], full[MAX_PATH + 8];
    if (MultiByteToWideChar(CP_ACP, 0, target, -1, wide, MAX_PATH) == 0) return NULL;
    DWORD length = GetFullPathNameW(wide, MAX_PATH, full + 4, NULL);
    if (length == 0 || length >= MAX_PATH) return NULL;
    WCHAR* name = full + 4;
    if (wcsncmp(name, L"\\\\?\\", 4) == 0) { /* \\?\C:\... */
        name[1] = L'?';
    } else if (wcsncmp(name, L"\\\\", 2) == 0) { /* \\server\share: \??\UNC\server\share */
        name = full;
        memmove(name + 8, full + 6, (length - 1) * sizeof *name);
        memcpy(name, L"\\??\\UNC\\", 8 * sizeof *name);
        length += 6;
    } else {
        name = full;
        memcpy(name, L"\\??\\", 4 * sizeof *name);
        length += 4;
    }
    *size = (DWORD)(sizeof(FILE_RENAME_INFO) + length * sizeof(WCHAR));
    FILE_RENAME_INFO* info = (FILE_RENAME_INFO*)calloc(1, *size);
    if (info == NULL) return NULL;
    info->FileNameLength = length * sizeof(WCHAR);
    memcpy(info->FileName, name, (length + 1) * sizeof(WCHAR));
    return info;
}

/*
** Rename the open temporary over the target.  First the rename that also
** replaces a target other programs hold open with FILE_SHARE_DELETE (their
** handle keeps the old file; the name moves to the new one in one step);
** where the system lacks it, the classic rename, which waits for every
** handle on the target to close.  Both replace the name atomically; the
** target is never missing.
*/
static DWORD RenameOver(HANDLE file, FILE_RENAME_INFO* info, DWORD size)
{
    size_t attempt = 0;
    bool posixRename = true;
    for (;;) {
        BOOL renamed = FALSE;
        DWORD error = 0;
        if (posixRename) {
            info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
            renamed = SetFileInformationByHandle(file, kFileRenameInfoEx, info, size);
            error = renamed ? 0 : GetLastError();
            posixRename = renamed || HeldByAnother(error);
        }
        if (!posixRename) {
            info->Flags = 0;
            info->ReplaceIfExists = TRUE;
            renamed = SetFileInformationByHandle(file, FileRenameInfo, info, size);
            error = renamed ? 0 : GetLastError();
        }
        if (renamed) return 0;
        if (!PauseBeforeRetry(error, &attempt)) return error;
    }
}

bool FileTempCommit(struct FileTemp* temp, struct FileStatus* status)
{
    if (temp->failed) return FileTempDiscard(temp), false;
    HANDLE file = (HANDLE)temp->handle;
    if (!FlushFileBuffers(file)) {
        Fail(status, "cannot flush its temporary to the disk", temp->target, GetLastError());
        return FileTempDiscard(temp), false;
    }
    SetCleanUpTemp(INVALID_HANDLE_VALUE); /* from here its handle may be the target's */
    DWORD size = 0;
    FILE_RENAME_INFO* info = RenameInfoFor(temp->target, &size);
    DWORD error = info != NULL ? RenameOver(file, info, size) : ERROR_FILENAME_EXCED_RANGE;
    free(info);
    if (error != 0) {
        Fail(status, "cannot be replaced by its temporary", temp->target, error);
        return FileTempDiscard(temp), false;
    }
    /* The rename is in the file system's journal; this pushes it, with the file's metadata, to the disk. */
    bool flushed = FlushFileBuffers(file);
    error = flushed ? 0 : GetLastError();
    CloseHandle(file);
    free(temp->path);
    *temp = FileTemp{NULL, temp->target, (intptr_t)INVALID_HANDLE_VALUE, false};
    return flushed || Fail(status, kFileDirectoryNotFlushed, temp->target, error);
}

/* Marked for deletion through its own handle, so it goes on the close. */
void FileTempDiscard(struct FileTemp* temp)
{
    SetCleanUpTemp(INVALID_HANDLE_VALUE);
    if (temp->handle != (intptr_t)INVALID_HANDLE_VALUE) {
        FILE_DISPOSITION_INFO gone = {TRUE};
        bool marked = SetFileInformationByHandle((HANDLE)temp->handle, FileDispositionInfo, &gone,
                                                 sizeof gone);
        CloseHandle((HANDLE)temp->handle);
        if (!marked) DeleteFileA(temp->path);
    }
    free(temp->path);
    *temp = FileTemp{NULL, temp->target, (intptr_t)INVALID_HANDLE_VALUE, false};
}

/* The directory of `path` with its separator, then `name`; free() it. */
static char* SiblingPath(const char* path, const char* name)
{
    size_t dir = (size_t)(FileBaseName(path) - path), length = strlen(name);
    char* sibling = (char*)malloc(dir + length + 1);
    if (sibling == NULL) return NULL;
    memcpy(sibling, path, dir);
    memcpy(sibling + dir, name, length + 1);
    return sibling;
}

/*
** A temporary still being written is open without sharing, so DeleteFileA
** fails on it; only the ones whose writer is gone are removed.  Directories
** and reparse points (links, junctions) are left alone.
*/
void FileRemoveStaleTemps(const char* path)
{
    char* pattern = FileTempPath(path, 0);
    if (pattern == NULL) return;
    pattern[strlen(pattern) - 1] = '*';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    free(pattern);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!FileIsTempOf(found.cFileName, FileBaseName(path))) continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        char* temp = SiblingPath(path, found.cFileName);
        if (temp != NULL) DeleteFileA(temp);
        free(temp);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
