/*
** Clean-up when a tool is stopped by a signal (Ctrl+C on Windows): the
** current job's temporary goes, and so does its lock file when no other
** job waits for it.  The library keeps track of one job at a time.
*/
#ifndef ORLIXDB_FILE_SIGNALS_H
#define ORLIXDB_FILE_SIGNALS_H

#include <stdint.h>

/*
** For a tool's main, before anything else: SIGTERM, SIGHUP and SIGINT
** (each only where it is not ignored already) remove the current job's
** temporary and, when no other job waits for it, its lock file, and then
** end the process by the same signal; SIGXFSZ is ignored, so that a file
** size limit fails the write (EFBIG) and the job reports it instead of
** dying with its debris.  On Windows, Ctrl+C, Ctrl+Break and closing the
** console do the same.  The library never changes a signal's disposition
** unless a tool calls this.
*/
void FileJobsCleanUpOnSignals();

/*
** What the handlers clean up, set by the file layer: the temporary being
** written (its path and handle) and the lock file held (POSIX only:
** Windows deletes it with its handle).  A null path forgets it.
*/
void FileCleanUpTemp(const char* path, intptr_t handle);
void FileCleanUpLock(const char* lockPath, intptr_t handle);

#endif
