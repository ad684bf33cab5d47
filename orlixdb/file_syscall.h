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

/*
** Every system call the file layer makes on a file, one pointer each: a
** test may point any of them elsewhere to fail a call or record it, and
** restore kFileCallsDefault after.  Shipped programs never change it.
*/
struct FileCalls {
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* FlushFileBuffers)(HANDLE);
    BOOL(WINAPI* SetFileInformationByHandle)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    BOOL(WINAPI* GetFileSizeEx)(HANDLE, PLARGE_INTEGER);
    DWORD(WINAPI* GetFileType)(HANDLE);
    DWORD(WINAPI* GetFileAttributesA)(LPCSTR);
    BOOL(WINAPI* DeleteFileA)(LPCSTR);
};
extern struct FileCalls gFileCalls;
extern const struct FileCalls kFileCallsDefault;

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
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

/*
** Every system call the file layer makes on a file, one pointer each, as
** the library's one way to the system: a test may point any of them
** elsewhere to fail a call or record it, and restore kFileCallsDefault
** after.  Shipped programs never change it.  Names lacking here (the
** directory listing of the stale sweep, realpath, the signal handlers'
** unlink) are only read or only tidy up.
*/
struct FileCalls {
    int (*openat)(int dir, const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* data, size_t size);
    ssize_t (*write)(int fd, const void* data, size_t size);
    ssize_t (*pread)(int fd, void* data, size_t size, off_t at);
    ssize_t (*pwrite)(int fd, const void* data, size_t size, off_t at);
    int (*fstat)(int fd, struct stat* st);
    int (*fstatat)(int dir, const char* path, struct stat* st, int flags);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
    int (*unlinkat)(int dir, const char* path, int flags);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*fcntl)(int fd, int command, struct flock* lock);
    int (*flock)(int fd, int operation);
    int (*faccessat)(int dir, const char* path, int mode, int flags);
};
extern struct FileCalls gFileCalls;
extern const struct FileCalls kFileCallsDefault;

/*
** A call of the table, retried while it is interrupted (EINTR): the one
** place where an interrupted call is taken up again.  close is called
** directly through the table, never retried: a descriptor may be gone
** after an interrupted close.
*/
template <typename R, typename... P, typename... A>
static inline R FileRetried(R (*call)(P...), A... args)
{
    R result;
    while ((result = call(args...)) < 0 && errno == EINTR) {
    }
    return result;
}
#define SYS(name, ...) FileRetried(gFileCalls.name, __VA_ARGS__)

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
