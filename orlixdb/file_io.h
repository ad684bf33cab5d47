/*
** The library's only contact with the file system: read a file whole,
** replace a file atomically, and clear what a killed run left behind.
** file_io_posix.cpp and file_io_win32.cpp give the same guarantees.
*/
#ifndef ORLIXDB_FILE_IO_H
#define ORLIXDB_FILE_IO_H

#include <stddef.h>
#include <stdint.h>

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
*/
enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size);

/*
** Put data[0 .. size) in place of `path` so that, whatever happens and
** whenever the process dies, `path` holds either its old bytes or the new
** ones: the bytes go to the temporary file next to it (FileTempPath), are
** flushed to the disk, and the temporary is renamed over `path`; the
** directory entry is then flushed too.  On failure the temporary is
** removed.  Returns false on failure; the single failure after which
** `path` already holds the new bytes is a failed flush of the directory.
*/
bool FileReplace(const char* path, const uint8_t* data, size_t size);

/*
** The temporary file FileReplace uses for `path`: `path` followed by
** kFileTempSuffix, in a new buffer (free() it), or null without memory.
** The name is fixed, so a run that was killed while writing leaves a file
** the next run can recognise and remove.
*/
char* FileTempPath(const char* path);

extern const char kFileTempSuffix[];

/* Remove a temporary left by an earlier run on `path`, if there is one. */
void FileRemoveStaleTemp(const char* path);

#endif
