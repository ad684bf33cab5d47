/*
** Replacing a file for a job that holds it (file_lock.h): a temporary
** beside the target, written, flushed, renamed over the target, and the
** directory flushed.  Whatever happens and whenever the process or the
** power dies, the target holds either its old bytes or all of the new
** ones; once a replace has reported success, the new ones.
*/
#ifndef ORLIXDB_FILE_REPLACE_H
#define ORLIXDB_FILE_REPLACE_H

#include <stddef.h>
#include <stdint.h>

#include "file_lock.h"
#include "file_status.h"

/*
** A temporary being written for a job: FileTempPath of the target and the
** process id, new, beside the target, held exclusively while it is open,
** with the target's permission bits and group.  `job` names the target.
*/
struct FileTemp {
    char* path;
    const struct FileJob* job;
    intptr_t handle;
    bool failed;
};

bool FileTempCreate(const struct FileJob* job, struct FileTemp* temp, struct FileStatus* status);
bool FileTempWrite(struct FileTemp* temp, const void* data, size_t size, struct FileStatus* status);

/*
** Flush the temporary to the disk, rename it over the target and flush the
** directory entry.  On failure the temporary is removed and the target is
** as it was; the one failure after which the target already holds the new
** bytes is kFileDirectoryNotFlushed.  On Windows a rename refused because
** another program holds the target open is retried on the sharing
** retries' schedule; a reader that opened the target with
** FILE_SHARE_DELETE does not stop the rename where the system offers one
** that replaces an open file.  Always releases the temporary.
*/
bool FileTempCommit(struct FileTemp* temp, struct FileStatus* status);

/* Close and remove a temporary that will not be committed. */
void FileTempDiscard(struct FileTemp* temp);

/*
** Leave the target as it is, but durable: its data and its directory
** flushed, for a job whose result is what the target already holds (the
** job that wrote it may have died between its rename and its flush, and
** a success must not rest on that).  On Windows a target that refuses to
** be opened for writing has its directory flushed only.  A target that
** does not exist needs nothing.
*/
bool FileJobKeep(const struct FileJob* job, struct FileStatus* status);

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
** Remove the temporaries of `path` that no run is writing.  Only regular
** files are removed: a directory, FIFO, device, socket or symbolic link of
** a matching name is left alone, never opened, never followed.  A
** temporary a live writer holds is left alone too.  Called under the job
** lock, where no other run of this library can be creating a temporary of
** data; the ones in which lock files are made are held while they exist.
*/
void FileRemoveStaleTemps(const char* path);

#if !defined(_WIN32)
/* Remove `name` in directory `dir` when it is a regular file no one holds a lock on. */
bool FileRemoveIfStale(int dir, const char* name);
#endif

#endif
