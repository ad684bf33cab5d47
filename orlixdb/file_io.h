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
** ones: the bytes go to a temporary file next to it (FileTempPath), are
** flushed to the disk, and the temporary is renamed over `path`; the
** directory entry is then flushed too.  On failure the temporary is
** removed.  Returns false on failure; the single failure after which
** `path` already holds the new bytes is a failed flush of the directory.
**
** Each process writes a temporary of its own, held exclusively while it is
** written, so two runs on the same target never write into one file: the
** last complete rename wins and the target is never a mixture.
*/
bool FileReplace(const char* path, const uint8_t* data, size_t size);

/*
** The temporary for `path` of the process numbered `id`: `path`, then
** kFileTempMarker, then `id` in decimal; in a new buffer (free() it), or
** null without memory.  The fixed pattern lets a later run recognise what
** a killed run left behind.
*/
char* FileTempPath(const char* path, unsigned long id);

extern const char kFileTempMarker[];

/* Whether directory entry `name` is a temporary of a file named `base`. */
bool FileIsTempOf(const char* name, const char* base);

/* The part of `path` after its last separator ('/', and '\\' on Windows). */
const char* FileBaseName(const char* path);

/*
** Remove the temporaries of `path` whose writer is gone: the ones no live
** process holds.  A temporary still being written is left alone.
*/
void FileRemoveStaleTemps(const char* path);

#endif
