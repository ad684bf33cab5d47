/*
** The library's way to the system's file calls.  Every call the file
** layer makes goes through the wrappers here, and EINTR and short
** transfers are dealt with once, in them: a read or write is retried
** until it is whole or fails with a real error.
**
** The clocks and the pause are here too: the waits for the lock and
** Windows' sharing retries are built on them.
*/
#ifndef ORLIXDB_FILE_SYSCALL_H
#define ORLIXDB_FILE_SYSCALL_H

#include <stddef.h>
#include <stdint.h>

uint64_t FileClockMs(); /* a monotonic clock */
uint64_t FileWallMs();  /* milliseconds since 1970, comparable between processes */
void FilePauseMs(uint32_t ms);

#if defined(_WIN32)
#include <windows.h>

/* All of data[0 .. size) read or written; 0, or the GetLastError() of the failure. */
DWORD FileReadAll(HANDLE file, void* data, size_t size);
DWORD FileWriteAll(HANDLE file, const void* data, size_t size);

/*
** Errors another program's open handle causes: it opened the file without
** sharing it (sharing violation), locked a range (lock violation), or holds
** it open while it is to be replaced or removed (access denied).  They pass
** when that program lets go.
*/
bool FileHeldByAnother(DWORD error);

/*
** Pause before the next attempt of an open or rename that another
** program's handle refused, when the sharing retries are not spent: nine
** attempts over about 2 s.  These are the sharing retries.
*/
bool FilePauseBeforeRetry(DWORD error, size_t* attempt);

/* Whether `path` names a directory. */
bool FileIsDirectory(const char* path);
#else
#include <sys/types.h>

/*
** All of data[0 .. size) read or written, at the file's position or at
** `at`; 0, or the errno of the failure (EIO for a file that ends early,
** but bytes past the end read at `at` are zeros).
*/
int FileReadAll(int fd, void* data, size_t size);
int FileWriteAll(int fd, const void* data, size_t size);
int FileReadAt(int fd, void* data, size_t size, off_t at);
int FileWriteAt(int fd, const void* data, size_t size, off_t at);

/* What a file that is not a regular one is, for a message. */
const char* FileNotRegularText(mode_t mode);
#endif

#endif
