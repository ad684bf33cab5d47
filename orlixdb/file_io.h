/*
** The library's only contact with the file system: read a file whole, hold
** a target for one job, replace it atomically and durably, and clear what
** a killed run left behind.  file_io_posix.cpp and file_io_win32.cpp give
** the same guarantees; docs/reliability.md states them with their tests.
**
** A job on a target runs like this:
**
**     FileJobBegin    take the target's lock (waiting a bounded time), and
**                     remove the temporaries of killed runs
**     FileReadWhole   read the target and whatever else the job needs
**     FileJobReplace  write a temporary, flush it, rename it over the target,
**                     flush the directory (or FileTempCreate, FileTempWrite
**                     and FileTempCommit, for output made in pieces)
**     FileJobEnd      release the lock
**
** Jobs on one target queue on its lock, so each reads what the previous one
** wrote and no job's work is lost.  On Windows, a file that another program
** holds open (a reader, a backup agent, a virus scanner) is waited out for
** a bounded time: the sharing retries below.
*/
#ifndef ORLIXDB_FILE_IO_H
#define ORLIXDB_FILE_IO_H

#include <stddef.h>
#include <stdint.h>

/*
** What went wrong with a file, for a message: the step that failed, the
** file it concerned and the system's own error code (errno; GetLastError()
** on Windows), 0 when the system reported none.  `action` and `path` are
** null while all is well; `path` points into the caller's or the job's
** strings and lives as long as they do.
*/
struct FileStatus {
    const char* action;
    const char* path;
    int error;
};

/*
** The action of the one failure after which the target already holds the
** new bytes: the rename happened, the flush of its directory failed.
*/
extern const char kFileDirectoryNotFlushed[];

/* The system's text for an error code of FileStatus, in buffer. */
const char* FileErrorText(int error, char* buffer, size_t size);

enum FileRead {
    kFileReadOk = 0,
    kFileMissing,    /* no such file, or no such directory */
    kFileReadFailed, /* exists but could not be opened or read, or is no file */
    kFileTooLarge,   /* larger than `limit` */
    kFileNoMemory
};

/*
** Read the whole of `path` into a new buffer of *size bytes (free() it).
** Files larger than `limit` are refused before any buffer is allocated.
** Anything but a regular file (a FIFO, a device, a directory) is refused
** at once, never waited on.  On Windows, a file another program holds
** without sharing is retried on the sharing retries' schedule.
*/
enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size,
                            struct FileStatus* status = nullptr);

/*
** The wait bound that stands for the default one: a caller passing it
** waits as file_io_common.cpp says (kLockWaitDefaultMs there, or the
** ORLIX_LOCK_WAIT_MS environment variable).  Any other value is a bound
** in milliseconds.  The bound is the time one holder may keep the lock
** with no progress: a queue moving at any pace is waited on.
*/
enum : uint32_t { kFileLockWaitMs = 0xFFFFFFFFu };

/*
** Windows only: an open or a rename that another program's handle refuses
** (sharing violation, lock violation, access denied) is tried again on the
** schedule of kShareRetryPauses in file_io_common.cpp, then the step
** fails.  These are the sharing retries.
*/

/*
** A target held for one job.  `target` is the file the job works on: the
** path as given or, when it names a symbolic link, the file the link
** leads to, so that the link stays a link and the file it names is what
** gets replaced.  `locked` is false only where no lock file can be
** created beside the target (a read-only or missing directory): there no
** run can write either, so the job goes on and can at most read.
*/
struct FileJob {
    char* target;
    char* lockPath;
    intptr_t lock;     /* the lock file, open while the job waits or holds it */
    uint64_t ticket;   /* POSIX: the job's place in the lock file's queue */
    intptr_t record;   /* Windows: the holder's record, a named shared memory block */
    bool locked;
    intptr_t queue;    /* Windows, while the job waits in the queue: its ticket counter block */
    intptr_t place;    /* Windows: the job's place in the queue, a mutex it owns */
    uint64_t ahead;    /* Windows: the first ticket that may still be ahead of the job's */
};

enum FileJobStart {
    kFileJobStarted = 0,
    kFileJobBusy,   /* one holder kept the lock for all of waitMs; the status names it */
    kFileJobFailed  /* the target or its lock file is unusable; see the status */
};

/*
** Start a job on `path`: resolve a link, take the target's lock (the file
** FileLockPath names), waiting for the jobs ahead, and then remove the
** temporaries that killed runs left.  The job fails with kFileJobBusy only
** when one holder kept the lock for all of waitMs without letting go;
** while the lock changes hands the job waits on.  On anything but
** kFileJobStarted the job holds nothing and needs no FileJobEnd.
**
** On POSIX the lock file is a queue: each job takes a ticket in it and
** jobs are served in the order of their tickets; their places are
** byte-range locks of the open file description, so they die with their
** holder and a killed job never blocks the next one.  On Windows the lock
** is the lock file open without sharing.  Either way the lock file can
** be opened by whoever may write the target, whatever the creator's
** umask, and the last job out removes it.  A child made by fork shares
** the lock it finds held; one started by exec does not.
*/
enum FileJobStart FileJobBegin(const char* path, uint32_t waitMs, struct FileJob* job,
                               struct FileStatus* status);

/* Release the lock and everything FileJobBegin allocated. */
void FileJobEnd(struct FileJob* job);

/*
** A temporary being written for a job: FileTempPath of the target and the
** process id, new, beside the target, held exclusively while it is open,
** with the target's permission bits and group.
*/
struct FileTemp {
    char* path;
    const char* target;
    intptr_t handle;
    bool failed;
};

bool FileTempCreate(const struct FileJob* job, struct FileTemp* temp, struct FileStatus* status);
bool FileTempWrite(struct FileTemp* temp, const void* data, size_t size, struct FileStatus* status);

/*
** Flush the temporary to the disk, rename it over the target and flush the
** directory entry.  Whatever happens and whenever the process dies, the
** target holds either its old bytes or all of the new ones.  On failure
** the temporary is removed and the target is as it was; the one failure
** after which the target already holds the new bytes is a failed flush of
** the directory.  On Windows a rename refused because another program
** holds the target open is retried on the sharing retries' schedule; a
** reader that opened the target with FILE_SHARE_DELETE does not stop the
** rename where the system offers one that replaces an open file.
** Always releases the temporary.
*/
bool FileTempCommit(struct FileTemp* temp, struct FileStatus* status);

/* Close and remove a temporary that will not be committed. */
void FileTempDiscard(struct FileTemp* temp);

/* FileTempCreate, FileTempWrite of data[0 .. size), FileTempCommit. */
bool FileJobReplace(const struct FileJob* job, const uint8_t* data, size_t size,
                    struct FileStatus* status);

/*
** A whole job that puts data[0 .. size) in place of `path`: FileJobBegin
** with kFileLockWaitMs, FileJobReplace, FileJobEnd.
*/
bool FileReplace(const char* path, const uint8_t* data, size_t size,
                 struct FileStatus* status = nullptr);

/*
** The temporary for `path` of the process numbered `id`: `path`, then
** kFileTempMarker, then `id` in decimal; in a new buffer (free() it), or
** null without memory.  The fixed pattern lets a later run recognise what
** a killed run left behind.  A base name too long to take the suffix
** within the file system's 255 bytes is shortened first: its first bytes,
** '~' and a hash of the whole name.
*/
char* FileTempPath(const char* path, unsigned long id);

extern const char kFileTempMarker[];

/* The job lock of `path`: `path` (shortened as above) then kFileLockSuffix; free() it. */
char* FileLockPath(const char* path);

extern const char kFileLockSuffix[];

/* Whether directory entry `name` is a temporary of a file named `base`. */
bool FileIsTempOf(const char* name, const char* base);

/* The part of `path` after its last separator ('/', and '\\' on Windows). */
const char* FileBaseName(const char* path);

/*
** Remove the temporaries of `path` that no run is writing.  Only regular
** files are removed: a directory, FIFO, device, socket or symbolic link of
** a matching name is left alone, never opened, never followed.  A
** temporary a live writer holds is left alone too.  Called under the job
** lock, where no other run of this library can be creating a temporary of
** data; the ones in which lock files are made are held while they exist.
*/
void FileRemoveStaleTemps(const char* path);

/*
** For a tool's main, before anything else: SIGTERM, SIGHUP and SIGINT
** (each only where it is not ignored already) remove the current job's
** temporary and, when no other job waits for it, its lock file, and then
** end the process by the same signal; SIGXFSZ is ignored, so that a file
** size limit fails the write (EFBIG) and the job reports it instead of
** dying with its debris.  On Windows, Ctrl+C, Ctrl+Break and closing the
** console do the same.  The library never changes a signal's disposition
** unless a tool calls this; it keeps track of one job at a time.
*/
void FileJobsCleanUpOnSignals();

#endif
